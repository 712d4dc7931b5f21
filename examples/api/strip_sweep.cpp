// The inductance of a superconducting microstrip against the strip width, and the share
// of the strip's current on its side facing the ground: a model built in code, solved
// three times.
#include <cstdio>
#include <qbr/qbr.hpp>

int main() try {
  for (double width : {1.0, 2.0, 4.0}) {
    qbr::Model model;
    model.lengthUnit("um").frequency(10, "ghz").lambda(0.09).ah(0.05);
    model.rectangle(-10, 10, -0.2, 0, 0, 0, 200, 5);                // ground, the return
    model.rectangle(-width / 2, width / 2, 0.2, 0.4, 1, 0, 50, 5);  // the strip
    const qbr::Result result = qbr::solve(model);
    // Element 4 is the strip's bottom side; each node carries its density over its share of
    // the outline.
    double bottom = 0.0;
    for (const qbr::NodeValue& node : result.excitations[0].nodes) {
      if (node.element == 4) bottom += node.currentDensity.real() * node.outlineShareM;
    }
    std::printf("width %.1f um: L = %.6g H/m, %.0f %% of the current at the bottom\n", width,
                result.inductanceHPerM(0, 0), 100 * bottom);
  }
  return 0;
} catch (const qbr::Error& error) {
  std::fprintf(stderr, "qbr stopped: %s\n", error.what());
  return 1;
}
