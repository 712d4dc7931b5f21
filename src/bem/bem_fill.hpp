#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "model/problem_model.hpp"
#include "prep/complex_matrix.hpp"
#include "prep/unknowns.hpp"
#include "qbr/progress.hpp"

namespace qbr {

// Assembles the BEM system for the prepared model with its grids: for every grid node an
// exterior (Laplace) row and an interior (Helmholtz) row, then one current row per
// conductor. A is set to nd x nd (reallocated only when its size differs) and every entry
// is written. Progress goes to `console` ("Filling BEM matrix:  ", one spinner step per
// row element, column element and row node, "\b  done;\n").
//
// Each entry is the node integral of its kernel, evaluated with the Gauss points of every
// element sampled once and each kernel value shared by the two nodes whose shape functions
// overlap at that point; rows are filled in parallel. The result does not depend on the
// number of threads, bit for bit.
void fillBemMatrix(const ProblemModel& model, const Unknowns& unknowns, ComplexMatrix& A,
                   std::ostream& console);

// The same with the progress as events (the console version is consoleSpinner's) on
// `threads` threads (0: OpenMP's default).
void fillBemMatrix(const ProblemModel& model, const Unknowns& unknowns, ComplexMatrix& A,
                   const ProgressCallback& progress, int threads);

// The rows of the system for solvers that place them themselves (the structured solve):
// row node g (from 0, in the order of the unknowns) has the unknowns 2g + 1 (its exterior
// row) and 2g + 2 (its interior row).
enum class ColumnSet {
  kAll,
  kOwnConductor,     // the column elements of the row node's own conductor, and its
                     // conductor column
  kOtherConductors,  // the column elements of every other conductor (exterior rows only:
                     // the interior rows see nothing there)
};

// The rows of a group of row nodes as the fill leaves them: the exterior and interior rows
// of nodes[k] against every unknown, of which only the columns of the pass are written.
struct RowGroup {
  const int* nodes;
  int count;
  const Complex* data;
  std::size_t ld;
  // row 0: exterior, 1: interior; column: an unknown, 1..nd.
  const Complex& at(int k, int row, std::int64_t column) const {
    return data[static_cast<std::size_t>(column - 1) * ld + 2 * static_cast<std::size_t>(k) +
                static_cast<std::size_t>(row)];
  }
};

class SystemRows {
 public:
  // Sends the fill's begin event; the fills below advance it, one step per row node and
  // column element, and finish() ends it.
  SystemRows(const ProblemModel& model, const Unknowns& unknowns, const ProgressCallback& progress,
             int threads);
  ~SystemRows();
  SystemRows(const SystemRows&) = delete;
  SystemRows& operator=(const SystemRows&) = delete;

  int nodeCount() const;
  int conductorOf(int node) const;
  // The node's entry in its conductor's current row: the integral of its shape function.
  Complex currentWeight(int node) const;

  // Fills the rows of `nodes` against the column elements of `columns`, in groups on the
  // fill's threads, and hands each group to `sink` on the thread that filled it (groups
  // hold disjoint nodes). Every entry is the one fillBemMatrix writes, bit for bit.
  void fill(const std::vector<int>& nodes, ColumnSet columns,
            const std::function<void(const RowGroup&)>& sink);
  void finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qbr
