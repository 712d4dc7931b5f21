#pragma once

#include "model/problem_model.hpp"

namespace qbr {

// Stops the run before the expensive phases when the system would be singular or
// its kernels undefined, which would otherwise end in a matrix of not-a-numbers
// reported as a success: a reported conductor without elements; an element on a
// patch without a usable wave number (zero, not finite, or never computed because no
// "patch" line defines it); a patch boundary that is not made of closed loops run in
// one sense; outlines that meet or run the wrong way (checkOutlines); with symmetry on,
// an element below the mirror line y = 0; the impedance report at zero frequency,
// where L = X / omega has no value.
void checkModelIsSolvable(const ProblemModel& model);

// The geometric part: every patch boundary made of closed loops, no two elements that
// cross, overlap or touch (but for the end points neighbours share), every loop run
// counter-clockwise around metal and clockwise around a hole, and no loop inside the
// metal of another conductor.
void checkOutlines(const ProblemModel& model);

}  // namespace qbr
