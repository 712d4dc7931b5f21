// qbr-bench: times the long phases of the program on generated models of growing size
// (fast fill on one and on all threads, literal fill, blocked LU against a bare zgetrf,
// solve, peak memory), the phases of a given input file, and our LU against zgetrf
// alone. Every measured row runs in a child process of its own, so that its peak memory
// is that of the program's phases only.
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bem/bem_fill.hpp"
#include "bem/lapack.hpp"
#include "bem/lu.hpp"
#include "bem/solution.hpp"
#include "bench_models.hpp"
#include "bench_process.hpp"
#include "driver/fatal_stop.hpp"
#include "driver/run_io.hpp"
#include "model/input_reader.hpp"
#include "model/problem_model.hpp"
#include "oracle/literal_fill.hpp"
#include "plot/eps_plot.hpp"
#include "prep/echo.hpp"
#include "prep/grids.hpp"
#include "prep/model_checks.hpp"
#include "prep/setup.hpp"
#include "prep/unknowns.hpp"
#include "prep/work_arrays.hpp"
#include "report/reports.hpp"

// OpenBLAS's own controls (declared in its cblas.h, which may be another vendor's here).
extern "C" {
void openblas_set_num_threads(int threads);
int openblas_get_num_threads(void);
char* openblas_get_config(void);
}

namespace qbr::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kLiteralBudgetSeconds = 60.0;
// The fast fill must reproduce the literal one to about 1e-10 of the largest entry.
constexpr double kLiteralTolerance = 1e-9;
// Solutions from our factors and from zgetrf's, relative to the largest component.
constexpr double kSolutionTolerance = 1e-8;
constexpr double kMiB = 1024.0 * 1024.0;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename F>
double timed(F&& f) {
  const Clock::time_point start = Clock::now();
  f();
  return secondsSince(start);
}

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::vector<int> parseList(const std::string& text) {
  std::vector<int> values;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) values.push_back(std::stoi(item));
  return values;
}

int allThreads() {
  return omp_get_num_procs();
}

// Real operations of a complex LU: (8/3) n^3.
double luGflops(int nd, double seconds) {
  const double n = nd;
  return 8.0 / 3.0 * n * n * n / seconds / 1e9;
}

// FNV-1a over the 64-bit words of the matrix: equal hashes for bitwise equal matrices.
std::uint64_t matrixHash(const ComplexMatrix& A) {
  const std::size_t words = static_cast<std::size_t>(A.rows() * A.cols()) * 2;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(A.data());
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < words; ++i) {
    std::uint64_t w;
    std::memcpy(&w, bytes + 8 * i, 8);
    h = (h ^ w) * 1099511628211ull;
  }
  return h;
}

double maxAbs(const Complex* a, std::size_t n) {
  double m = 0.0;
  for (std::size_t i = 0; i < n; ++i) m = std::max(m, std::abs(a[i]));
  return m;
}

// max |a - b| / max |b| over n entries.
double relativeDifference(const Complex* a, const Complex* b, std::size_t n) {
  double diff = 0.0;
  for (std::size_t i = 0; i < n; ++i) diff = std::max(diff, std::abs(a[i] - b[i]));
  const double scale = maxAbs(b, n);
  return scale > 0.0 ? diff / scale : diff;
}

std::size_t entries(const ComplexMatrix& A) {
  return static_cast<std::size_t>(A.rows()) * static_cast<std::size_t>(A.cols());
}

// The right-hand sides the solution phase sets up: a unit current in each reported
// conductor, returning through conductor 0 when it has elements.
void unitCurrents(const Unknowns& unknowns, ComplexMatrix& b) {
  for (int c = 1; c <= unknowns.conductorCount(); ++c) {
    std::fill(b.column(c), b.column(c) + b.rows(), Complex(0.0, 0.0));
    if (unknowns.hasReturnConductor()) b(unknowns.conductor(0), c) = Complex(-1.0, 0.0);
    b(unknowns.conductor(c), c) = Complex(1.0, 0.0);
  }
}

void bareZgetrf(ComplexMatrix& A, std::vector<int>& pivots) {
  const int n = static_cast<int>(A.rows());
  pivots.assign(static_cast<std::size_t>(n), 0);
  int info = 0;
  zgetrf_(&n, &n, A.data(), &n, pivots.data(), &info);
  if (info != 0) throw std::runtime_error("zgetrf: info " + std::to_string(info));
}

