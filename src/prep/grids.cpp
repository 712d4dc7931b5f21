#include "prep/grids.hpp"

#include <cmath>
#include <iomanip>
#include <new>
#include <sstream>

#include "model/geometry.hpp"
#include "base/fatal_stop.hpp"
#include "prep/unknowns.hpp"

namespace qbr {

namespace {

// `gridCount` when given, else ceil(length / ah); bounded to 3..500. A count from `ah`
// that had to be bounded is reported, since the grid is then not the spacing the user
// asked for.
std::int32_t gridCountFor(const BoundaryElement& element, std::int32_t e, double ah, RunIo& io) {
  std::int32_t n = element.gridCount;
  if (n == 0) {
    const double count = std::ceil(element.length / ah);
    // Bounded while still a double: a count beyond the int range (ah zero or tiny)
    // must never reach the conversion. A NaN (ah not a number) has no sensible
    // count at all.
    if (std::isnan(count)) {
      std::ostringstream message;
      message << "\nElement " << e << " gets no grid count from length " << element.length
              << " and ah=" << ah << ";\n";
      fatalStop(message.str());
    }
    if (count >= kMinGridCount && count <= kMaxGridCount) return static_cast<std::int32_t>(count);
    const std::int32_t used = count > kMaxGridCount ? kMaxGridCount : kMinGridCount;
    std::ostringstream warning;
    warning << std::setprecision(15) << "Element " << e << ": ah asks for " << count
            << (count == 1.0 ? " node" : " nodes") << ", the grid has " << used << ";\n";
    const std::string line = warning.str();
    io.warn(line.substr(0, line.size() - 1), line, line);
    return used;
  }
  if (n < kMinGridCount) return kMinGridCount;
  if (n > kMaxGridCount) return kMaxGridCount;
  return n;
}

// The echo's wave/h measures the complex wavelength of each patch in steps of `ah`; grid
// counts given on the elements (or bounded) can make a grid coarser than that. For every
// patch whose coarsest grid is coarser than `ah`, the figure on that grid.
void reportCoarseGrids(const ProblemModel& model, std::ostream& log) {
  for (std::int32_t p = 0; p < model.patchCount && p < kMaxPatches; ++p) {
    double coarsest = 0.0;
    std::int32_t where = -1;
    for (std::int32_t e = 0; e < model.elementCount; ++e) {
      const BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
      if (element.patch != p || element.gridCount <= 0) continue;
      const double h = element.length / element.gridCount;
      if (h > coarsest) {
        coarsest = h;
        where = e;
      }
    }
    if (where < 0 || !(coarsest > model.ah * (1.0 + 1e-9))) continue;
    log << "Patch " << p
        << ": wave/h=" << model.patches[static_cast<std::size_t>(p)].wavelength / coarsest
        << " on its coarsest grid (element " << where << ", h=" << coarsest << ")\n";
  }
}

}  // namespace

void placeNodes(BoundaryElement& element, const PointTable& points, std::int32_t n) {
  element.gridCount = n;
  const std::size_t slots = static_cast<std::size_t>(n) + 1;
  try {
    element.nodeT.assign(slots, 0.0);
    element.nodeX.assign(slots, 0.0);
    element.nodeY.assign(slots, 0.0);
  } catch (const std::bad_alloc&) {
    fatalStop("\nCan not allocate grids\n");
  }

  const ElementGeometry geometry = element.geometry(points);
  if (geometry.hasEndPoints()) {
    // Midpoints of n equal parameter intervals: no node on an end point, where
    // neighbouring elements meet.
    const double half = 2.0 / (2.0 * n);
    const double step = (2.0 - 2.0 * half) / (n - 1);
    for (std::int32_t i = 1; i <= n; ++i) element.nodeT[i] = (i - 1) * step + half - 1.0;
  } else {
    // Right ends of n equal intervals round the closed circle; the last node is its
    // start and end point.
    const double step = 2.0 / n;
    for (std::int32_t i = 1; i <= n; ++i) element.nodeT[i] = i * step - 1.0;
  }
  for (std::int32_t i = 1; i <= n; ++i) {
    const Vec2 p = geometry.pointAt(element.nodeT[i]);
    element.nodeX[i] = p.x;
    element.nodeY[i] = p.y;
  }
}

void buildGrids(ProblemModel& model, RunIo& io) {
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
    placeNodes(element, model.points, gridCountFor(element, e, model.ah, io));
  }

  const Unknowns unknowns(model);
  model.nd0 = unknowns.nd0();
  model.nd = unknowns.nd();

  io.log << "\n\nnd=" << model.nd << "     nd0=" << model.nd0 << "\n\n";
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    io.log << "element " << e << "  ni=" << model.elements[static_cast<std::size_t>(e)].gridCount
           << "\n";
  }
  reportCoarseGrids(model, io.log);
  io.log << "\n";
  io.console << "Conductors:  " << model.conductorCount << "   Number of unknowns:  " << model.nd
             << "   Frequency:  " << model.frequency << " hz\n";
  io.log.flush();
}

}  // namespace qbr
