#pragma once

#include <array>
#include <cstdint>

#include "model/problem_model.hpp"

namespace qbr {

// Numbering of the unknowns of the BEM system, 1..nd, the same for rows and columns:
// two per grid node, element after element and node after node, then one per
// conductor (conductor 0 only when it has elements).
class Unknowns {
 public:
  Unknowns() = default;
  // Reads the final grid counts of every element; call after the grids are built.
  explicit Unknowns(const ProblemModel& model) {
    std::int32_t offset = 0;
    for (std::int32_t e = 0; e < model.elementCount; ++e) {
      offsets_[static_cast<std::size_t>(e)] = offset;
      offset += 2 * model.elements[static_cast<std::size_t>(e)].gridCount;
    }
    nd0_ = offset;
    returnShift_ = model.hasReturnConductor() ? 1 : 0;
    conductorCount_ = model.conductorCount;
  }

  // Node i (1..n) of element e (from 0): the field unknown (u times Jacobian), whose
  // row is the node's exterior equation.
  std::int32_t nodeFirst(std::int32_t e, std::int32_t i) const { return offset(e) + 2 * i - 1; }
  // The normal-derivative unknown (q times Jacobian), whose row is the interior equation.
  std::int32_t nodeSecond(std::int32_t e, std::int32_t i) const { return offset(e) + 2 * i; }
  // Potential constant and current row of conductor c (0..N; 0 only with a return).
  std::int32_t conductor(std::int32_t c) const { return nd0_ + returnShift_ + c; }

  std::int32_t nd0() const { return nd0_; }
  std::int32_t nd() const { return nd0_ + conductorCount_ + returnShift_; }
  bool hasReturnConductor() const { return returnShift_ == 1; }
  std::int32_t conductorCount() const { return conductorCount_; }

 private:
  std::int32_t offset(std::int32_t e) const { return offsets_[static_cast<std::size_t>(e)]; }

  std::array<std::int32_t, kMaxElements> offsets_{};
  std::int32_t nd0_ = 0;
  std::int32_t returnShift_ = 0;
  std::int32_t conductorCount_ = 0;
};

}  // namespace qbr
