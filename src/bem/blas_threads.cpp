#include "bem/blas_threads.hpp"

#include "bem/lapack.hpp"

namespace qbr {

namespace {

std::mutex& blasMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

BlasThreads::BlasThreads(int threads) {
  if (threads <= 0) return;
  before_ = openblas_get_num_threads();
  if (threads != before_) openblas_set_num_threads(threads);
}

BlasThreads::~BlasThreads() {
  if (before_ > 0 && openblas_get_num_threads() != before_) openblas_set_num_threads(before_);
}

BlasSession::BlasSession(int threads) : lock_(blasMutex()), threads_(threads) {}

}  // namespace qbr
