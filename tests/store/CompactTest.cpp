#include <gtest/gtest.h>

#include "store/EngineErrors.h"
#include "tests/store/EngineTestSupport.h"
#include "tests/support/TempProgramFolder.h"

namespace corvald::test {
namespace {

namespace err = engine::err;

void Compact(const char* source = "server.tmp", const char* destination = "server.dat",
             const char* sourceLocale = ";pwd=brevola", std::int16_t options = 0) {
  engine::Engine().CompactDatabase(source, destination, "", options, sourceLocale);
}

std::vector<MapRow> SomeRows(int count) {
  std::vector<MapRow> rows;
  for (int i = 0; i < count; ++i)
    rows.push_back({(i * 7) % count, std::string(500 + i, static_cast<char>(i))});
  return rows;
}

// The shell opens the copy with the same password and finds the same schema and
// rows; the space that deleted rows freed stays behind.
TEST(CompactDatabase, TheCopyKeepsPasswordTableIndexRowsAndUserVersion) {
  for (const int count : {0, 300}) {
    SCOPED_TRACE(count);
    TempProgramFolder folder;
    MakeMapsDatabase("server.tmp", kServerPassword, SomeRows(count));
    RunSqlcipherShell("server.tmp", kServerPassword,
                      "DELETE FROM Maps WHERE Number >= 40; PRAGMA user_version = 42;");
    const std::vector<MapRow> rows = ReadMapsWithShell("server.tmp", kServerPassword);
    const std::string source = FileBytes("server.tmp");

    Compact();

    EXPECT_EQ(FileBytes("server.tmp"), source);
    EXPECT_EQ(RunSqlcipherShell("server.dat", kServerPassword,
                                "SELECT type, name, tbl_name FROM sqlite_master ORDER BY type, name;\n"
                                "PRAGMA index_info(Number);\nPRAGMA user_version;"),
              "index|Number|Maps\ntable|Maps|Maps\n0|0|Number\n42\n");
    EXPECT_EQ(RunSqlcipherShell("server.dat", kServerPassword,
                                "SELECT sql FROM sqlite_master WHERE name = 'Maps';"),
              RunSqlcipherShell("server.tmp", kServerPassword,
                                "SELECT sql FROM sqlite_master WHERE name = 'Maps';"));
    EXPECT_EQ(ReadMapsWithShell("server.dat", kServerPassword), rows);
    auto maps = OpenMaps(*OpenServer());
    EXPECT_EQ(maps->RecordCount(), static_cast<std::int32_t>(rows.size()));
    EXPECT_EQ(Walk(*maps).size(), rows.size());
    if (count > 0) {
      EXPECT_LT(std::filesystem::file_size("server.dat") * 5, std::filesystem::file_size("server.tmp"));
    }
    EXPECT_EQ(FailureNumberOf([] { OpenServer("server.dat", ";pwd=other"); }), err::kWrongPassword);
  }
}

TEST(CompactDatabase, FailuresWriteNothing) {
  struct Case {
    const char* what;
    const char* sourceLocale;
    bool destinationExists;
    std::int16_t options;
    int expected;
  };
  const std::vector<Case> cases = {
      {"wrong password", ";pwd=brevolA", false, 0, err::kWrongPassword},
      {"no password", "", false, 0, err::kWrongPassword},
      {"destination exists", ";pwd=brevola", true, 0, err::kDatabaseExists},
      {"options", ";pwd=brevola", false, 1, err::kInvalidArgument},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempProgramFolder folder;
    MakeMapsDatabase("server.tmp", kServerPassword, {{1, "a"}});
    if (c.destinationExists) folder.WriteFile("server.dat", "already here");
    const std::string source = FileBytes("server.tmp");
    const std::vector<std::string> entries = FolderEntries();

    EXPECT_EQ(FailureNumberOf([&] { Compact("server.tmp", "server.dat", c.sourceLocale, c.options); }),
              c.expected);

    EXPECT_EQ(FileBytes("server.tmp"), source);
    EXPECT_EQ(FolderEntries(), entries);
    if (c.destinationExists) {
      EXPECT_EQ(folder.ReadFile("server.dat"), "already here");
    }
  }
}

// A page deep inside fails only once the copy is well under way; the partial
// copy goes.
TEST(CompactDatabase, AMissingOrDamagedSourceOrAnUnusableDestinationMakesNoCopy) {
  TempProgramFolder folder;
  EXPECT_EQ(FailureNumberOf([] { Compact(); }), err::kFileNotFound);
  folder.WriteFile("server.tmp", "");
  EXPECT_EQ(FailureNumberOf([] { Compact(); }), err::kNotADatabase);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"server.tmp"});

  std::filesystem::remove("server.tmp");
  MakeMapsDatabase("server.tmp", kServerPassword, SomeRows(20));
  EXPECT_EQ(FailureNumberOf([] { Compact("server.tmp", "missing/server.dat"); }), err::kCannotOpen);
  DamagePage("server.tmp", 15);
  const std::string source = FileBytes("server.tmp");
  EXPECT_NE(FailureNumberOf([] { Compact(); }), 0);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"server.tmp"});
  EXPECT_EQ(FileBytes("server.tmp"), source);
}

}  // namespace
}  // namespace corvald::test
