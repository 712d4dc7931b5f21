#pragma once

#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "model/problem_model.hpp"
#include "prep/element_paths.hpp"
#include "prep/loops.hpp"

namespace qbr {

// Two elements closer than this count as meeting: 1e-9 of the model's extent, plus
// the rounding of its largest coordinate. Films and gaps of 1e-6 of the extent stay
// far above it; shared points that differ by rounding stay below.
double contactTolerance(const ProblemModel& model);

// A point that two neighbouring elements of one loop share: the first element's
// parameter there and the second's, each -1 (start) or +1 (end).
struct SharedEnd {
  double first = 1.0;
  double second = -1.0;
};

// Each of these returns a point where the two paths come within `tolerance` of each
// other, or nothing when they keep further apart everywhere than 7/8 of it (between the
// two, either). The answers are guaranteed: roots are bracketed by enclosures of the
// whole parameter range (Bernstein control points, the implicit equation of a
// parabola), never found by sampling. `pieces`, if given, gathers the number of pieces
// of the parameter ranges the search took.
//
// Lines and curves. Where they share end points (`shared`), contact there is expected,
// and near it the tolerance shrinks in proportion to the parameter distance from it:
// two neighbours meet elsewhere only when they run back over each other, which at the
// shared point itself means a zero angle between them.
std::optional<Vec2> pathsMeet(const QuadraticPath& p, const QuadraticPath& q,
                              const std::vector<SharedEnd>& shared, double tolerance,
                              long* pieces = nullptr);
std::optional<Vec2> circleMeetsPath(const CirclePath& circle, const QuadraticPath& path,
                                    double tolerance, long* pieces = nullptr);
std::optional<Vec2> circlesMeet(const CirclePath& first, const CirclePath& second,
                                double tolerance);
// A curve whose three points lie on one line with the middle one not between the
// others runs back over its own track.
std::optional<Vec2> pathDoublesBack(const QuadraticPath& path, double tolerance);

// The points that neighbours share, per pair of element numbers (lower first).
using SharedEndMap = std::map<std::pair<std::int32_t, std::int32_t>, std::vector<SharedEnd>>;
SharedEndMap sharedEnds(const std::vector<Loop>& loops);

// Two elements that meet (second == first: a curve that runs back over itself), and a
// point where they do.
struct Contact {
  std::int32_t first = 0;
  std::int32_t second = 0;
  Vec2 point;
};
std::optional<Contact> findContact(const ProblemModel& model, const std::vector<Loop>& loops,
                                   long* pieces = nullptr);

// Stops the run at the first element that runs back over itself, or the first pair of
// elements that cross, overlap or touch anywhere but at the end point two neighbours
// of one loop share. The message names both and where they meet.
void checkElementsDoNotMeet(const ProblemModel& model, const std::vector<Loop>& loops);

}  // namespace qbr