void bareZgetrs(const ComplexMatrix& A, const std::vector<int>& pivots, ComplexMatrix& b) {
  const int n = static_cast<int>(A.rows());
  const int nrhs = static_cast<int>(b.cols());
  int info = 0;
  zgetrs_("N", &n, &nrhs, A.data(), &n, pivots.data(), b.data(), &n, &info, 1);
  if (info != 0) throw std::runtime_error("zgetrs: info " + std::to_string(info));
}

void copyMatrix(const ComplexMatrix& from, ComplexMatrix& to) {
  std::copy(from.data(), from.data() + entries(from), to.data());
}

// An input text in a file of its own, removed again with this object.
class TempInput {
 public:
  explicit TempInput(const std::string& text) {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("qbr-bench-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".txt");
    std::ofstream out(path_);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path_.string());
  }
  ~TempInput() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    std::filesystem::remove(path_.string() + ".eps", ignored);
  }
  TempInput(const TempInput&) = delete;
  TempInput& operator=(const TempInput&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Reads, sets up, checks and grids a model the way a run does, before the work arrays.
std::unique_ptr<ProblemModel> preparedModel(const std::string& inputName, RunIo& io) {
  auto model = std::make_unique<ProblemModel>();
  setDefaults(*model);
  readInputFile(*model, inputName);
  setUpModel(*model, io);
  checkModelIsSolvable(*model);
  buildGrids(*model, io);
  return model;
}

// --- One row, in a child process -------------------------------------------------------

// Fills, factorises and solves as a run does (all threads), reads the peak memory, and
// only then makes the copies the comparisons need: a one-thread fill, the literal fill
// and a bare zgetrf. Prints one "ROW" line of key=value pairs.
int runRow(const std::string& modelName, int targetNd, bool literal, bool literalOnly) {
  NullBuffer nullBuffer;
  std::ostream null(&nullBuffer);
  RunIo io{null, null};
  const int threads = allThreads();
  const GeneratedModel generated = generatedModel(modelName, targetNd);
  const TempInput input(generated.text);
  std::unique_ptr<ProblemModel> model = preparedModel(input.path().string(), io);
  const int nd = model->nd;
  const Unknowns unknowns(*model);
  std::ostringstream row;
  row << "ROW model=" << modelName << " nd=" << nd << " expected_nd=" << generated.nd;
  bool ok = nd == generated.nd;

  if (literalOnly) {
    ComplexMatrix L(nd, nd);
    row << " literal=" << timed([&] { fillBemMatrixLiteral(*model, unknowns, L, null); });
    std::cout << row.str() << " ok=" << ok << "\n";
    return ok ? 0 : 2;
  }

  row << " load_start=" << '"' << loadAverages() << '"';
  omp_set_num_threads(threads);
  WorkArrays work = allocateWorkArrays(*model);
  const double fillAll = timed([&] { fillBemMatrix(*model, unknowns, work.A, null); });
  const std::uint64_t hashAll = matrixHash(work.A);
  const double lu = timed([&] { luFactor(work.A, work.pivots, null); });
  unitCurrents(unknowns, work.b);
  const double solve = timed([&] { luSolve(work.A, work.pivots, work.b); });
  const long peakKiB = peakResidentKiB();
  row << " fill_all=" << fillAll << " lu=" << lu << " solve=" << solve << " peak_kib=" << peakKiB;

  // From here on the matrix memory doubles; the peak above does not see it.
  ComplexMatrix C(nd, nd);
  omp_set_num_threads(1);
  const double fillOne = timed([&] { fillBemMatrix(*model, unknowns, C, null); });
  omp_set_num_threads(threads);
  const bool sameBits = matrixHash(C) == hashAll;
  row << " fill_one=" << fillOne << " same_bits=" << sameBits;
  ok = ok && sameBits;

  if (literal) {
    ComplexMatrix L(nd, nd);
    const double seconds = timed([&] { fillBemMatrixLiteral(*model, unknowns, L, null); });
    const double diff = relativeDifference(C.data(), L.data(), entries(C));
    row << " literal=" << seconds << " literal_diff=" << diff;
    ok = ok && diff <= kLiteralTolerance;
  }

  std::vector<int> pivots;
  const double zgetrf = timed([&] { bareZgetrf(C, pivots); });
  ComplexMatrix x(nd, work.b.cols());
  unitCurrents(unknowns, x);
  bareZgetrs(C, pivots, x);
  const double solutionDiff = relativeDifference(work.b.data(), x.data(), entries(x));
  const bool samePivots = pivots == work.pivots;
  row << " zgetrf=" << zgetrf << " same_pivots=" << samePivots << " solution_diff=" << solutionDiff
      << " load_end=" << '"' << loadAverages() << '"';
  ok = ok && solutionDiff <= kSolutionTolerance;
  std::cout << row.str() << " ok=" << ok << "\n";
  return ok ? 0 : 2;
}

// --- The table of rows, in the parent ---------------------------------------------------

std::map<std::string, std::string> parseRow(const std::string& output) {
  std::map<std::string, std::string> values;
  const std::size_t start = output.find("ROW ");
  if (start == std::string::npos) return values;
  std::string line = output.substr(start + 4);
  line = line.substr(0, line.find('\n'));
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const std::size_t eq = line.find('=', i);
    if (eq == std::string::npos) break;
    const std::string key = line.substr(i, eq - i);
    std::size_t end;
    std::string value;
    if (eq + 1 < line.size() && line[eq + 1] == '"') {
      end = line.find('"', eq + 2);
      value = line.substr(eq + 2, end - eq - 2);
      ++end;
    } else {
      end = std::min(line.find(' ', eq), line.size());
      value = line.substr(eq + 1, end - eq - 1);
    }
    values[key] = value;
    i = end;
  }
  return values;
}

