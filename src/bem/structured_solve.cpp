#include "bem/structured_solve.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <stdexcept>
#include <vector>

#include "base/console_progress.hpp"
#include "base/fatal_stop.hpp"
#include "bem/bem_fill.hpp"
#include "bem/blas_threads.hpp"
#include "bem/lapack.hpp"
#include "bem/lu.hpp"
#include "bem/solution.hpp"

namespace qbr {

namespace {

using Clock = std::chrono::steady_clock;

// Row nodes per panel of the exterior rows against the other conductors: the panel's
// products with X are matrix products of this many rows, near the speed of large ones,
// and its buffer of Q entries is this many rows of S.
constexpr int kPanelNodes = 256;

// One conductor's unknowns: its nodes, where their U stand among the unknowns of S, and
// X = P^-1 [I_U | e], whose last column is the response to a unit current.
struct ConductorBlock {
  int conductor = 0;
  std::vector<int> nodes;   // row nodes, ascending
  std::int64_t offset = 0;  // index of the first node's U in S, from 0
  ComplexMatrix X;
  int size() const { return static_cast<int>(nodes.size()); }
  // The first unknown (U) of the block's node j, from 0; its Q is the next.
  std::int64_t firstUnknown(int j) const {
    return 2 * static_cast<std::int64_t>(nodes[static_cast<std::size_t>(j)]) + 1;
  }
};

// C := alpha A B + beta C for column-major blocks with leading dimensions.
void multiply(int m, int n, int k, Complex alpha, const Complex* a, std::int64_t lda,
              const Complex* b, std::int64_t ldb, Complex beta, Complex* c, std::int64_t ldc) {
  if (m == 0 || n == 0) return;
  const int la = static_cast<int>(lda);
  const int lb = static_cast<int>(ldb);
  const int lc = static_cast<int>(ldc);
  if (k == 0) {
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < m; ++i) c[j * static_cast<std::ptrdiff_t>(lc) + i] *= beta;
    return;
  }
  zgemm_("N", "N", &m, &n, &k, &alpha, a, &la, b, &lb, &beta, c, &lc, 1, 1);
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class StructuredSolve {
 public:
  StructuredSolve(const ProblemModel& model, const Unknowns& unknowns,
                  const ProgressCallback& progress, int threads)
      : model_(model),
        unknowns_(unknowns),
        progress_(progress),
        rows_(model, unknowns, progress, threads) {
    const int nodes = rows_.nodeCount();
    local_.resize(static_cast<std::size_t>(nodes));
    for (int c = unknowns.hasReturnConductor() ? 0 : 1; c <= model.conductorCount; ++c) {
      blocks_.push_back({});
      blocks_.back().conductor = c;
    }
    for (int g = 0; g < nodes; ++g) {
      ConductorBlock& block = blockOf(rows_.conductorOf(g));
      local_[static_cast<std::size_t>(g)] = block.size();
      block.nodes.push_back(g);
    }
    std::int64_t offset = 0;
    for (ConductorBlock& block : blocks_) {
      block.offset = offset;
      offset += block.size();
      for (int g : block.nodes) schurNodes_.push_back(g);
    }
    size_ = offset;
  }

  ConductorMatrix run(ComplexMatrix& solutions, StructuredTimes* times) {
    const Clock::time_point start = Clock::now();
    S_ = ComplexMatrix(size_, size_);
    G_ = ComplexMatrix(size_, kMaxConductorNumber + 1);
    for (ConductorBlock& block : blocks_) eliminateInterior(block);
    panel_ = ComplexMatrix(kPanelNodes, size_);
    for (const ConductorBlock& block : blocks_) fillAgainstOtherConductors(block);
    panel_.release();
    rows_.finish();

    const ComplexMatrix U = solveSchurSystem();
    recover(U, solutions);
    if (times != nullptr) {
      times->fill = fillSeconds_;
      times->factorisation = secondsSince(start) - fillSeconds_;
    }
    return conductorMatrixFromSolutions(model_, unknowns_, solutions);
  }

 private:
  ConductorBlock& blockOf(int conductor) {
    for (ConductorBlock& block : blocks_)
      if (block.conductor == conductor) return block;
    throw std::logic_error("solveStructured: a node of a conductor without unknowns");
  }

  void timedFill(const std::vector<int>& nodes, ColumnSet columns,
                 const std::function<void(const RowGroup&)>& sink) {
    const Clock::time_point start = Clock::now();
    rows_.fill(nodes, columns, sink);
    fillSeconds_ += secondsSince(start);
  }

  // The conductor's rows against its own unknowns: the exterior rows' U part into S, their
  // Q part kept until X is known; the interior rows and the current row make P and I_U.
  // Then P is factorised, X = P^-1 [I_U | e] formed, and S's diagonal block and the
  // right-hand side's part of it completed.
  void eliminateInterior(ConductorBlock& block) {
    const int n = block.size();
    ComplexMatrix P(n + 1, n + 1);
    ComplexMatrix EQ(n, n);
    block.X = ComplexMatrix(n + 1, n + 1);
    ComplexMatrix& X = block.X;
    const std::int64_t offset = block.offset;
    const std::int64_t constant = unknowns_.conductor(block.conductor);
    timedFill(block.nodes, ColumnSet::kOwnConductor, [&](const RowGroup& group) {
      // The nodes of a group are consecutive in the block.
      const std::int64_t l0 = local_[static_cast<std::size_t>(group.nodes[0])];
      for (int j = 0; j < n; ++j) {
        const std::int64_t u = block.firstUnknown(j);
        for (int k = 0; k < group.count; ++k) {
          S_(offset + l0 + k + 1, offset + j + 1) = group.at(k, 0, u);
          EQ(l0 + k + 1, j + 1) = group.at(k, 0, u + 1);
          X(l0 + k + 1, j + 1) = group.at(k, 1, u);
          P(l0 + k + 1, j + 1) = group.at(k, 1, u + 1);
        }
      }
      for (int k = 0; k < group.count; ++k) P(l0 + k + 1, n + 1) = group.at(k, 1, constant);
    });
    for (int j = 0; j < n; ++j)
      P(n + 1, j + 1) = rows_.currentWeight(block.nodes[static_cast<std::size_t>(j)]);
    X(n + 1, n + 1) = Complex(1.0, 0.0);

    std::vector<int> pivots;
    luFactor(P, pivots, ProgressCallback{}, kLuPanelWidth, [&](std::int64_t j) {
      return j <= n ? block.firstUnknown(static_cast<int>(j - 1)) + 1 : constant;
    });
    luSolve(P, pivots, X);
    P.release();
    if (n == 0) return;
    // S_cc -= E_Q X_Q; the right-hand side's part: E_Q times the response to a current.
    multiply(n, n, n, Complex(-1.0, 0.0), EQ.data(), n, X.data(), n + 1, Complex(1.0, 0.0),
             &S_(offset + 1, offset + 1), size_);
    multiply(n, 1, n, Complex(1.0, 0.0), EQ.data(), n, &X(1, n + 1), n + 1, Complex(0.0, 0.0),
             &G_(offset + 1, block.conductor + 1), size_);
  }

  // The exterior rows of the block's nodes against every other conductor, a panel of rows
  // at a time: U entries into S, Q entries into the panel, then S -= panel X_Q and the
  // right-hand side's part, conductor by conductor.
  void fillAgainstOtherConductors(const ConductorBlock& block) {
    for (int first = 0; first < block.size(); first += kPanelNodes) {
      const int count = std::min(kPanelNodes, block.size() - first);
      const std::vector<int> nodes(block.nodes.begin() + first,
                                   block.nodes.begin() + first + count);
      const std::int64_t row0 = block.offset + first;
      timedFill(nodes, ColumnSet::kOtherConductors, [&](const RowGroup& group) {
        const std::int64_t r0 = local_[static_cast<std::size_t>(group.nodes[0])] - first;
        for (const ConductorBlock& other : blocks_) {
          if (&other == &block) continue;
          for (int j = 0; j < other.size(); ++j) {
            const std::int64_t u = other.firstUnknown(j);
            const std::int64_t column = other.offset + j + 1;
            for (int k = 0; k < group.count; ++k) {
              S_(row0 + r0 + k + 1, column) = group.at(k, 0, u);
              panel_(r0 + k + 1, column) = group.at(k, 0, u + 1);
            }
          }
        }
      });
      for (const ConductorBlock& other : blocks_) {
        if (&other == &block || other.size() == 0) continue;
        const int n = other.size();
        const Complex* q = &panel_(1, other.offset + 1);
        multiply(count, n, n, Complex(-1.0, 0.0), q, kPanelNodes, other.X.data(), n + 1,
                 Complex(1.0, 0.0), &S_(row0 + 1, other.offset + 1), size_);
        multiply(count, 1, n, Complex(1.0, 0.0), q, kPanelNodes, &other.X(1, n + 1), n + 1,
                 Complex(1.0, 0.0), &G_(row0 + 1, other.conductor + 1), size_);
      }
    }
  }

  // Current in conductor d for a unit current in reported conductor c.
  Complex current(int d, int c) const {
    if (d == c) return Complex(1.0, 0.0);
    if (d == 0 && unknowns_.hasReturnConductor()) return Complex(-1.0, 0.0);
    return Complex{};
  }

  // S U = -(E_Q times the responses to the currents), factorised with the factorisation's
  // progress: nd - 1 steps in proportion to the work done, (size - done)^3 left.
  ComplexMatrix solveSchurSystem() {
    const int count = model_.conductorCount;
    ComplexMatrix R(size_, count);
    for (int c = 1; c <= count; ++c)
      for (const ConductorBlock& block : blocks_) {
        const Complex i = current(block.conductor, c);
        if (i == Complex{}) continue;
        for (std::int64_t r = 1; r <= size_; ++r) R(r, c) -= i * G_(r, block.conductor + 1);
      }
    G_.release();

    const std::int64_t steps = unknowns_.nd() - 1;
    const bool spin = progress_ && steps > 0;
    if (spin)
      sendProgress(progress_, Progress::Phase::kFactorisation, Progress::Stage::kBegin, 0, steps);
    const ProgressCallback& outer = progress_;
    const ProgressCallback inner = [&outer, steps, spin](const Progress& p) {
      if (!spin || p.stage != Progress::Stage::kAdvance || p.total <= 0) return;
      const double left = 1.0 - static_cast<double>(p.done) / static_cast<double>(p.total);
      const auto done = static_cast<std::int64_t>(
          std::floor(static_cast<double>(steps) * (1.0 - left * left * left)));
      sendProgress(outer, Progress::Phase::kFactorisation, Progress::Stage::kAdvance,
                   std::min(done, steps), steps);
    };
    std::vector<int> pivots;
    luFactor(S_, pivots, inner, kLuPanelWidth, [this](std::int64_t j) {
      return 2 * static_cast<std::int64_t>(schurNodes_[static_cast<std::size_t>(j - 1)]) + 1;
    });
    luSolve(S_, pivots, R);
    S_.release();
    if (spin) {
      sendProgress(progress_, Progress::Phase::kFactorisation, Progress::Stage::kAdvance, steps,
                   steps);
      sendProgress(progress_, Progress::Phase::kFactorisation, Progress::Stage::kEnd, steps, steps);
    }
    return R;
  }

  // [Q; C] = -X_U U + X_e I per conductor, into the full solution's numbering.
  void recover(const ComplexMatrix& U, ComplexMatrix& solutions) const {
    const int count = model_.conductorCount;
    solutions = ComplexMatrix(unknowns_.nd(), count);
    for (const ConductorBlock& block : blocks_) {
      const int n = block.size();
      ComplexMatrix T(n + 1, count);
      multiply(n + 1, count, n, Complex(-1.0, 0.0), block.X.data(), n + 1, &U(block.offset + 1, 1),
               size_, Complex(0.0, 0.0), T.data(), n + 1);
      for (int c = 1; c <= count; ++c) {
        const Complex i = current(block.conductor, c);
        for (int r = 1; r <= n + 1; ++r) T(r, c) += block.X(r, n + 1) * i;
        for (int j = 0; j < n; ++j) {
          const std::int64_t u = block.firstUnknown(j);
          solutions(u, c) = U(block.offset + j + 1, c);
          solutions(u + 1, c) = T(j + 1, c);
        }
        solutions(unknowns_.conductor(block.conductor), c) = T(n + 1, c);
      }
    }
  }

  const ProblemModel& model_;
  const Unknowns& unknowns_;
  const ProgressCallback& progress_;
  SystemRows rows_;
  std::vector<ConductorBlock> blocks_;
  std::vector<int> local_;       // node's index within its conductor
  std::vector<int> schurNodes_;  // node of each unknown of S
  std::int64_t size_ = 0;
  ComplexMatrix S_;      // the Schur complement, then its factors
  ComplexMatrix G_;      // E_Q times each conductor's response to a unit current
  ComplexMatrix panel_;  // Q entries of a panel of exterior rows
  double fillSeconds_ = 0.0;
};

}  // namespace

ConductorMatrix solveStructured(const ProblemModel& model, const Unknowns& unknowns,
                                ComplexMatrix& solutions, const ProgressCallback& progress,
                                int threads, StructuredTimes* times) {
  const BlasSession blas(threads);
  try {
    StructuredSolve solve(model, unknowns, progress, threads);
    return solve.run(solutions, times);
  } catch (const std::bad_alloc&) {
    fatalStop("\nmain arrays are not allocated\n");
  }
}

}  // namespace qbr
