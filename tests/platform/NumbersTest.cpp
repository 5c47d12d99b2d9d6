// Rounding to signed 32-bit integers under every floating-point rounding mode.

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/Failure.h"
#include "platform/Numbers.h"
#include "tests/support/Checks.h"

namespace corvald::test {
namespace {

TEST(Numbers, RoundToInt32GoesToTheNearestTiesToEvenInEveryRoundingMode) {
  const double infinity = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    std::int32_t expected;
    int failure;
  } cases[] = {
      {0.0, 0, 0},
      {-0.0, 0, 0},
      {0.49999999999999994, 0, 0},
      {0.5, 0, 0},
      {1.5, 2, 0},
      {2.5, 2, 0},
      {3.5, 4, 0},
      {2.6, 3, 0},
      {-0.5, 0, 0},
      {-1.5, -2, 0},
      {-2.5, -2, 0},
      {-2.6, -3, 0},
      {2147483646.5, 2147483646, 0},
      {2147483647.4, 2147483647, 0},
      {2147483647.5, 0, err::kOverflow},
      {2147483648.0, 0, err::kOverflow},
      {-2147483648.5, -2147483647 - 1, 0},
      {-2147483648.6, 0, err::kOverflow},
      {-2147483649.0, 0, err::kOverflow},
      {1e300, 0, err::kOverflow},
      {infinity, 0, err::kOverflow},
      {-infinity, 0, err::kOverflow},
      {std::nan(""), 0, err::kOverflow},
  };
  for (int mode : {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO}) {
    ASSERT_EQ(std::fesetround(mode), 0);
    for (const auto& c : cases) {
      std::int32_t result = 0;
      EXPECT_EQ(FailureNumberOf([&] { result = RoundToInt32(c.value); }), c.failure)
          << c.value << " in mode " << mode;
      EXPECT_EQ(result, c.expected) << c.value << " in mode " << mode;
    }
  }
  std::fesetround(FE_TONEAREST);
}

}  // namespace
}  // namespace corvald::test