double number(const std::map<std::string, std::string>& row, const std::string& key) {
  const auto it = row.find(key);
  return it == row.end() ? std::nan("") : std::stod(it->second);
}

void printMachine() {
  char date[64];
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M %Z", std::localtime(&now));
  std::cout << "qbr-bench  " << date << "\n"
            << "CPU: " << cpuModel() << ", nproc " << allThreads() << "\n"
            << "Threads: fill " << allThreads() << " (OpenMP) or 1; OpenBLAS "
            << openblas_get_num_threads() << " (" << openblas_get_config() << ")\n"
            << "Load average at start: " << loadAverages() << "\n\n";
}

struct TableState {
  std::map<std::string, std::pair<int, double>> literalSeen;  // model -> (nd, seconds)
  bool failed = false;
};

std::string cell(double value, const char* pattern) {
  return std::isnan(value) ? "-" : format(pattern, value);
}

void printHeader() {
  std::printf("%-7s %6s %8s %8s %5s %9s %6s %8s %6s %8s %6s %7s %8s %8s  %s\n", "model", "nd",
              "fill1T", "fillNT", "1T/NT", "literal", "lit/1T", "LU", "GF/s", "zgetrf", "LU/zg",
              "solve", "peakMB", "boundMB", "load 1-min start/end");
  std::printf("%-7s %6s %8s %8s %5s %9s %6s %8s %6s %8s %6s %7s %8s %8s\n", "", "", "[s]", "[s]",
              "", "[s]", "", "[s]", "", "[s]", "", "[s]", "", "");
}

