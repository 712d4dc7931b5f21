#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/run_io.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// Draws the cross-section (every element, the axes x = 0 and y = 0, a label with the
// element index and conductor at every element) into the Encapsulated PostScript file
// `inputName` + ".eps", next to the input file. Announces the file on the log and the
// console. A file that cannot be opened stops the run on the console only.
// The outlines of dielectric regions and layers are drawn after the metal, dashed in
// grey and labelled d0, d1, ...; the window stays that of the metal.
void writeEpsPlot(const std::array<BoundaryElement, kMaxElements>& elements,
                  std::int32_t elementCount, bool symmetryOn, const std::string& inputName,
                  const PointTable& points, RunIo& io,
                  const std::vector<BoundaryElement>& dielectricOutlines = {});

// Maps v in [lo, hi] onto the page interval [a, b], truncated toward zero. Results far
// outside the page (and NaN) are held to a finite range so the conversion stays defined.
std::int32_t pageCoordinate(double v, int a, int b, double lo, double hi);

}  // namespace qbr
