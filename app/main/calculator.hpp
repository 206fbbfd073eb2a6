#pragma once
// CALCULATOR: a reverse Polish calculator on complex values of 32-bit reals,
// with a 50-entry stack, four registers and a memory that are kept for the
// run, read through the core services' prompts so that macros can drive it.

#include <array>
#include <complex>

#include "core/types.hpp"

namespace kesta {

using CalcValue = std::complex<float>;

inline constexpr int kCalcStackSize = 50;

// The calculator's state, kept from one CALCULATOR command to the next.
struct KztCalculator {
  std::array<CalcValue, kCalcStackSize> stack{};  // entry 0 is the bottom
  int count = 0;
  std::array<CalcValue, 4> registers{};
  CalcValue memory{};
  int last_variable = 0;  // number of the variable VARIABLE used last
};
inline KztCalculator kzt_calculator;

// Runs the calculator's sub-menu until EXIT or QUIT (or the end of the input).
void KZT_CALCULATOR(Status& status);

// Pushes VALUE; a full stack drops its bottom entry first.
void KZT_PUSHSTACK(CalcValue value, int max, int& count, CalcValue* stack);

}  // namespace kesta