void runOneRow(const std::string& modelName, int targetNd, bool allowLiteral, TableState& state) {
  // Whether the literal fill fits the budget, by nd^2 from the last size it was timed at;
  // without one, time it at a small size first.
  double predicted = std::nan("");
  if (allowLiteral) {
    auto seen = state.literalSeen.find(modelName);
    if (seen == state.literalSeen.end() && targetNd > 600) {
      const ChildRun calibration = runSelf({"--row", modelName, "500", "--literal-only"});
      const auto values = parseRow(calibration.output);
      if (calibration.exitStatus == 0 && values.count("literal")) {
        state.literalSeen[modelName] = {static_cast<int>(number(values, "nd")),
                                        number(values, "literal")};
      }
      seen = state.literalSeen.find(modelName);
    }
    if (seen != state.literalSeen.end()) {
      const double ratio = static_cast<double>(targetNd) / seen->second.first;
      predicted = seen->second.second * ratio * ratio;
    }
  }
  const bool literal = allowLiteral && (std::isnan(predicted) || predicted < kLiteralBudgetSeconds);

  std::vector<std::string> args{"--row", modelName, std::to_string(targetNd)};
  if (literal) args.push_back("--literal");
  const ChildRun run = runSelf(args);
  const auto row = parseRow(run.output);
  if (run.exitStatus != 0 || row.empty()) {
    state.failed = true;
    std::printf("%-7s %6d  failed (exit status %d): %s\n", modelName.c_str(), targetNd,
                run.exitStatus, run.output.c_str());
    if (row.empty()) return;
  }

  const int nd = static_cast<int>(number(row, "nd"));
  const double fillOne = number(row, "fill_one");
  const double fillAll = number(row, "fill_all");
  const double lit = number(row, "literal");
  const double lu = number(row, "lu");
  const double zgetrf = number(row, "zgetrf");
  const double peakMiB = number(row, "peak_kib") * 1024.0 / kMiB;
  const double boundMiB = 1.1 * 16.0 * nd * static_cast<double>(nd) / kMiB + 100.0;
  if (!std::isnan(lit)) state.literalSeen[modelName] = {nd, lit};
  std::string literalCell = cell(lit, "%9.2f");
  if (std::isnan(lit) && !std::isnan(predicted)) literalCell = format("(~%.0f)", predicted);
  const std::string load = row.count("load_start") ? row.at("load_start").substr(0, 4) + "/" +
                                                         row.at("load_end").substr(0, 4)
                                                   : "";
  std::printf("%-7s %6d %8.3f %8.3f %5.2f %9s %6s %8.2f %6.1f %8.2f %6.3f %7.3f %8.0f %8.0f  %s\n",
              modelName.c_str(), nd, fillOne, fillAll, fillOne / fillAll, literalCell.c_str(),
              cell(lit / fillOne, "%6.1f").c_str(), lu, luGflops(nd, lu), zgetrf, lu / zgetrf,
              number(row, "solve"), peakMiB, boundMiB, load.c_str());
  std::string notes;
  if (row.count("same_bits") && row.at("same_bits") != "1")
    notes += " fill differs between 1 and all threads;";
  if (row.count("literal_diff")) notes += " literal vs fast " + row.at("literal_diff") + ";";
  if (row.count("solution_diff"))
    notes += " solutions ours vs zgetrf " + row.at("solution_diff") + ";";
  if (row.count("same_pivots") && row.at("same_pivots") != "1") notes += " pivots differ;";
  if (row.count("ok") && row.at("ok") != "1") notes += " CHECK FAILED;";
  std::printf("%14s %s\n", "", notes.c_str());
  std::fflush(stdout);
}

struct RowSet {
  std::string model;
  std::vector<int> sizes;
};

int runTable(const std::vector<RowSet>& sets, bool allowLiteral) {
  printMachine();
  std::printf(
      "fill1T/fillNT: fast fill on 1 and on %d threads; literal: the reference fill, 1 thread, "
      "run only where predicted under %.0f s (otherwise the prediction in brackets);\n"
      "LU: our blocked LU, GF/s = (8/3) nd^3 / LU; zgetrf: one bare call on a copy of the same "
      "matrix; solve: all conductors at once;\n"
      "peakMB: peak resident memory of the fill, LU and solve (read before the copies are made); "
      "boundMB = 1.1 x 16 nd^2 bytes + 100 MiB; MB = MiB.\n\n",
      allThreads(), kLiteralBudgetSeconds);
  printHeader();
  TableState state;
  for (const RowSet& set : sets) {
    int previous = -1;
    for (int size : set.sizes) {
      const int target = std::min(size, maximumNd(set.model));
      const int nd = generatedModel(set.model, target).nd;
      if (nd == previous) continue;
      previous = nd;
      runOneRow(set.model, target, allowLiteral, state);
    }
  }
  std::printf("\nLoad average at end: %s\n", loadAverages().c_str());
  return state.failed ? 1 : 0;
}

// --- The phases of one input file -------------------------------------------------------

