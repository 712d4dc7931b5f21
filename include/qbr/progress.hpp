#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace qbr {

// Progress of the two long phases of a solve, reported in steps:
// - fill: one step per (row element, column element, row node), in that nesting;
//   `elementNodes` (in the begin event only) gives the grid count of every element,
//   which is what the program's spinner needs to draw its characters;
// - factorisation: one step per eliminated column, nd - 1 in all (no events for nd < 2).
// Every phase sends one begin event (done = 0), advance events with growing `done`,
// and one end event. The fill's events come from one of its threads.
struct Progress {
  enum class Phase { kFill, kFactorisation };
  enum class Stage { kBegin, kAdvance, kEnd };
  Phase phase = Phase::kFill;
  Stage stage = Stage::kBegin;
  std::int64_t done = 0;
  std::int64_t total = 0;
  std::vector<int> elementNodes;
};

using ProgressCallback = std::function<void(const Progress&)>;

}  // namespace qbr
