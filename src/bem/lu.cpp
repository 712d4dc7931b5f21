#include "bem/lu.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "base/console_progress.hpp"
#include "base/fatal_stop.hpp"
#include "bem/blas_threads.hpp"
#include "bem/lapack.hpp"

namespace qbr {

namespace {

[[noreturn]] void stopSingular(std::int64_t column) {
  fatalStop("\nThe BEM system is singular (zero pivot in column " + std::to_string(column) +
            ");\n");
}

void report(const ProgressCallback& progress, Progress::Stage stage, std::int64_t done,
            std::int64_t total) {
  sendProgress(progress, Progress::Phase::kFactorisation, stage, done, total);
}

}  // namespace

void luFactor(ComplexMatrix& A, std::vector<int>& pivots, std::ostream& console) {
  luFactor(A, pivots, consoleSpinner(console), kLuPanelWidth);
}

void luFactor(ComplexMatrix& A, std::vector<int>& pivots, std::ostream& console, int panelWidth) {
  luFactor(A, pivots, consoleSpinner(console), panelWidth);
}

// Right-looking blocked LU: each panel of columns is factorised by LAPACK on its full
// height, its row exchanges are carried to the columns on both sides, and the trailing
// matrix gets one rank-nb update through zgemm, where nearly all the time goes.
void luFactor(ComplexMatrix& A, std::vector<int>& pivots, const ProgressCallback& progress,
              int panelWidth) {
  luFactor(A, pivots, progress, panelWidth, [](std::int64_t j) { return j; });
}

void luFactor(ComplexMatrix& A, std::vector<int>& pivots, const ProgressCallback& progress,
              int panelWidth, const ColumnNumbers& columnNumbers) {
  if (A.rows() != A.cols()) throw std::invalid_argument("luFactor: matrix is not square");
  const int n = static_cast<int>(A.rows());
  pivots.assign(static_cast<std::size_t>(n), 0);
  if (n == 0) return;
  if (n == 1) {
    pivots[0] = 1;
    if (A(1, 1) == Complex(0.0, 0.0)) stopSingular(columnNumbers(1));
    return;
  }
  const int nb = std::max(1, panelWidth);
  const int lda = n;
  const int one = 1;
  const Complex unit(1.0, 0.0);
  const Complex minusUnit(-1.0, 0.0);

  report(progress, Progress::Stage::kBegin, 0, n - 1);
  for (int j = 0; j < n; j += nb) {
    const int jb = std::min(nb, n - j);
    const int height = n - j;
    int info = 0;
    {
      // The tall narrow panel is a chain of small dependent steps: with two threads each
      // step pays a synchronisation, which costs 20% of the whole factorisation when
      // another process holds one of the cores, and gains nothing when the machine is idle.
      const BlasThreads oneThread(1);
      zgetrf_(&height, &jb, &A(j + 1, j + 1), &lda, pivots.data() + j, &info);
    }
    if (info > 0) stopSingular(columnNumbers(static_cast<std::int64_t>(j) + info));
    for (int i = j; i < j + jb; ++i) pivots[static_cast<std::size_t>(i)] += j;

    const int k1 = j + 1;
    const int k2 = j + jb;
    if (j > 0) zlaswp_(&j, A.data(), &lda, &k1, &k2, pivots.data(), &one);
    const int rest = n - j - jb;
    if (rest > 0) {
      zlaswp_(&rest, &A(1, j + jb + 1), &lda, &k1, &k2, pivots.data(), &one);
      ztrsm_("L", "L", "N", "U", &jb, &rest, &unit, &A(j + 1, j + 1), &lda, &A(j + 1, j + jb + 1),
             &lda, 1, 1, 1, 1);
      zgemm_("N", "N", &rest, &rest, &jb, &minusUnit, &A(j + jb + 1, j + 1), &lda,
             &A(j + 1, j + jb + 1), &lda, &unit, &A(j + jb + 1, j + jb + 1), &lda, 1, 1);
    }
    report(progress, Progress::Stage::kAdvance, std::min(j + jb, n - 1), n - 1);
  }
  report(progress, Progress::Stage::kEnd, n - 1, n - 1);
}

void luSolve(const ComplexMatrix& A, const std::vector<int>& pivots, ComplexMatrix& b) {
  const int n = static_cast<int>(A.rows());
  if (b.rows() != n || pivots.size() != static_cast<std::size_t>(n)) {
    throw std::invalid_argument("luSolve: sizes of the factors and right-hand sides differ");
  }
  const int nrhs = static_cast<int>(b.cols());
  if (n == 0 || nrhs == 0) return;
  int info = 0;
  zgetrs_("N", &n, &nrhs, A.data(), &n, pivots.data(), b.data(), &n, &info, 1);
  if (info != 0) throw std::logic_error("luSolve: zgetrs rejected its arguments");
}

}  // namespace qbr