int runInput(const std::string& inputName, bool withZgetrf) {
  NullBuffer nullBuffer;
  std::ostream null(&nullBuffer);
  const std::filesystem::path logPath =
      std::filesystem::temp_directory_path() / ("qbr-bench-" + std::to_string(::getpid()) + ".log");
  std::ofstream log(logPath, std::ios::out | std::ios::trunc);
  RunIo io{null, log};
  printMachine();

  // The phases in the order the driver runs them, without the closing wait.
  double setUp = 0, grids = 0, fill = 0, solve = 0, report = 0;
  int nd = 0;
  const Clock::time_point start = Clock::now();
  {
    auto model = std::make_unique<ProblemModel>();
    setUp = timed([&] {
      setDefaults(*model);
      readInputFile(*model, inputName);
      setUpModel(*model, io);
      echoModel(*model, io);
      writeEpsPlot(model->elements, model->elementCount, model->symmetryOn, inputName,
                   model->points, io);
      checkModelIsSolvable(*model);
    });
    WorkArrays work;
    grids = timed([&] {
      buildGrids(*model, io);
      work = allocateWorkArrays(*model);
    });
    nd = model->nd;
    const Unknowns unknowns(*model);
    fill = timed([&] { fillBemMatrix(*model, unknowns, work.A, null); });
    ConductorMatrix result(0);
    solve = timed([&] { result = solveConductorMatrix(*model, unknowns, work, null); });
    report = timed([&] {
      if (model->phaseVariables) {
        reportInductanceMatrix(result, io);
      } else {
        reportImpedanceMatrix(result, model->omega, io);
      }
      releaseWorkArrays(*model, work);
    });
  }
  const double total = secondsSince(start);
  const long peakKiB = peakResidentKiB();
  log.close();
  std::error_code ignored;
  std::filesystem::remove(logPath, ignored);

  std::printf("Input %s: nd = %d\n", inputName.c_str(), nd);
  std::printf("  read + set-up (echo, plot, checks) %9.3f s\n", setUp);
  std::printf("  grids + work arrays                %9.3f s\n", grids);
  std::printf("  fill                               %9.3f s\n", fill);
  std::printf("  factorisation + solve              %9.3f s  (%.1f GFLOP/s)\n", solve,
              luGflops(nd, solve));
  std::printf("  report + release                   %9.3f s\n", report);
  std::printf("  total (no closing wait)            %9.3f s\n", total);
  const double boundMiB = 1.1 * 16.0 * nd * static_cast<double>(nd) / kMiB + 100.0;
  std::printf("  peak resident memory               %9.0f MiB  (bound %.0f MiB)\n",
              peakKiB / 1024.0, boundMiB);

  if (withZgetrf) {
    // The same matrix once more, for one bare zgetrf; after the peak was read.
    auto model = preparedModel(inputName, io);
    const Unknowns unknowns(*model);
    ComplexMatrix A(model->nd, model->nd);
    fillBemMatrix(*model, unknowns, A, null);
    std::vector<int> pivots;
    const double zgetrf = timed([&] { bareZgetrf(A, pivots); });
    std::printf("  bare zgetrf on the same matrix     %9.3f s  (%.1f GFLOP/s)\n", zgetrf,
                luGflops(nd, zgetrf));
    std::printf("  total / zgetrf                     %9.3f\n", total / zgetrf);
  }
  std::printf("Load average at end: %s\n", loadAverages().c_str());
  return 0;
}

// --- Our LU against zgetrf alone, repeated and interleaved -------------------------------

int runLuCompare(int targetNd, int repeat, const std::vector<int>& panels) {
  NullBuffer nullBuffer;
  std::ostream null(&nullBuffer);
  RunIo io{null, null};
  printMachine();
  const GeneratedModel generated = stripsModel(targetNd);
  const TempInput input(generated.text);
  auto model = preparedModel(input.path().string(), io);
  const int nd = model->nd;
  const Unknowns unknowns(*model);
  ComplexMatrix original(nd, nd);
  fillBemMatrix(*model, unknowns, original, null);
  ComplexMatrix work(nd, nd);
  std::vector<int> pivots;

  std::printf(
      "LU of the strips matrix, nd = %d, %d rounds (each: ours per panel width, then "
      "zgetrf), seconds\n",
      nd, repeat);
  std::map<int, std::vector<double>> ours;
  std::vector<double> bare;
  for (int round = 0; round < repeat; ++round) {
    std::printf("round %d  load %s:", round + 1, loadAverages().c_str());
    for (int panel : panels) {
      copyMatrix(original, work);
      const double t = timed([&] { luFactor(work, pivots, null, panel); });
      ours[panel].push_back(t);
      std::printf("  nb=%d %.3f", panel, t);
    }
    copyMatrix(original, work);
    const double t = timed([&] { bareZgetrf(work, pivots); });
    bare.push_back(t);
    std::printf("  zgetrf %.3f\n", t);
    std::fflush(stdout);
  }
  auto best = [](std::vector<double> v) { return *std::min_element(v.begin(), v.end()); };
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf("zgetrf        best %.3f s (%.1f GFLOP/s), median %.3f s\n", best(bare),
              luGflops(nd, best(bare)), median(bare));
  for (int panel : panels) {
    std::vector<double>& t = ours[panel];
    std::printf(
        "ours nb=%-4d  best %.3f s (%.1f GFLOP/s), median %.3f s;  best/best %.3f, "
        "median/median %.3f\n",
        panel, best(t), luGflops(nd, best(t)), median(t), best(t) / best(bare),
        median(t) / median(bare));
  }
  std::printf("Load average at end: %s\n", loadAverages().c_str());
  return 0;
}

