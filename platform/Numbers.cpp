// Rounding of numbers to signed 32-bit integers, ties to even.

#include "platform/Numbers.h"

#include <cmath>
#include <limits>

#include "platform/Failure.h"

namespace corvald {

namespace {

// Rounds to the nearest integer, ties to even, whatever the floating-point
// environment's rounding mode. value - floor(value) is exact for every double.
double RoundHalfToEven(double value) {
  const double below = std::floor(value);
  const double fraction = value - below;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0)) return below + 1.0;
  return below;
}

}  // namespace

std::int32_t RoundToInt32(double value) {
  const double rounded = RoundHalfToEven(value);
  // Written so that a NaN fails the test as well.
  if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
        rounded <= std::numeric_limits<std::int32_t>::max())) {
    Raise(err::kOverflow);
  }
  return static_cast<std::int32_t>(rounded);
}

}  // namespace corvald
