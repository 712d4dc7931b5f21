#pragma once

#include <string>
#include <vector>

#include "model/geometry.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// One closed outline of a conductor: lines and curves of one conductor and patch
// chained end to start, or one circle.
struct Loop {
  std::int32_t conductor = 0;
  std::int32_t patch = 0;
  std::vector<std::int32_t> elements;  // in running order
  bool closed = false;                 // the last element ends where the first starts
};

// Chains every conductor's lines and curves (per patch) into loops by their shared
// point numbers, the lowest-numbered free element first wherever a point offers
// several; each circle is a loop of its own. A chain that cannot be closed is returned
// with `closed` false (the closed-boundary and intersection checks stop such models).
std::vector<Loop> findLoops(const ProblemModel& model);

// The area the closed loop encloses, positive when it runs counter-clockwise.
double signedArea(const ProblemModel& model, const Loop& loop);

// Whether `point`, which must not lie on the loop, is inside the closed loop.
bool loopEncloses(const ProblemModel& model, const Loop& loop, Vec2 point);

// "elements 4, 5, 6" or "element 2".
std::string elementList(const Loop& loop);

// The normals point into the metal only when every outline of metal runs
// counter-clockwise and every hole clockwise. A loop's role follows from its nesting
// among the loops of its own conductor: inside none (or an even number) it outlines
// metal, inside an odd number it outlines a hole. A loop run the wrong way for its
// role stops the run, and so does a loop that lies inside the metal of another
// conductor. Needs loops that do not meet (checkElementsDoNotMeet).
void checkLoopNesting(const ProblemModel& model, const std::vector<Loop>& loops);

}  // namespace qbr
