#pragma once

#include <mutex>

namespace qbr {

// OpenBLAS has one thread count for the whole process, and its results depend on it in
// the last bits (the work is split into tiles of other shapes). The LU sets it around
// its panels; so that solves in several threads give the bits each gives alone, one
// factorisation and solution holds the BLAS at a time (BlasSession), while fills run
// side by side. Two factorisations at once would only share the same cores.

// Sets the thread count for as long as it lives, then restores the count it found
// (threads <= 0: leaves it as it is).
class BlasThreads {
 public:
  explicit BlasThreads(int threads);
  ~BlasThreads();
  BlasThreads(const BlasThreads&) = delete;
  BlasThreads& operator=(const BlasThreads&) = delete;

 private:
  int before_ = 0;
};

// The BLAS for one factorisation and solution: waits for any other to end, then holds
// the thread count at `threads` (<= 0: as it is) until it ends.
class BlasSession {
 public:
  explicit BlasSession(int threads);

 private:
  std::unique_lock<std::mutex> lock_;
  BlasThreads threads_;
};

}  // namespace qbr
