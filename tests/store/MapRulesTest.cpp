// The map name, map file path and map number rules, against values worked out by
// hand from the naming rules.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Failure.h"
#include "store/MapRules.h"
#include "tests/support/Support.h"

namespace corvald::test {
namespace {

using namespace std::string_literals;

TEST(MapRules, NameIsTheFirstThirtyCharactersWithoutOuterBlanks) {
  const struct {
    std::string record;
    std::string name;
  } cases[] = {
      {"", ""},
      {std::string(30, ' '), ""},
      {std::string(29, ' ') + "xy", "x"},
      {"Desert", "Desert"},
      {"Desert" + std::string(24, '\0') + "tail", "Desert" + std::string(24, '\0')},
      {"  Old  Town   ", "Old  Town"},
      {" \0x\0 "s, "\0x\0"s},
      {std::string(30, 'b'), std::string(30, 'b')},
      {std::string(30, 'c') + "d", std::string(30, 'c')},
      {"ab" + std::string(28, ' ') + "cd", "ab"},
  };
  for (const auto& c : cases) EXPECT_EQ(MapNameOf(c.record), c.name) << '"' << c.record << '"';
}

TEST(MapRules, SanitizingReplacesExactlyTheNineCharacters) {
  EXPECT_EQ(SanitizedMapName("a/b:c?"), "a_b_c_");
  EXPECT_EQ(SanitizedMapName("a.b-c"), "a.b-c");
  std::string every;
  for (int code = 0; code < 256; ++code) every.push_back(static_cast<char>(code));
  std::string expected = every;
  for (int code : {34, 42, 47, 58, 60, 62, 63, 92, 124}) expected[code] = '_';
  EXPECT_EQ(SanitizedMapName(every), expected);
}

TEST(MapRules, NumberFromFileNameReadsTheLeadingNumberOfTheCutText) {
  const struct {
    std::string fileName;
    std::int32_t number;
    int failure;
  } cases[] = {
      // The examples of the rule.
      {"Map #12 - x.map4", 12, 0},
      {"Map #5.map4", 0, 0},
      {"Map #abc - x.map4", 0, 0},
      {"Map #12 34 - x.map4", 1234, 0},
      // Short names and where the text starts and ends.
      {"", 0, 0},
      {"Map #7", 0, 0},
      {"Map #7 ", 7, 0},
      {"1234 56 x", 56, 0},
      // Blanks, tabs and line feeds skipped anywhere; a carriage return ends.
      {"Map #1 2\t3\n4 - x", 1234, 0},
      {"Map #- 7 x", -7, 0},
      {"Map #1\r2 x", 1, 0},
      {"Map #+7 - x", 7, 0},
      {"Map #.5 x", 0, 0},
      {"Map #.51 x", 1, 0},
      {"Map #-0.6 x", -1, 0},
      // Exponents, D as well as E.
      {"Map #1.5E3 - x", 1500, 0},
      {"Map #2e-1 - x", 0, 0},
      {"Map #25D-1 - x", 2, 0},
      {"Map #1E 2 x", 100, 0},
      {"Map #1e999 x", 0, err::kOverflow},
      {"Map #1e-999 x", 0, 0},
      {"Map #0.000000000000000000000000000000000000001e40 x", 10, 0},
      // Hexadecimal and octal: 16 bits when they fit, else 32.
      {"Map #&H1F - x", 31, 0},
      {"Map #&O17 - x", 15, 0},
      {"Map #&o177777 - x", -1, 0},
      {"Map #&HFFFF - x", -1, 0},
      {"Map #&H0000FFFF - x", -1, 0},
      {"Map #&H8000 - x", -32768, 0},
      {"Map #&H10000 - x", 65536, 0},
      {"Map #&H7FFFFFFF - x", 2147483647, 0},
      {"Map #&H80000000 - x", -2147483647 - 1, 0},
      {"Map #&H100000000 - x", 0, err::kOverflow},
      {"Map #&H1 ab", 427, 0},
      {"Map #&H - x", 0, 0},
      {"Map #&O8 - x", 0, 0},
      // Halves go to the even neighbour, also after many digits.
      {"Map #1.5 x", 2, 0},
      {"Map #2.5 x", 2, 0},
      {"Map #-1.5 x", -2, 0},
      {"Map #0000000000000000000002.5000000000000000000000000000 x", 2, 0},
      // The signed 32-bit limits.
      {"Map #2147483647 x", 2147483647, 0},
      {"Map #2147483648 x", 0, err::kOverflow},
      {"Map #2147483647.5 x", 0, err::kOverflow},
      {"Map #-2147483648 x", -2147483647 - 1, 0},
      {"Map #-2147483648.5 x", -2147483647 - 1, 0},
  };
  for (const auto& c : cases) {
    std::int32_t number = 0;
    EXPECT_EQ(FailureNumberOf([&] { number = MapNumberFromFileName(c.fileName); }), c.failure) << c.fileName;
    EXPECT_EQ(number, c.number) << c.fileName;
  }
}

TEST(MapRules, AFileNameMadeForANumberReadsBackAsThatNumber) {
  const std::string folder = "Maps\\";
  for (std::int32_t number : {0, 1, 2999, 3000, 3001, -1, -2147483647 - 1, 2147483647}) {
    for (const char* name : {"Desert", "a b", "E5", "", "&H1"}) {
      const std::string path = MapFileName(number, name);
      ASSERT_EQ(path.substr(0, folder.size()), folder);
      EXPECT_EQ(MapNumberFromFileName(path.substr(folder.size())), number) << path;
    }
  }
}

}  // namespace
}  // namespace corvald::test