// --- Smoke run for CTest ---------------------------------------------------------------

// Small rows of both models with every check, and the phases of a generated input file;
// a few seconds. Fails when a check fails or a child does not finish.
int runSmoke() {
  int status = runTable({{"strips", {150, 300}}, {"coax", {150}}}, true);
  const TempInput input(stripsModel(300).text);
  const ChildRun run = runSelf({"--input", input.path().string(), "--zgetrf"});
  std::cout << "\n" << run.output;
  if (run.exitStatus != 0 || run.output.find("total / zgetrf") == std::string::npos) status = 1;
  std::cout << (status == 0 ? "smoke run passed\n" : "smoke run FAILED\n");
  return status;
}

void usage() {
  std::cout
      << "usage:\n"
         "  qbr-bench [--sizes N,N,...] [--coax] [--full] [--no-literal]\n"
         "      rows for the three-strip model (default sizes 500,1000,2000,4000,8000);\n"
         "      --coax adds the normal-metal coax rows (500,1000,2000,3002), --full the sizes\n"
         "      12000, 16004 and the 20-element capacity row (nd 20005)\n"
         "  qbr-bench --input FILE [--zgetrf]   phases of one input file\n"
         "  qbr-bench --lu-compare ND [--repeat R] [--panels NB,NB,...]\n"
         "  qbr-bench --write-model strips|strips4|coax ND FILE\n"
         "  qbr-bench --smoke\n";
}

int run(const std::vector<std::string>& args) {
  openblas_set_num_threads(allThreads());
  auto has = [&](const std::string& flag) {
    return std::find(args.begin(), args.end(), flag) != args.end();
  };
  auto valueAfter = [&](const std::string& flag, std::size_t offset = 1) -> std::string {
    const auto it = std::find(args.begin(), args.end(), flag);
    if (it == args.end() || static_cast<std::size_t>(args.end() - it) <= offset)
      throw std::invalid_argument(flag + " needs a value");
    return *(it + static_cast<std::ptrdiff_t>(offset));
  };

  if (has("--help") || has("-h")) {
    usage();
    return 0;
  }
  if (has("--row")) {
    return runRow(valueAfter("--row"), std::stoi(valueAfter("--row", 2)), has("--literal"),
                  has("--literal-only"));
  }
  if (has("--smoke")) return runSmoke();
  if (has("--input")) return runInput(valueAfter("--input"), has("--zgetrf"));
  if (has("--write-model")) {
    const GeneratedModel m =
        generatedModel(valueAfter("--write-model"), std::stoi(valueAfter("--write-model", 2)));
    std::ofstream out(valueAfter("--write-model", 3));
    out << m.text;
    std::cout << "nd = " << m.nd << "\n";
    return out ? 0 : 1;
  }
  if (has("--lu-compare")) {
    const int repeat = has("--repeat") ? std::stoi(valueAfter("--repeat")) : 3;
    const std::vector<int> panels =
        has("--panels") ? parseList(valueAfter("--panels")) : std::vector<int>{kLuPanelWidth};
    return runLuCompare(std::stoi(valueAfter("--lu-compare")), std::max(1, repeat), panels);
  }

  std::vector<int> sizes = has("--sizes") ? parseList(valueAfter("--sizes"))
                                          : std::vector<int>{500, 1000, 2000, 4000, 8000};
  if (has("--full")) sizes.insert(sizes.end(), {12000, 16004});
  std::sort(sizes.begin(), sizes.end());
  std::vector<RowSet> sets{{"strips", sizes}};
  if (has("--full")) sets.push_back({"strips4", {20005}});
  if (has("--coax")) sets.push_back({"coax", {500, 1000, 2000, 3002}});
  return runTable(sets, !has("--no-literal"));
}

}  // namespace

}  // namespace qbr::bench

int main(int argc, char** argv) {
  try {
    return qbr::bench::run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const qbr::FatalError& error) {
    std::cerr << error.message() << "\n";
  } catch (const std::exception& error) {
    std::cerr << "qbr-bench: " << error.what() << "\n";
  }
  return 1;
}
