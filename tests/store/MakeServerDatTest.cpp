#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <set>

#include "store/engine/MakeDatabase.h"
#include "tests/store/EngineTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempProgramFolder.h"

namespace corvald::test {
namespace {

int RunTool(const std::string& arguments) {
  return std::system((std::string(MAKE_SERVER_DAT_PATH) + " " + arguments + " 2>/dev/null").c_str());
}

std::uint32_t LittleEndianLength(const std::string& blob) {
  std::uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(blob[i]);
  return length;
}

// Expands each blob's zlib stream (after its 4-byte length) with Python's zlib.
std::vector<std::string> ExpandWithPython(const std::vector<MapRow>& rows) {
  std::filesystem::create_directory("streams");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::ofstream("streams/" + std::to_string(i), std::ios::binary) << rows[i].data.substr(4);
  }
  const std::string script =
      "import os, zlib\n"
      "for name in os.listdir('streams'):\n"
      "    path = os.path.join('streams', name)\n"
      "    data = zlib.decompress(open(path, 'rb').read())\n"
      "    open(path + '.out', 'wb').write(data)\n";
  std::ofstream("expand.py") << script;
  EXPECT_EQ(std::system("python3 expand.py"), 0);
  std::vector<std::string> records;
  for (std::size_t i = 0; i < rows.size(); ++i)
    records.push_back(FileBytes("streams/" + std::to_string(i) + ".out"));
  return records;
}

constexpr char kExpectedSchema[] =
    "CREATE TABLE Maps (Number INTEGER, Data BLOB);\n"
    "CREATE INDEX Number ON Maps (Number);\n";

TEST(MakeServerDat, TheSampleHoldsAFewDozenNamedCompressedMaps) {
  TempProgramFolder folder;
  ASSERT_EQ(RunTool("server.dat"), 0);
  EXPECT_EQ(RunSqlcipherShell("server.dat", kServerPassword, ".schema"), kExpectedSchema);

  const std::vector<MapRow> rows = ReadMapsWithShell("server.dat", kServerPassword);
  EXPECT_GE(rows.size(), 24u);
  EXPECT_LE(rows.size(), 60u);
  const std::vector<std::string> records = ExpandWithPython(rows);
  ASSERT_EQ(records.size(), rows.size());
  std::set<std::int64_t> numbers;
  std::set<std::string> names;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(rows[i].number);
    EXPECT_GE(*rows[i].number, 1);
    EXPECT_LE(*rows[i].number, 3000);
    numbers.insert(*rows[i].number);
    EXPECT_EQ(LittleEndianLength(rows[i].data), records[i].size());
    EXPECT_GE(records[i].size(), 30u + 1024u);
    const std::string name = records[i].substr(0, 30);
    EXPECT_NE(name.front(), ' ');
    names.insert(name);
  }
  EXPECT_EQ(numbers.size(), rows.size());
  EXPECT_EQ(names.size(), rows.size());
  EXPECT_TRUE(names.count(std::string("Harbour").append(23, ' ')));

  // The engine layer reads the same rows, in number order.
  const std::vector<MapRow> walked = Walk(*OpenMaps(*OpenServer()));
  ASSERT_EQ(walked.size(), rows.size());
  for (std::size_t i = 0; i + 1 < walked.size(); ++i) EXPECT_LT(*walked[i].number, *walked[i + 1].number);
}

// "--empty" makes the table and index without rows.
TEST(MakeServerDat, NeverOverwritesAndChecksItsArguments) {
  TempProgramFolder folder;
  ASSERT_EQ(RunTool("empty.dat --empty"), 0);
  EXPECT_EQ(RunSqlcipherShell("empty.dat", kServerPassword, ".schema\nSELECT count(*) FROM Maps;"),
            std::string(kExpectedSchema) + "0\n");
  std::filesystem::remove("empty.dat");
  folder.WriteFile("server.dat", "keep me");
  EXPECT_NE(RunTool("server.dat"), 0);
  EXPECT_EQ(folder.ReadFile("server.dat"), "keep me");
  EXPECT_NE(RunTool(""), 0);
  EXPECT_NE(RunTool("other.dat --full"), 0);
  EXPECT_NE(RunTool("missing/other.dat"), 0);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"server.dat"});
}

// A disk that fills up part-way through the rows (a file size limit stands in for
// it): the failure comes out and no file is left behind.
TEST(MakeServerDat, AFailurePartWayLeavesNoFileBehind) {
  TempProgramFolder folder;
  std::vector<engine::MapsRow> rows;
  for (int number = 1; number <= 64; ++number) rows.push_back({number, std::string(65536, 'x')});
  const int status = RunInChild([&] {
    LimitFileSize(256 * 1024);
    _exit(FailureNumberOf([&] { engine::MakeServerDatabase("server.dat", rows); }) != 0 ? 0 : 5);
  });

  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{});
}

}  // namespace
}  // namespace corvald::test
