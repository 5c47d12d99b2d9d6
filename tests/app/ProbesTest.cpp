#include <gtest/gtest.h>

#include <filesystem>

#include "app/modCorvald.h"
#include "tests/support/TempProgramFolder.h"

namespace corvald {
namespace {

namespace fs = std::filesystem;

// A plain file counts for DirExists too, so that a file named "Maps" passes for the folder.
TEST(Probes, FileExistsCountsOrdinaryFilesAndDirExistsFoldersToo) {
  test::TempProgramFolder folder;
  folder.WriteFile("server.dat", "");
  folder.WriteFile(".zlib.dll", "");
  fs::create_directory("zlib.dll");
  fs::create_directory("Maps");
  fs::create_directory(".hiddendir");

  const struct {
    const char* path;
    bool file;
    bool dir;
  } cases[] = {
      {"server.dat", true, true},  {"zlib.dll", false, true},    {"Maps", false, true},
      {".zlib.dll", false, false}, {".hiddendir", false, false}, {"missing", false, false},
      {"server.*", true, true},    {"*.dll", false, true},       {"Ma?s", false, true},
      {"Maps\\x", false, false},   {"", false, false},           {"server.dat\\x", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileExists(c.path), c.file) << c.path;
    EXPECT_EQ(DirExists(c.path), c.dir) << c.path;
  }
}

}  // namespace
}  // namespace corvald
