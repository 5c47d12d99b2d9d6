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

TEST(CompactDatabase, TheCopyKeepsPasswordTableIndexRowsAndUserVersion) {
  TempProgramFolder folder;
  const std::vector<MapRow> rows = SomeRows(40);
  MakeMapsDatabase("server.tmp", kServerPassword, rows);
  RunSqlcipherShell("server.tmp", kServerPassword, "PRAGMA user_version = 42;");
  const std::string source = FileBytes("server.tmp");

  Compact();

  EXPECT_EQ(FileBytes("server.tmp"), source);
  // The shell opens the copy with the same password and finds the same schema and rows.
  EXPECT_EQ(RunSqlcipherShell("server.dat", kServerPassword,
                              "SELECT type, name, tbl_name FROM sqlite_master ORDER BY type, name;\n"
                              "PRAGMA index_info(Number);\nPRAGMA user_version;"),
            "index|Number|Maps\ntable|Maps|Maps\n0|0|Number\n42\n");
  EXPECT_EQ(
      RunSqlcipherShell("server.dat", kServerPassword, "SELECT sql FROM sqlite_master WHERE name = 'Maps';"),
      RunSqlcipherShell("server.tmp", kServerPassword, "SELECT sql FROM sqlite_master WHERE name = 'Maps';"));
  EXPECT_EQ(ReadMapsWithShell("server.dat", kServerPassword), rows);
  EXPECT_EQ(Walk(*OpenMaps(*OpenServer())).size(), rows.size());
  EXPECT_EQ(FailureNumberOf([] { OpenServer("server.dat", ";pwd=other"); }), err::kWrongPassword);
}

TEST(CompactDatabase, TheCopyLeavesFreedSpaceBehind) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.tmp", kServerPassword, SomeRows(300));
  RunSqlcipherShell("server.tmp", kServerPassword, "DELETE FROM Maps WHERE Number >= 10;");
  Compact();
  EXPECT_LT(std::filesystem::file_size("server.dat") * 5, std::filesystem::file_size("server.tmp"));
  EXPECT_EQ(ReadMapsWithShell("server.dat", kServerPassword),
            ReadMapsWithShell("server.tmp", kServerPassword));
}

TEST(CompactDatabase, AnEmptyTableStaysAnEmptyTable) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.tmp", kServerPassword, {});
  Compact();
  auto maps = OpenMaps(*OpenServer());
  EXPECT_TRUE(maps->Bof() && maps->Eof());
  EXPECT_EQ(maps->RecordCount(), 0);
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

TEST(CompactDatabase, AMissingOrDamagedSourceMakesNoCopy) {
  TempProgramFolder folder;
  EXPECT_EQ(FailureNumberOf([] { Compact(); }), err::kFileNotFound);
  folder.WriteFile("server.tmp", "");
  EXPECT_EQ(FailureNumberOf([] { Compact(); }), err::kNotADatabase);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"server.tmp"});

  // A page deep inside fails only once the copy is well under way.
  std::filesystem::remove("server.tmp");
  MakeMapsDatabase("server.tmp", kServerPassword, SomeRows(20));
  DamagePage("server.tmp", 15);
  const std::string source = FileBytes("server.tmp");
  EXPECT_NE(FailureNumberOf([] { Compact(); }), 0);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"server.tmp"});
  EXPECT_EQ(FileBytes("server.tmp"), source);
}

TEST(CompactDatabase, AnUnusableDestinationLeavesNoFileBehind) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.tmp", kServerPassword, {{1, "a"}});
  EXPECT_EQ(FailureNumberOf([] { Compact("server.tmp", "missing/server.dat"); }), err::kCannotOpen);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"server.tmp"});
}

}  // namespace
}  // namespace corvald::test
