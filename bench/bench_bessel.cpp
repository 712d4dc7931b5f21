// Cost of one Hankel evaluation per branch, and of the order-0/order-1 pair call that the
// matrix fill uses against two separate calls.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstddef>

#include "bem/hankel.hpp"

namespace {

using qbr::Complex;

// Arguments k r on the normal-metal ray arg -pi/4 (second kind) and on the superconductor
// axis (first kind), with moduli spread over one branch.
template <std::size_t N>
std::array<Complex, N> onRay(double arg, double fromModulus, double toModulus) {
  std::array<Complex, N> z{};
  for (std::size_t i = 0; i < N; ++i)
    z[i] = std::polar(fromModulus + (toModulus - fromModulus) * i / (N - 1), arg);
  return z;
}

constexpr std::size_t kCount = 64;
const double kQuarterPi = std::atan(1.0);
const auto kSmall = onRay<kCount>(-kQuarterPi, 0.05, 8.0);
const auto kAsymptotic = onRay<kCount>(-kQuarterPi, 8.05, 28.0);
const auto kBeyondCutOff = onRay<kCount>(-kQuarterPi, 28.5, 60.0);
const auto kSmallAxis = onRay<kCount>(2.0 * kQuarterPi, 0.05, 8.0);
const auto kAsymptoticAxis = onRay<kCount>(2.0 * kQuarterPi, 8.05, 20.0);

template <typename F>
void run(benchmark::State& state, const std::array<Complex, kCount>& args, F f) {
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f(args[i]));
    i = (i + 1) % kCount;
  }
}

void hankel0SecondSmall(benchmark::State& s) {
  run(s, kSmall, qbr::hankel0Second);
}
void hankel0SecondAsymptotic(benchmark::State& s) {
  run(s, kAsymptotic, qbr::hankel0Second);
}
void hankel0SecondBeyondCutOff(benchmark::State& s) {
  run(s, kBeyondCutOff, qbr::hankel0Second);
}
void hankel1SecondSmall(benchmark::State& s) {
  run(s, kSmall, qbr::hankel1Second);
}
void hankel1SecondAsymptotic(benchmark::State& s) {
  run(s, kAsymptotic, qbr::hankel1Second);
}

qbr::HankelPair separateSecond(Complex z) {
  return {qbr::hankel0Second(z), qbr::hankel1Second(z)};
}
qbr::HankelPair separateFirst(Complex z) {
  return {qbr::hankel0First(z), qbr::hankel1First(z)};
}

void pairSecondSmall(benchmark::State& s) {
  run(s, kSmall, qbr::hankelSecondPair);
}
void separateSecondSmall(benchmark::State& s) {
  run(s, kSmall, separateSecond);
}
void pairSecondAsymptotic(benchmark::State& s) {
  run(s, kAsymptotic, qbr::hankelSecondPair);
}
void separateSecondAsymptotic(benchmark::State& s) {
  run(s, kAsymptotic, separateSecond);
}
void pairFirstSmallAxis(benchmark::State& s) {
  run(s, kSmallAxis, qbr::hankelFirstPair);
}
void separateFirstSmallAxis(benchmark::State& s) {
  run(s, kSmallAxis, separateFirst);
}
void pairFirstAsymptoticAxis(benchmark::State& s) {
  run(s, kAsymptoticAxis, qbr::hankelFirstPair);
}
void separateFirstAsymptoticAxis(benchmark::State& s) {
  run(s, kAsymptoticAxis, separateFirst);
}
void pairSecondBeyondCutOff(benchmark::State& s) {
  run(s, kBeyondCutOff, qbr::hankelSecondPair);
}

BENCHMARK(hankel0SecondSmall);
BENCHMARK(hankel0SecondAsymptotic);
BENCHMARK(hankel0SecondBeyondCutOff);
BENCHMARK(hankel1SecondSmall);
BENCHMARK(hankel1SecondAsymptotic);
BENCHMARK(pairSecondSmall);
BENCHMARK(separateSecondSmall);
BENCHMARK(pairSecondAsymptotic);
BENCHMARK(separateSecondAsymptotic);
BENCHMARK(pairFirstSmallAxis);
BENCHMARK(separateFirstSmallAxis);
BENCHMARK(pairFirstAsymptoticAxis);
BENCHMARK(separateFirstAsymptoticAxis);
BENCHMARK(pairSecondBeyondCutOff);

}  // namespace
