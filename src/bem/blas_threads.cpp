#include "bem/blas_threads.hpp"

#include <algorithm>
#include <mutex>
#include <set>

#include "bem/lapack.hpp"

namespace qbr {

namespace {

struct Governor {
  std::mutex mutex;
  std::multiset<int> limits;
  int before = 0;  // the count found when the first limit began
  int inForce = 0;
};

Governor& governor() {
  static Governor instance;
  return instance;
}

void apply(Governor& g) {
  const int wanted = g.limits.empty() ? g.before : std::min(g.before, *g.limits.begin());
  if (wanted != g.inForce) {
    openblas_set_num_threads(wanted);
    g.inForce = wanted;
  }
}

}  // namespace

BlasThreadLimit::BlasThreadLimit(int limit) : limit_(limit) {
  if (limit_ <= 0) return;
  Governor& g = governor();
  const std::lock_guard<std::mutex> lock(g.mutex);
  if (g.limits.empty()) {
    g.before = openblas_get_num_threads();
    g.inForce = g.before;
  }
  g.limits.insert(limit_);
  apply(g);
}

BlasThreadLimit::~BlasThreadLimit() {
  if (limit_ <= 0) return;
  Governor& g = governor();
  const std::lock_guard<std::mutex> lock(g.mutex);
  g.limits.erase(g.limits.find(limit_));
  apply(g);
}

}  // namespace qbr
