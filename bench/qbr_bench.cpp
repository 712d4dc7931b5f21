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

#include "base/console_progress.hpp"
#include "bem/bem_fill.hpp"
#include "bem/lapack.hpp"
#include "bem/lu.hpp"
#include "bench_models.hpp"
#include "bench_process.hpp"
#include "bench_dielectrics.hpp"
#include "bench_time_to_accuracy.hpp"
#include "base/fatal_stop.hpp"
#include "base/run_io.hpp"
#include "model/input_reader.hpp"
#include "model/problem_model.hpp"
#include "oracle/literal_fill.hpp"
#include "prep/grids.hpp"
#include "prep/model_checks.hpp"
#include "prep/setup.hpp"
#include "prep/unknowns.hpp"
#include "prep/work_arrays.hpp"
#include "qbr/qbr.hpp"

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
int runRow(const std::string& modelName, int targetNd, int literalRuns, bool literalOnly,
           int repeat) {
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
  // Each phase runs `repeat` times and keeps its best time: the machine is shared.

  // The program's phases: fill on all threads, factorisation, solve of all conductors.
  omp_set_num_threads(threads);
  WorkArrays work = allocateWorkArrays(*model);
  double fillAll = 0, lu = 0, solve = 0;
  for (int r = 0; r < repeat; ++r) {
    const double f = timed([&] { fillBemMatrix(*model, unknowns, work.A, null); });
    const double l = timed([&] { luFactor(work.A, work.pivots, null); });
    unitCurrents(unknowns, work.b);
    const double s = timed([&] { luSolve(work.A, work.pivots, work.b); });
    fillAll = r == 0 ? f : std::min(fillAll, f);
    lu = r == 0 ? l : std::min(lu, l);
    solve = r == 0 ? s : std::min(solve, s);
  }
  const long peakKiB = peakResidentKiB();
  row << " lu=" << lu << " solve=" << solve << " peak_kib=" << peakKiB;

  // From here on the matrix memory doubles; the peak above does not see it. One thread
  // against all, alternately, and the two matrices bit for bit.
  ComplexMatrix C(nd, nd);
  double fillOne = 0;
  bool sameBits = true;
  for (int r = 0; r < repeat; ++r) {
    omp_set_num_threads(1);
    const double one = timed([&] { fillBemMatrix(*model, unknowns, C, null); });
    omp_set_num_threads(threads);
    const std::uint64_t hashOne = matrixHash(C);
    const double all = timed([&] { fillBemMatrix(*model, unknowns, C, null); });
    sameBits = sameBits && hashOne == matrixHash(C);
    fillOne = r == 0 ? one : std::min(fillOne, one);
    fillAll = std::min(fillAll, all);
  }
  row << " fill_all=" << fillAll << " fill_one=" << fillOne << " same_bits=" << sameBits;
  ok = ok && sameBits;

  if (literalRuns > 0) {
    ComplexMatrix L(nd, nd);
    double seconds = 0;
    for (int r = 0; r < literalRuns; ++r) {
      const double t = timed([&] { fillBemMatrixLiteral(*model, unknowns, L, null); });
      seconds = r == 0 ? t : std::min(seconds, t);
    }
    const double diff = relativeDifference(C.data(), L.data(), entries(C));
    row << " literal=" << seconds << " literal_runs=" << literalRuns << " literal_diff=" << diff;
    ok = ok && diff <= kLiteralTolerance;
  }

  // The bare zgetrf on the same matrix (C holds the fill on all threads).
  std::vector<int> pivots;
  double zgetrf = 0;
  for (int r = 0; r < repeat; ++r) {
    if (r > 0) fillBemMatrix(*model, unknowns, C, null);
    const double t = timed([&] { bareZgetrf(C, pivots); });
    zgetrf = r == 0 ? t : std::min(zgetrf, t);
  }
  ComplexMatrix x(nd, work.b.cols());
  unitCurrents(unknowns, x);
  bareZgetrs(C, pivots, x);
  const double solutionDiff = relativeDifference(work.b.data(), x.data(), entries(x));
  const bool samePivots = pivots == work.pivots;
  row << " zgetrf=" << zgetrf << " same_pivots=" << samePivots << " solution_diff=" << solutionDiff
      << " repeat=" << repeat << " load_end=" << '"' << loadAverages() << '"';
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

void runOneRow(const std::string& modelName, int targetNd, bool allowLiteral, int repeat,
               TableState& state) {
  // Whether the literal fill fits the budget, by nd^2 from the last size it was timed at;
  // without one, time it at a small size first.
  double predicted = std::nan("");
  if (allowLiteral) {
    auto seen = state.literalSeen.find(modelName);
    if (seen == state.literalSeen.end() && targetNd > 1200) {
      const ChildRun calibration = runSelf({"--row", modelName, "1000", "--literal-only"});
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
  // As many literal runs as the fast fill gets, while they stay within the budget.
  int literalRuns = 0;
  if (literal) {
    literalRuns = std::isnan(predicted)
                      ? 1
                      : std::clamp(static_cast<int>(kLiteralBudgetSeconds / predicted), 1, repeat);
  }

  std::vector<std::string> args{"--row", modelName, std::to_string(targetNd), "--repeat",
                                std::to_string(repeat)};
  if (literal) args.insert(args.end(), {"--literal", std::to_string(literalRuns)});
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

int runTable(const std::vector<RowSet>& sets, bool allowLiteral, int repeat) {
  printMachine();
  std::printf(
      "fill1T/fillNT: fast fill on 1 and on %d threads; literal: the reference fill, 1 thread, "
      "run only where predicted under %.0f s (otherwise the prediction in brackets);\n"
      "LU: our blocked LU, GF/s = (8/3) nd^3 / LU; zgetrf: a bare call on a copy of the same "
      "matrix; solve: all conductors at once;\n"
      "peakMB: peak resident memory of the fill, LU and solve (read before the copies are made); "
      "boundMB = 1.1 x 16 nd^2 bytes + 100 MiB; MB = MiB. Times: best of %d run(s) of each "
      "phase (the literal fill: as many runs as fit in the budget, at least one).\n\n",
      allThreads(), kLiteralBudgetSeconds, repeat);
  printHeader();
  TableState state;
  for (const RowSet& set : sets) {
    int previous = -1;
    for (int size : set.sizes) {
      const int target = std::min(size, maximumNd(set.model));
      const int nd = generatedModel(set.model, target).nd;
      if (nd == previous) continue;
      previous = nd;
      runOneRow(set.model, target, allowLiteral, repeat, state);
    }
  }
  std::printf("\nLoad average at end: %s\n", loadAverages().c_str());
  return state.failed ? 1 : 0;
}

// --- The phases of one input file -------------------------------------------------------

struct PhaseTimes {
  int nd = 0;
  double setUp = 0, grids = 0, fill = 0, solve = 0, gridCheck = 0, report = 0, json = 0, total = 0;
  double processor = 0;  // processor seconds of the run, all threads
  Matrix<Complex> printed;
};

// The median of a few timings and their range, as text.
std::string medianAndRange(std::vector<double> t) {
  std::sort(t.begin(), t.end());
  const std::size_t n = t.size();
  const double median = n % 2 == 1 ? t[n / 2] : 0.5 * (t[n / 2 - 1] + t[n / 2]);
  char text[64];
  std::snprintf(text, sizeof text, "%.3f s (%.3f to %.3f)", median, t.front(), t.back());
  return text;
}

// A run as the program makes it, through the library: read, solve with the program's
// texts (the console discarded, the log into `io.log`) and its drawing, and, when
// `jsonFile` is given, the JSON result with the per-node data; no closing wait.
PhaseTimes timedRun(const std::string& inputName, RunIo& io, const std::string& jsonFile,
                    SolveOptions::Solver solver = SolveOptions::Solver::kStructured) {
  PhaseTimes t;
  const Clock::time_point start = Clock::now();
  const double processorStart = processorSeconds();
  double read = 0;
  std::unique_ptr<Model> model;
  read = timed([&] { model = std::make_unique<Model>(Model::fromFile(inputName)); });
  SolveOptions options;
  options.console = &io.console;
  options.log = &io.log;
  options.drawingBase = inputName;
  options.progress = consoleSpinner(io.console);
  options.solver = solver;
  const Result result = solve(*model, options);
  t.printed = result.printed;
  if (!jsonFile.empty()) {
    t.json = timed([&] {
      std::ofstream out(jsonFile, std::ios::out | std::ios::trunc);
      out << result.toJson();
    });
  }
  t.total = secondsSince(start);
  t.processor = processorSeconds() - processorStart;
  t.nd = result.nd;
  t.setUp = read + result.times.setUp;
  t.grids = result.times.grids;
  t.fill = result.times.fill;
  t.solve = result.times.factorisation;
  t.gridCheck = result.times.gridCheck;
  t.report = result.times.total - result.times.setUp - result.times.grids - result.times.fill -
             result.times.factorisation - result.times.gridCheck;
  return t;
}

// A bare zgetrf on the matrix of the input file.
double timedZgetrf(const std::string& inputName, RunIo& io, std::ostream& console) {
  auto model = preparedModel(inputName, io);
  const Unknowns unknowns(*model);
  ComplexMatrix A(model->nd, model->nd);
  fillBemMatrix(*model, unknowns, A, console);
  std::vector<int> pivots;
  return timed([&] { bareZgetrf(A, pivots); });
}

int runInput(const std::string& inputName, bool withZgetrf, bool withDense, int repeat,
             const std::string& jsonFile) {
  NullBuffer nullBuffer;
  std::ostream null(&nullBuffer);
  // The run log goes to a file of its own, removed also when the run stops.
  const TempInput logFile("");
  std::ofstream log(logFile.path(), std::ios::out | std::ios::trunc);
  RunIo io{null, log};
  printMachine();

  // Whole runs and bare zgetrf calls alternate; the peak memory is read after the first
  // run, before any matrix of the reference exists.
  std::vector<PhaseTimes> runs;
  std::vector<double> zgetrfs;
  std::vector<PhaseTimes> denseRuns;
  long peakKiB = 0;
  for (int r = 0; r < repeat; ++r) {
    runs.push_back(timedRun(inputName, io, jsonFile));
    if (r == 0) peakKiB = peakResidentKiB();
    if (withDense) {
      denseRuns.push_back(timedRun(inputName, io, "", SolveOptions::Solver::kDense));
    }
    if (withZgetrf) zgetrfs.push_back(timedZgetrf(inputName, io, null));
    std::printf("round %d: total %.3f s (processor %.2f s)%s%s  load %s\n", r + 1,
                runs.back().total, runs.back().processor,
                withDense ? (", full matrix " + format("%.3f s", denseRuns.back().total) +
                             format(" (processor %.2f s)", denseRuns.back().processor))
                                .c_str()
                          : "",
                withZgetrf ? (", zgetrf " + format("%.3f s", zgetrfs.back())).c_str() : "",
                loadAverages().c_str());
  }
  log.close();

  const PhaseTimes best =
      *std::min_element(runs.begin(), runs.end(),
                        [](const PhaseTimes& a, const PhaseTimes& b) { return a.total < b.total; });
  const int nd = best.nd;
  std::printf("Input %s: nd = %d; the fastest of %d run(s):\n", inputName.c_str(), nd, repeat);
  std::printf("  read + set-up (echo, plot, checks) %9.3f s\n", best.setUp);
  std::printf("  grids + work arrays                %9.3f s\n", best.grids);
  std::printf("  fill                               %9.3f s\n", best.fill);
  std::printf("  factorisation + solve              %9.3f s  (%.1f GFLOP/s)\n", best.solve,
              luGflops(nd, best.solve));
  std::printf("  report + release                   %9.3f s\n", best.report);
  std::printf("  grid check (half, quarter grids)   %9.3f s\n", best.gridCheck);
  if (!jsonFile.empty()) {
    std::printf("  JSON with per-node data            %9.3f s  (%.2f%% of the total)\n", best.json,
                100.0 * best.json / best.total);
  }
  std::printf("  total (no closing wait)            %9.3f s\n", best.total);
  const double boundMiB = 1.1 * 16.0 * nd * static_cast<double>(nd) / kMiB + 100.0;
  std::printf("  peak resident memory               %9.0f MiB  (bound %.0f MiB)\n",
              peakKiB / 1024.0, boundMiB);
  if (withZgetrf) {
    const double zgetrf = *std::min_element(zgetrfs.begin(), zgetrfs.end());
    std::printf("  bare zgetrf on the same matrix     %9.3f s  (%.1f GFLOP/s), best of %d\n",
                zgetrf, luGflops(nd, zgetrf), repeat);
    std::printf("  total / zgetrf                     %9.3f\n", best.total / zgetrf);
  }
  if (withDense) {
    std::vector<double> structured, dense, structuredProcessor, denseProcessor;
    for (const PhaseTimes& t : runs) structured.push_back(t.total);
    for (const PhaseTimes& t : denseRuns) dense.push_back(t.total);
    for (const PhaseTimes& t : runs) structuredProcessor.push_back(t.processor);
    for (const PhaseTimes& t : denseRuns) denseProcessor.push_back(t.processor);
    const Matrix<Complex>& a = runs.front().printed;
    const Matrix<Complex>& b = denseRuns.front().printed;
    double largest = 0.0, difference = 0.0;
    for (int i = 0; i < a.rows(); ++i) {
      for (int j = 0; j < a.cols(); ++j) {
        largest = std::max(largest, std::abs(b(i, j)));
        difference = std::max(difference, std::abs(a(i, j) - b(i, j)));
      }
    }
    std::printf("  whole run, structured solve, median (range)  %s\n",
                medianAndRange(structured).c_str());
    std::printf("  whole run, full matrix,      median (range)  %s\n",
                medianAndRange(dense).c_str());
    std::printf("  processor time, structured,  median (range)  %s\n",
                medianAndRange(structuredProcessor).c_str());
    std::printf("  processor time, full matrix, median (range)  %s\n",
                medianAndRange(denseProcessor).c_str());
    std::printf("  conductor matrices differ by %.2e of the largest entry\n", difference / largest);
  }
  std::printf("Load average at end: %s\n", loadAverages().c_str());
  return 0;
}

// --- Our LU against zgetrf alone, repeated and interleaved -------------------------------

// The filled system matrix of the strips model closest to targetNd unknowns.
ComplexMatrix filledStripsMatrix(int targetNd) {
  NullBuffer nullBuffer;
  std::ostream null(&nullBuffer);
  RunIo io{null, null};
  const GeneratedModel generated = stripsModel(targetNd);
  const TempInput input(generated.text);
  auto model = preparedModel(input.path().string(), io);
  const Unknowns unknowns(*model);
  ComplexMatrix matrix(model->nd, model->nd);
  fillBemMatrix(*model, unknowns, matrix, null);
  return matrix;
}

int runLuCompare(int targetNd, int repeat, const std::vector<int>& panels) {
  NullBuffer nullBuffer;
  std::ostream null(&nullBuffer);
  printMachine();
  const ComplexMatrix original = filledStripsMatrix(targetNd);
  const int nd = static_cast<int>(original.rows());
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

// --- Where the time of our LU goes ------------------------------------------------------

// The loop of luFactor, step for step, with a clock around each LAPACK/BLAS call.
struct LuBreakdown {
  double panel = 0, swaps = 0, trsm = 0, gemm = 0;
  double gemmFlops = 0;  // real operations of the trailing updates
};

LuBreakdown timedBlockedLu(ComplexMatrix& A, std::vector<int>& pivots, int nb) {
  const int n = static_cast<int>(A.rows());
  const int lda = n;
  const int one = 1;
  const Complex unit(1.0, 0.0);
  const Complex minusUnit(-1.0, 0.0);
  pivots.assign(static_cast<std::size_t>(n), 0);
  LuBreakdown t;
  for (int j = 0; j < n; j += nb) {
    const int jb = std::min(nb, n - j);
    const int height = n - j;
    int info = 0;
    t.panel +=
        timed([&] { zgetrf_(&height, &jb, &A(j + 1, j + 1), &lda, pivots.data() + j, &info); });
    for (int i = j; i < j + jb; ++i) pivots[static_cast<std::size_t>(i)] += j;
    const int k1 = j + 1;
    const int k2 = j + jb;
    const int rest = n - j - jb;
    t.swaps += timed([&] {
      if (j > 0) zlaswp_(&j, A.data(), &lda, &k1, &k2, pivots.data(), &one);
      if (rest > 0) zlaswp_(&rest, &A(1, j + jb + 1), &lda, &k1, &k2, pivots.data(), &one);
    });
    if (rest > 0) {
      t.trsm += timed([&] {
        ztrsm_("L", "L", "N", "U", &jb, &rest, &unit, &A(j + 1, j + 1), &lda, &A(j + 1, j + jb + 1),
               &lda, 1, 1, 1, 1);
      });
      t.gemmFlops += 8.0 * rest * static_cast<double>(rest) * jb;
      t.gemm += timed([&] {
        zgemm_("N", "N", &rest, &rest, &jb, &minusUnit, &A(j + jb + 1, j + 1), &lda,
               &A(j + 1, j + jb + 1), &lda, &unit, &A(j + jb + 1, j + jb + 1), &lda, 1, 1);
      });
    }
  }
  return t;
}

int runLuBreakdown(int targetNd, const std::vector<int>& panels) {
  printMachine();
  const ComplexMatrix original = filledStripsMatrix(targetNd);
  const int nd = static_cast<int>(original.rows());
  ComplexMatrix work(nd, nd);
  std::vector<int> pivots;
  std::printf("Our LU step by step, strips matrix nd = %d, seconds\n", nd);
  for (int panel : panels) {
    copyMatrix(original, work);
    const LuBreakdown t = timedBlockedLu(work, pivots, panel);
    const double total = t.panel + t.swaps + t.trsm + t.gemm;
    std::printf(
        "nb=%-4d panel zgetrf %.3f  zlaswp %.3f  ztrsm %.3f  zgemm %.3f (%.1f GFLOP/s)  "
        "total %.3f  load %s\n",
        panel, t.panel, t.swaps, t.trsm, t.gemm, t.gemmFlops / t.gemm / 1e9, total,
        loadAverages().c_str());
    std::fflush(stdout);
  }
  return 0;
}

// --- Smoke run for CTest ---------------------------------------------------------------

// Small rows of both models with every check, and the phases of a generated input file;
// a few seconds. Fails when a check fails or a child does not finish.
int runSmoke() {
  int status = runTable({{"strips", {150, 300}}, {"coax", {150}}}, true, 2);
  const TempInput input(stripsModel(300).text);
  const TempInput json("");
  const ChildRun run =
      runSelf({"--input", input.path().string(), "--zgetrf", "--json", json.path().string()});
  std::cout << "\n" << run.output;
  if (run.exitStatus != 0 || run.output.find("total / zgetrf") == std::string::npos ||
      run.output.find("JSON with per-node data") == std::string::npos) {
    status = 1;
  }
  std::cout << (status == 0 ? "smoke run passed\n" : "smoke run FAILED\n");
  return status;
}

void usage() {
  std::cout
      << "usage:\n"
         "  qbr-bench [--model M] [--sizes N,N,...] [--coax] [--full] [--no-literal] [--repeat R]\n"
         "      rows for the three-strip model, or model M (strips, strips4, coax), at the\n"
         "      sizes given (default 500,1000,2000,4000,8000);\n"
         "      --coax adds the normal-metal coax rows (500,1000,2000,3002), --full the sizes\n"
         "      12000, 16004 and the 20-element capacity row (nd 20005); --repeat R keeps the\n"
         "      best of R timings of every phase (default 1)\n"
         "  qbr-bench --input FILE [--zgetrf] [--dense] [--json OUT] [--repeat R]   a run of\n"
         "      one input file through the library as the program makes it, a bare zgetrf on\n"
         "      its matrix, the time of writing its JSON result to OUT; --dense alternates\n"
         "      with whole runs on the full matrix (SolveOptions::Solver::kDense)\n"
         "  qbr-bench --lu-compare ND [--repeat R] [--panels NB,NB,...]\n"
         "  qbr-bench --lu-breakdown ND [--panels NB,NB,...]   time of each step of our LU\n"
         "  qbr-bench --write-model strips|strips4|coax ND FILE\n"
         "  qbr-bench --time-to-accuracy [--reference] [--max-factor F] [--repeat R]   least\n"
         "      time to 1e-3 ...\n"
         "      1e-6 in L (and R) on the gallery's microstrip, superconducting and copper at\n"
         "      10 GHz, on even and graded grids; --reference extrapolates the references\n"
         "  qbr-bench --dielectrics [--repeat R]   the cost of dielectric regions against the\n"
         "      same work without them: per unknown, a whole solve, a sweep of 40 frequencies\n"
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
  const int repeat = has("--repeat") ? std::max(1, std::stoi(valueAfter("--repeat"))) : 1;
  if (has("--row")) {
    return runRow(valueAfter("--row"), std::stoi(valueAfter("--row", 2)),
                  has("--literal") ? std::stoi(valueAfter("--literal")) : 0, has("--literal-only"),
                  repeat);
  }
  if (has("--smoke")) return runSmoke();
  if (has("--dielectrics")) return runDielectrics(repeat);
  if (has("--time-to-accuracy")) return runTimeToAccuracy(repeat, has("--reference"),
                             has("--max-factor") ? std::stod(valueAfter("--max-factor")) : 24.0);
  if (has("--input")) {
    return runInput(valueAfter("--input"), has("--zgetrf"), has("--dense"), repeat,
                    has("--json") ? valueAfter("--json") : std::string());
  }
  if (has("--write-model")) {
    const GeneratedModel m =
        generatedModel(valueAfter("--write-model"), std::stoi(valueAfter("--write-model", 2)));
    std::ofstream out(valueAfter("--write-model", 3));
    out << m.text;
    std::cout << "nd = " << m.nd << "\n";
    return out ? 0 : 1;
  }
  if (has("--lu-breakdown")) {
    const std::vector<int> panels =
        has("--panels") ? parseList(valueAfter("--panels")) : std::vector<int>{kLuPanelWidth};
    return runLuBreakdown(std::stoi(valueAfter("--lu-breakdown")), panels);
  }
  if (has("--lu-compare")) {
    const std::vector<int> panels =
        has("--panels") ? parseList(valueAfter("--panels")) : std::vector<int>{kLuPanelWidth};
    return runLuCompare(std::stoi(valueAfter("--lu-compare")), has("--repeat") ? repeat : 3,
                        panels);
  }

  std::vector<int> sizes = has("--sizes") ? parseList(valueAfter("--sizes"))
                                          : std::vector<int>{500, 1000, 2000, 4000, 8000};
  if (has("--full")) sizes.insert(sizes.end(), {12000, 16004});
  std::sort(sizes.begin(), sizes.end());
  std::vector<RowSet> sets{{has("--model") ? valueAfter("--model") : "strips", sizes}};
  if (has("--full")) sets.push_back({"strips4", {20005}});
  if (has("--coax")) sets.push_back({"coax", {500, 1000, 2000, 3002}});
  return runTable(sets, !has("--no-literal"), repeat);
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
