#pragma once

namespace qbr {

// OpenBLAS has one thread count for the whole process. Every part of a solve that wants
// fewer threads (a panel of the LU on one thread, a solve limited by its options) holds
// one of these for as long as it runs; the count in force is the smallest limit held by
// any thread, and the count found before the first limit comes back when the last one
// ends. So solves in several threads never leave the pool at a stale count, and a
// limit set by one of them can only lower another's, never raise it.
class BlasThreadLimit {
 public:
  explicit BlasThreadLimit(int limit);  // limit <= 0: none
  ~BlasThreadLimit();
  BlasThreadLimit(const BlasThreadLimit&) = delete;
  BlasThreadLimit& operator=(const BlasThreadLimit&) = delete;

 private:
  int limit_;
};

}  // namespace qbr
