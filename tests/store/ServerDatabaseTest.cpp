// Loading the map table from databases that the sqlcipher shell made, and saving
// blobs that the shell then reads back.
#include <gtest/gtest.h>

#include <map>

#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "store/modDatabase.h"
#include "tests/store/EngineTestSupport.h"
#include "tests/support/Checks.h"
#include "tests/support/DatabaseFixture.h"
#include "tests/support/MapRecords.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/TempProgramFolder.h"

namespace corvald::test {
namespace {

MapRow Row(std::int64_t number, const std::string& record) { return {number, CompressData(record)}; }

class ServerDatabase : public testing::Test {
 protected:
  void SetUp() override { MapList = MapTable{}; }
  void TearDown() override { ShutDown(); }

  // Starts from a database with these rows; `afterwards` runs in the shell before
  // loading. Expects a load without messages.
  void Load(const std::vector<MapRow>& rows, std::string_view afterwards = {}) {
    MakeMapsDatabase("server.dat", kServerPassword, rows);
    if (!afterwards.empty()) RunSqlcipherShell("server.dat", kServerPassword, afterwards);
    MessageBoxRecorder boxes;
    ASSERT_TRUE(LoadServerDatabase());
    EXPECT_TRUE(boxes.Boxes().empty());
  }

  // Every slot against the expected records (all others empty).
  static void ExpectSlots(const std::map<std::int32_t, std::pair<std::string, std::string>>& expected) {
    for (std::int32_t n = 1; n <= MAX_MAPS; ++n) {
      const auto found = expected.find(n);
      const std::pair<std::string, std::string> slot =
          found == expected.end() ? std::pair<std::string, std::string>{} : found->second;
      EXPECT_EQ(MapList[n].Name, slot.first) << "slot " << n;
      EXPECT_EQ(MapList[n].Data, slot.second) << "slot " << n;
    }
  }

  TempProgramFolder folder_;
};

TEST_F(ServerDatabase, LoadsEveryNumberedRowIntoItsSlotOnce) {
  using namespace std::string_literals;
  const std::string harbour = NamedRecord("Harbour");
  const std::string padded = "Desert"s + std::string(24, '\0') + "sand";
  const std::string tabbed = "  \tOld  Town\t   ";
  const std::string blank = NamedRecord("");
  const std::string first = NamedRecord("First"), second = NamedRecord("Second");
  Load({Row(3001, harbour), Row(7, first), Row(0, harbour), Row(3000, harbour), Row(-5, harbour),
        Row(12, padded), Row(7, second), Row(13, tabbed), Row(14, blank), Row(1, "short  ")});

  EXPECT_EQ(rsMaps->RecordCount(), 10);
  ExpectSlots({{1, {"short", "short  "}},
               {7, {"Second", second}},
               {12, {"Desert"s + std::string(24, '\0'), padded}},
               {13, {"\tOld  Town\t", tabbed}},
               {14, {"", blank}},
               {3000, {"Harbour", harbour}}});
  EXPECT_TRUE(rsMaps->Eof());
}

TEST_F(ServerDatabase, LoadsAnEmptyTableAndATableWithDeletedRows) {
  // A copy that a killed compaction left goes at the next start-up.
  folder_.WriteFile("server.dat.compacting.0badc0de", "part of a copy");
  Load({});
  EXPECT_FALSE(std::filesystem::exists("server.dat.compacting.0badc0de"));
  EXPECT_EQ(rsMaps->RecordCount(), 0);
  ExpectSlots({});
  ShutDown();

  std::remove("server.dat");
  std::vector<MapRow> rows;
  for (int n = 1; n <= 40; ++n)
    rows.push_back(Row(n, NamedRecord("Map" + std::to_string(n), std::string(900, 'x'))));
  // Freed pages and a gap in the row ids, as a server that removed maps leaves them.
  Load(rows, "DELETE FROM Maps WHERE Number % 3 = 0; INSERT INTO Maps VALUES (6, " +
                 BlobLiteral(CompressData(NamedRecord("Back"))) + ");");
  EXPECT_EQ(rsMaps->RecordCount(), 28);
  std::map<std::int32_t, std::pair<std::string, std::string>> expected;
  for (int n = 1; n <= 40; ++n) {
    if (n % 3 != 0)
      expected[n] = {"Map" + std::to_string(n),
                     NamedRecord("Map" + std::to_string(n), std::string(900, 'x'))};
  }
  expected[6] = {"Back", NamedRecord("Back")};
  ExpectSlots(expected);
}

// A number held by two rows gets the blob in both: the load takes the later
// one, a reader that seeks the number finds the earlier one.
TEST_F(ServerDatabase, SaveMapBlobReplacesEveryRowOfTheNumberOrAddsOneCommittedRow) {
  MakeMapsDatabase("server.dat", kServerPassword, {Row(5, "old five"), Row(9, "nine"), Row(5, "later five")},
                   "CREATE TABLE Maps (Number INTEGER, Data BLOB, Note TEXT DEFAULT 'kept');"
                   "CREATE INDEX Number ON Maps (Number);");
  RunSqlcipherShell("server.dat", kServerPassword, "UPDATE Maps SET Note = 'mine' WHERE Number = 5;");
  MessageBoxRecorder boxes;
  ASSERT_TRUE(LoadServerDatabase());
  const std::string blob = CompressData(std::string("new\0five", 8));

  for (const std::int32_t number : {5, 0, -7, 4000}) {
    SCOPED_TRACE(number);
    SaveMapBlob(number, blob);
    // Committed: another program sees the row while the recordset stays open.
    EXPECT_EQ(RunSqlcipherShell("server.dat", kServerPassword,
                                "SELECT count(*), min(hex(Data) = '" +
                                    BlobLiteral(blob).substr(2, blob.size() * 2) +
                                    "'), Note FROM Maps WHERE Number = " + std::to_string(number) + ";"),
              number == 5 ? "2|1|mine\n" : "1|1|kept\n");
    EXPECT_TRUE(FindMap(number));
  }
  EXPECT_EQ(RunSqlcipherShell("server.dat", kServerPassword, "SELECT Number FROM Maps ORDER BY rowid;"),
            "5\n9\n5\n0\n-7\n4000\n");
  EXPECT_FALSE(FindMap(6));

  // Readers that may not write the folder need the file alone, in rollback-journal mode.
  FinishServerWrites();
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"server.dat"});
  EXPECT_EQ(RunSqlcipherShell("server.dat", kServerPassword, "PRAGMA journal_mode;"), "delete\n");
}

}  // namespace
}  // namespace corvald::test
