#pragma once

// Conversion of numbers to the program's signed 32-bit integers.

#include <cstdint>

namespace corvald {

// A number as a signed 32-bit integer: a fraction goes to the nearest integer, ties
// to even, whatever the floating-point environment's rounding mode. Raises
// err::kOverflow for a value outside the 32-bit range or not a number.
std::int32_t RoundToInt32(double value);

}  // namespace corvald
