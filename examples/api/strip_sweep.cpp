// The inductance of a superconducting microstrip against the strip width, and the share
// of the current on the strip's side facing the ground: a model built in code, solved
// three times.
#include <cstdio>
#include <cstdlib>

#include <qbr/qbr.hpp>

int main() {
  try {
    for (double width : {1.0, 2.0, 4.0}) {
      qbr::Model model;
      model.lengthUnit("um").frequency(10, "ghz").lambda(0.09).ah(0.05);
      model.rectangle(-10, 10, -0.2, 0, 0, 0, 200, 5);  // ground strip, the return
      model.rectangle(-width / 2, width / 2, 0.2, 0.4, 1, 0, 50, 5);  // the strip
      const qbr::Result result = qbr::solve(model);
      std::printf("width %.1f um: L = %.6g H/m, nd = %d, %.2f s\n", width,
                  result.inductanceHPerM(0, 0), result.nd, result.times.total);
      // The strip's bottom side is element 4 (the ground's four sides come first); its
      // 50 nodes sit in the middles of equal cells. Current density times cell length,
      // summed: the share of the strip's current that flows on the side facing the ground.
      const double cell = width / 50 * result.lengthUnitM;
      double bottom = 0.0;
      for (const qbr::NodeValue& node : result.excitations[0].nodes) {
        if (node.element == 4) bottom += node.currentDensity.real() * cell;
      }
      std::printf("  %.0f %% of the current on the bottom side\n", 100 * bottom);
    }
  } catch (const qbr::Error& error) {
    std::fprintf(stderr, "qbr stopped: %s\n", error.what());
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
