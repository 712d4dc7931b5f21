#pragma once

// Input files of the geometry that is hardest for the contact search (findContact), for
// the robustness test and bench/bench_contacts.cpp: two elements at a gap near the
// tolerance along their whole length, elements nine decades apart in length, neighbours
// at an angle near the tolerance over their length.

#include <cmath>
#include <fstream>
#include <initializer_list>
#include <iomanip>
#include <sstream>
#include <string>

#include "base/run_io.hpp"
#include "model/input_reader.hpp"
#include "model/problem_model.hpp"
#include "prep/setup.hpp"

namespace qbr::testing {

// The numbers after the keyword of an input line, with all their digits.
inline std::string numbersLine(const std::string& keyword, std::initializer_list<double> numbers) {
  std::ostringstream line;
  line << std::setprecision(17) << keyword;
  for (const double number : numbers) line << " " << number;
  return line.str() + "\n";
}

// A lens of radius 1e4 (an arc from -0.6 to 0.6 rad and its chord, conductor 1) under
// `sectors` ring sectors 2e3 deep (conductors 2, 3, ...), the inner arc of each following
// the arc below it at `gap`. The outer arcs stay put, so the extent, and with it the
// tolerance, does not depend on the gap.
inline std::string ringSectors(int sectors, double gap) {
  const double r = 1e4;
  const double angle = 0.6;
  const auto arc = [](int c, double radius, double from, double to) {
    const double mid = 0.5 * (from + to);
    return numbersLine("el 1", {double(c), radius * std::cos(from), radius * std::sin(from),
                                radius * std::cos(mid), radius * std::sin(mid),
                                radius * std::cos(to), radius * std::sin(to)});
  };
  const auto radial = [](int c, double from, double to, double at) {
    return numbersLine("el 0", {double(c), from * std::cos(at), from * std::sin(at),
                                to * std::cos(at), to * std::sin(at)});
  };
  std::string text = "lambda 0.1\n" + arc(1, r, -angle, angle) +
                     numbersLine("el 0", {1.0, r * std::cos(angle), r * std::sin(angle),
                                          r * std::cos(angle), -r * std::sin(angle)});
  for (int k = 0; k < sectors; ++k) {
    const double inner = r * (1.0 + 0.2 * k) + gap;
    const double outer = r * (1.0 + 0.2 * (k + 1));
    text += arc(k + 2, inner, angle, -angle) + radial(k + 2, inner, outer, -angle) +
            arc(k + 2, outer, -angle, angle) + radial(k + 2, outer, inner, angle);
  }
  return text;
}

// A strip 10 wide (conductor 1) `gap` above a ground 1e9 long and 10 thick.
inline std::string stripOverLongGround(double gap) {
  return "lambda 0.1\nrect -5e8 5e8 -10 0 0\n" + numbersLine("rect", {0.0, 10.0, gap, 20.0, 1.0});
}

// A triangle 1e4 long and `height` high: its long sides meet at an angle of height/1e4.
inline std::string sliverTriangle(double height) {
  return "lambda 0.1\n" + numbersLine("el 0", {1.0, 0.0, 0.0, 1e4, 0.0}) +
         numbersLine("el 0", {1.0, 1e4, 0.0, 1e4, height}) +
         numbersLine("el 0", {1.0, 1e4, height, 0.0, 0.0});
}

// The model of `input`, read and set up as a run does; the file is written to `path`.
inline ProblemModel modelOfInput(const std::string& input, const std::string& path) {
  std::ofstream(path) << input;
  std::ostringstream console;
  std::ostringstream log;
  RunIo io{console, log};
  ProblemModel model;
  setDefaults(model);
  readInputFile(model, path);
  setUpModel(model, io);
  return model;
}

}  // namespace qbr::testing
