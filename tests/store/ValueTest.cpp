#include <gtest/gtest.h>

#include "platform/Failure.h"
#include "store/Engine.h"
#include "tests/store/EngineTestSupport.h"

namespace corvald::test {
namespace {

using engine::Value;

TEST(EngineValue, ToLongConvertsInRangeValuesAndRefusesTheRest) {
  struct Case {
    Value value;
    std::int32_t expected;
    int failure;
  };
  const std::vector<Case> cases = {
      {Value(std::int64_t{0}), 0, 0},
      {Value(std::int64_t{2147483647}), 2147483647, 0},
      {Value(std::int64_t{-2147483648LL}), -2147483647 - 1, 0},
      {Value(std::int64_t{2147483648LL}), 0, err::kOverflow},
      {Value(std::int64_t{-2147483649LL}), 0, err::kOverflow},
      {Value(2.5), 2, 0},
      {Value(2147483647.5), 0, err::kOverflow},
      {Value(std::string("12")), 12, 0},
      {Value(std::string(" -7 ")), -7, 0},
      {Value(std::string("1e3")), 1000, 0},
      {Value(std::string("1e999")), 0, err::kOverflow},
      {Value(std::string("")), 0, err::kTypeMismatch},
      {Value(std::string("12abc")), 0, err::kTypeMismatch},
      {Value(std::string("\x01\x02", 2)), 0, err::kTypeMismatch},
      {Value(), 0, err::kInvalidUseOfNull},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    std::int32_t result = 0;
    EXPECT_EQ(FailureNumberOf([&] { result = engine::ToLong(cases[i].value); }), cases[i].failure);
    EXPECT_EQ(result, cases[i].expected);
  }
}

TEST(EngineValue, ToTextGivesBytesUnchangedAndNumbersInShortForm) {
  EXPECT_EQ(engine::ToText(Value(std::string("a\0b\xFF", 4))), std::string("a\0b\xFF", 4));
  EXPECT_EQ(engine::ToText(Value(std::string())), "");
  EXPECT_EQ(engine::ToText(Value(std::int64_t{-42})), "-42");
  EXPECT_EQ(engine::ToText(Value(2.5)), "2.5");
  EXPECT_EQ(engine::ToText(Value(0.1)), "0.1");
  EXPECT_EQ(FailureNumberOf([] { engine::ToText(Value()); }), err::kInvalidUseOfNull);
}

}  // namespace
}  // namespace corvald::test
