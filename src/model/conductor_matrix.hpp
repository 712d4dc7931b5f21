#pragma once

#include <array>

#include "model/constants.hpp"

namespace qbr {

// Per-unit-length matrix of the reported conductors 1..N: inductance in pH/um, or
// impedance R + jX in ohm/m times 1e6. Entry (r, c) belongs to the potential of
// conductor r for a unit current in conductor c.
class ConductorMatrix {
 public:
  ConductorMatrix() = default;
  explicit ConductorMatrix(int n) : n_(n) {}
  int size() const { return n_; }
  Complex& operator()(int r, int c) { return entries_[index(r, c)]; }
  const Complex& operator()(int r, int c) const { return entries_[index(r, c)]; }

 private:
  static std::size_t index(int r, int c) {
    return static_cast<std::size_t>((r - 1) * kMaxConductorNumber + (c - 1));
  }
  int n_ = 0;
  std::array<Complex, kMaxConductorNumber * kMaxConductorNumber> entries_{};
};

}  // namespace qbr
