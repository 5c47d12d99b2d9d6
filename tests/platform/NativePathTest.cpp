#include <gtest/gtest.h>

#include "platform/Failure.h"
#include "platform/Files.h"

namespace corvald {
namespace {

TEST(NativePath, BuildsNativePathsFromBothSeparators) {
  const struct {
    std::string program;
    std::string native;
  } cases[] = {
      {"server.dat", "server.dat"},
      {"Maps\\Map #7 - Desert.map4", "Maps/Map #7 - Desert.map4"},
      {"Maps/Map #7 - Desert.map4", "Maps/Map #7 - Desert.map4"},
      {"Maps\\\\.\\x", "Maps/x"},
      {"Maps\\", "Maps"},
      {".", "."},
      {"caf\xe9 [1] {2} #%&.map4", "caf\xc3\xa9 [1] {2} #%&.map4"},
      {"\x80\x81", "\xe2\x82\xac\xc2\x81"},
  };
  for (const auto& c : cases) EXPECT_EQ(NativePath(c.program).string(), c.native) << c.program;
}

TEST(NativePath, RejectsNamesThatWindowsRejectsAndPathsThatLeaveTheFolder) {
  const std::string bad[] = {
      "",
      "a\"b",
      "a*b",
      "a:b",
      "a<b",
      "a>b",
      "a?b",
      "a|b",
      "a\tb",
      std::string("a\0b", 3),
      "a\x1f",
      "\\abs",
      "/abs",
      "..",
      "Maps\\..\\..\\x",
      "C:\\x",
      "Maps\\Map #1 - a/../../../evil.map4",
  };
  for (const std::string& path : bad) {
    try {
      NativePath(path);
      ADD_FAILURE() << "accepted: " << path;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.Number(), err::kBadFileName) << path;
    }
  }
}

}  // namespace
}  // namespace corvald
