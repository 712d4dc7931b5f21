#pragma once

#include <string>

namespace qbr::bench {

// A generated cross-section: the input text as a user would write it, and the number of
// unknowns its grid counts give.
struct GeneratedModel {
  std::string name;  // "strips" or "coax"
  std::string text;
  int nd = 0;
};

// Superconducting strips (lambda 0.09 um, 0.2 um thick, 2 to 10 um wide) 0.2 um above a
// 40 um superconducting ground strip (conductor 0), each a rectangle. Grid counts follow
// one step along every side, shortened until nd is as close to targetNd as the counts
// allow; three strips reach nd 16004 with every side at 500 nodes, four (20 elements,
// the table's capacity) reach 20005.
GeneratedModel stripsModel(int targetNd, int strips = 3);

// Copper coax (wire radius 0.5 mm, tube 1.75 to 2 mm) at 1 kHz, where the skin depth
// (2.1 mm) exceeds every radius: no Helmholtz kernel is cut off, the hardest case for the
// fill. Three circles, so nd is at most 3002.
GeneratedModel coaxModel(int targetNd);

// The model by name ("strips", "strips4" or "coax"); throws std::invalid_argument for
// another name.
GeneratedModel generatedModel(const std::string& name, int targetNd);

// Largest nd a generated model reaches.
int maximumNd(const std::string& name);

}  // namespace qbr::bench
