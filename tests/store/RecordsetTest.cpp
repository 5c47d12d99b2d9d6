#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "store/EngineErrors.h"
#include "tests/store/EngineTestSupport.h"
#include "tests/support/TempProgramFolder.h"

namespace corvald::test {
namespace {

namespace err = engine::err;
using engine::Value;

std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes;
}

// The rows sorted as an index on Number orders them: Null first, equal numbers
// in the order they were added.
std::vector<MapRow> InIndexOrder(std::vector<MapRow> rows) {
  std::stable_sort(rows.begin(), rows.end(),
                   [](const MapRow& a, const MapRow& b) { return a.number < b.number; });
  return rows;
}

TEST(Recordset, WalksInIndexOrderWithEqualNumbersInTheOrderAdded) {
  const std::vector<std::vector<MapRow>> tables = {
      {},
      {{5, "only"}},
      {{2, "b"}, {1, "a"}},
      {{3, "c1"}, {1, "a"}, {3, "c2"}, {2, "b"}, {3, "c3"}, {-5, "neg"}, {0, "zero"}, {3001, "big"}},
      {{std::nullopt, "null1"}, {1, "a"}, {std::nullopt, "null2"}, {-2147483648LL, "min"}},
  };
  for (const auto& rows : tables) {
    SCOPED_TRACE(rows.size());
    TempProgramFolder folder;
    MakeMapsDatabase("server.dat", kServerPassword, rows);
    auto database = OpenServer();
    auto maps = OpenMaps(*database);
    EXPECT_EQ(maps->Bof(), rows.empty());
    EXPECT_EQ(maps->Eof(), rows.empty());
    EXPECT_EQ(maps->RecordCount(), static_cast<std::int32_t>(rows.size()));
    EXPECT_EQ(Walk(*maps), InIndexOrder(rows));
    EXPECT_TRUE(maps->Eof());
    EXPECT_EQ(maps->Bof(), rows.empty());
  }
}

TEST(Recordset, WithoutAnIndexWalksInTheOrderAdded) {
  TempProgramFolder folder;
  const std::vector<MapRow> rows = {{3, "c"}, {1, "a"}, {2, "b"}};
  MakeMapsDatabase("server.dat", kServerPassword, rows);
  auto maps = OpenMaps(*OpenServer(), nullptr);
  EXPECT_EQ(Walk(*maps), rows);
}

TEST(Recordset, FollowsAnyIndexTheWayTheShellOrdersIt) {
  // Index shapes, each walked and compared with the shell's ORDER BY on the same columns.
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"A", "A"},
      {"A DESC", "A DESC"},
      {"A, B", "A, B"},
      {"A DESC, B", "A DESC, B"},
      {"B COLLATE NOCASE, A DESC", "B COLLATE NOCASE, A DESC"},
  };
  std::string inserts = "BEGIN;\n";
  std::mt19937 generator(11);
  const char* values[] = {"0", "1", "2", "'a'", "'A'", "'b'", "NULL"};
  for (int id = 0; id < 80; ++id) {
    inserts += "INSERT INTO T (Id, A, B) VALUES (" + std::to_string(id) + ", " + values[generator() % 7] +
               ", " + values[generator() % 7] + ");\n";
  }
  inserts += "COMMIT;\n";
  for (const auto& [index, order] : cases) {
    SCOPED_TRACE(index);
    TempProgramFolder folder;
    RunSqlcipherShell("t.dat", kServerPassword,
                      "CREATE TABLE T (Id INTEGER, A INTEGER, B TEXT);\nCREATE INDEX I ON T (" +
                          std::string(index) + ");\n" + inserts);
    const std::string expected = RunSqlcipherShell(
        "t.dat", kServerPassword, "SELECT Id FROM T ORDER BY " + std::string(order) + ", rowid;");

    auto table = OpenServer("t.dat")->TableDefs("T")->OpenRecordset(1);
    table->SetIndex("I");
    std::string walked;
    for (table->MoveFirst(); !table->Eof(); table->MoveNext())
      walked += engine::ToText(table->Field("Id")) + "\n";
    EXPECT_EQ(walked, expected);
  }
}

TEST(Recordset, MovingPastTheEndsIsNoCurrentRecord) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {});
  auto maps = OpenMaps(*OpenServer());
  EXPECT_EQ(FailureNumberOf([&] { maps->MoveFirst(); }), err::kNoCurrentRecord);
  EXPECT_EQ(FailureNumberOf([&] { maps->MoveNext(); }), err::kNoCurrentRecord);
  EXPECT_EQ(FailureNumberOf([&] { maps->Field("Number"); }), err::kNoCurrentRecord);
  EXPECT_EQ(FailureNumberOf([&] { maps->Edit(); }), err::kNoCurrentRecord);
  EXPECT_TRUE(maps->Bof());
  EXPECT_TRUE(maps->Eof());

  MakeMapsDatabase("one.dat", kServerPassword, {{1, "a"}});
  auto one = OpenMaps(*OpenServer("one.dat"));
  one->MoveNext();
  EXPECT_TRUE(one->Eof());
  EXPECT_EQ(FailureNumberOf([&] { one->MoveNext(); }), err::kNoCurrentRecord);
  EXPECT_EQ(FailureNumberOf([&] { one->Field("Data"); }), err::kNoCurrentRecord);
}

TEST(Recordset, SeekFindsTheFirstMatchInIndexOrder) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword,
                   {{3, "c1"}, {1, "a"}, {3, "c2"}, {std::nullopt, "null"}, {0, "zero"}});
  auto maps = OpenMaps(*OpenServer());
  struct Case {
    std::int32_t key;
    std::optional<std::string> data;
  };
  for (const Case& c : std::vector<Case>{{3, "c1"}, {1, "a"}, {0, "zero"}, {2, {}}, {4, {}}, {-1, {}}}) {
    SCOPED_TRACE(c.key);
    maps->Seek("=", c.key);
    EXPECT_EQ(maps->NoMatch(), !c.data);
    if (c.data) {
      EXPECT_EQ(engine::ToText(maps->Field("Data")), *c.data);
      EXPECT_EQ(engine::ToLong(maps->Field("Number")), c.key);
    } else {
      EXPECT_EQ(FailureNumberOf([&] { maps->Field("Data"); }), err::kNoCurrentRecord);
    }
  }
  // The walk goes on from the found row.
  maps->Seek("=", 1);
  maps->MoveNext();
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "c1");
  maps->MoveNext();
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "c2");
  maps->MoveNext();
  EXPECT_TRUE(maps->Eof());
}

TEST(Recordset, SeekNeedsAnIndexAndTheEqualComparison) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {{1, "a"}});
  auto database = OpenServer();
  auto unindexed = OpenMaps(*database, nullptr);
  EXPECT_EQ(FailureNumberOf([&] { unindexed->Seek("=", 1); }), err::kNoCurrentIndex);
  auto maps = OpenMaps(*database);
  for (const char* comparison : {"<", ">=", "", "=="}) {
    EXPECT_EQ(FailureNumberOf([&] { maps->Seek(comparison, 1); }), err::kInvalidArgument);
  }
}

TEST(Recordset, TheIndexMustExistOnThatTable) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {{2, "b"}, {1, "a"}},
                   std::string(kMapsSchema) + "CREATE TABLE Other (X);\nCREATE INDEX OtherX ON Other (X);\n");
  auto maps = OpenMaps(*OpenServer(), nullptr);
  for (const char* name : {"Numbers", "Data", "OtherX", ""}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(FailureNumberOf([&] { maps->SetIndex(name); }), err::kNotAnIndex);
  }
  maps->SetIndex("nUMBER");
  EXPECT_EQ(Walk(*maps), (std::vector<MapRow>{{1, "a"}, {2, "b"}}));
}

TEST(Recordset, AddedRowsAreSeenAtTheirPlaceAndCommittedAtOnce) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {{1, "a"}, {5, "e"}});
  auto maps = OpenMaps(*OpenServer());
  maps->Seek("=", 5);
  for (const MapRow& added : std::vector<MapRow>{{3, "c"}, {5, "e2"}, {0, "zero"}}) {
    maps->AddNew();
    maps->SetField("Number", *added.number);
    maps->SetField("Data", added.data);
    maps->Update();
  }
  // The current row stays the one before AddNew.
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "e");
  EXPECT_EQ(maps->RecordCount(), 5);
  EXPECT_EQ(Walk(*maps), (std::vector<MapRow>{{0, "zero"}, {1, "a"}, {3, "c"}, {5, "e"}, {5, "e2"}}));
  // Another process sees every row while the recordset is still open.
  EXPECT_EQ(ReadMapsWithShell("server.dat", kServerPassword),
            (std::vector<MapRow>{{1, "a"}, {5, "e"}, {3, "c"}, {5, "e2"}, {0, "zero"}}));
}

TEST(Recordset, EditChangesOnlyTheFieldsSet) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {{1, "a"}, {2, "b"}},
                   "CREATE TABLE Maps (Number INTEGER, Data BLOB, Note TEXT DEFAULT 'kept');\n"
                   "CREATE INDEX Number ON Maps (Number);\n");
  auto maps = OpenMaps(*OpenServer());
  maps->Seek("=", 2);
  maps->Edit();
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "b");
  maps->SetField("Data", std::string("new"));
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "new");
  maps->Update();
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "new");
  EXPECT_EQ(
      RunSqlcipherShell("server.dat", kServerPassword, "SELECT Number, Data, Note FROM Maps ORDER BY rowid;"),
      "1|a|kept\n2|new|kept\n");
  // A row added without a field takes the column's default.
  maps->AddNew();
  EXPECT_TRUE(std::holds_alternative<std::monostate>(maps->Field("Number")));
  maps->Update();
  EXPECT_EQ(RunSqlcipherShell("server.dat", kServerPassword,
                              "SELECT quote(Number), Note FROM Maps WHERE rowid = 3;"),
            "NULL|kept\n");
}

TEST(Recordset, AnEditThatChangesTheNumberMovesTheRowInTheIndex) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {{1, "a"}, {2, "b"}, {3, "c"}});
  auto maps = OpenMaps(*OpenServer());
  maps->Seek("=", 1);
  maps->Edit();
  maps->SetField("Number", std::int64_t{4});
  maps->Update();
  EXPECT_EQ(engine::ToLong(maps->Field("Number")), 4);
  maps->MoveNext();
  EXPECT_TRUE(maps->Eof());
  EXPECT_EQ(Walk(*maps), (std::vector<MapRow>{{2, "b"}, {3, "c"}, {4, "a"}}));
}

TEST(Recordset, ChangesNeedAddNewOrEditAndKnownFields) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {{1, "a"}});
  auto maps = OpenMaps(*OpenServer());
  EXPECT_EQ(FailureNumberOf([&] { maps->Update(); }), err::kUpdateWithoutAddNewOrEdit);
  EXPECT_EQ(FailureNumberOf([&] { maps->SetField("Data", std::string("x")); }),
            err::kUpdateWithoutAddNewOrEdit);
  EXPECT_EQ(FailureNumberOf([&] { maps->Field("Nope"); }), err::kItemNotFound);
  maps->AddNew();
  EXPECT_EQ(FailureNumberOf([&] { maps->SetField("Nope", std::int64_t{1}); }), err::kItemNotFound);
  EXPECT_EQ(FailureNumberOf([&] { maps->Update(2); }), err::kInvalidArgument);
  // Moving abandons the pending change.
  maps->MoveFirst();
  EXPECT_EQ(FailureNumberOf([&] { maps->Update(); }), err::kUpdateWithoutAddNewOrEdit);
  EXPECT_EQ(maps->RecordCount(), 1);
  // Field names are found without regard to case.
  EXPECT_EQ(engine::ToText(maps->Field("dATA")), "a");
}

TEST(Recordset, UpdatingARowDeletedMeanwhileFails) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {{1, "a"}});
  auto maps = OpenMaps(*OpenServer());
  maps->Edit();
  RunSqlcipherShell("server.dat", kServerPassword, "DELETE FROM Maps;");
  maps->SetField("Data", std::string("b"));
  EXPECT_EQ(FailureNumberOf([&] { maps->Update(); }), err::kRecordDeleted);
}

TEST(Recordset, BytesRoundTripExactlyBothWays) {
  const std::vector<std::string> payloads = {"", std::string(1, '\0'), AllBytes(),
                                             std::string(70000, '\xFF')};
  for (const char* dataType : {"BLOB", "TEXT", ""}) {
    SCOPED_TRACE(dataType);
    TempProgramFolder folder;
    const std::string schema = "CREATE TABLE Maps (Number INTEGER, Data " + std::string(dataType) +
                               ");\nCREATE INDEX Number ON Maps (Number);\n";
    MakeMapsDatabase("server.dat", kServerPassword, {}, schema);
    {
      auto maps = OpenMaps(*OpenServer());
      for (std::size_t i = 0; i < payloads.size(); ++i) {
        maps->AddNew();
        maps->SetField("Number", static_cast<std::int64_t>(i));
        maps->SetField("Data", payloads[i]);
        maps->Update();
      }
    }
    std::vector<MapRow> expected;
    for (std::size_t i = 0; i < payloads.size(); ++i)
      expected.push_back({static_cast<std::int64_t>(i), payloads[i]});
    EXPECT_EQ(Walk(*OpenMaps(*OpenServer())), expected);
    // Blobs are stored as blobs, an empty one as an empty blob rather than Null.
    if (std::string(dataType) != "TEXT") {
      EXPECT_EQ(RunSqlcipherShell("server.dat", kServerPassword,
                                  "SELECT group_concat(typeof(Data)) FROM Maps ORDER BY rowid;"),
                "blob,blob,blob,blob\n");
      std::vector<MapRow> stored = ReadMapsWithShell("server.dat", kServerPassword);
      ASSERT_EQ(stored.size(), payloads.size());
      for (std::size_t i = 0; i < payloads.size(); ++i) EXPECT_EQ(stored[i].data, payloads[i]);
    }
  }
}

TEST(Recordset, ReadsWhatTheShellStored) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {{1, AllBytes()}, {2, ""}});
  RunSqlcipherShell("server.dat", kServerPassword,
                    "INSERT INTO Maps VALUES (3, NULL), (NULL, X'01'), (4, 'caf\xC3\xA9'), (5, 2.5);");
  auto maps = OpenMaps(*OpenServer());
  maps->MoveFirst();
  EXPECT_TRUE(std::holds_alternative<std::monostate>(maps->Field("Number")));
  EXPECT_EQ(FailureNumberOf([&] { engine::ToLong(maps->Field("Number")); }), corvald::err::kInvalidUseOfNull);
  maps->Seek("=", 1);
  EXPECT_EQ(engine::ToText(maps->Field("Data")), AllBytes());
  maps->Seek("=", 2);
  EXPECT_EQ(maps->Field("Data"), Value(std::string()));
  maps->Seek("=", 3);
  EXPECT_EQ(FailureNumberOf([&] { engine::ToText(maps->Field("Data")); }), corvald::err::kInvalidUseOfNull);
  maps->Seek("=", 4);
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "caf\xE9");  // text comes back in the ANSI code page
  maps->Seek("=", 5);
  EXPECT_EQ(maps->Field("Data"), Value(2.5));
}

TEST(Recordset, AClosedRecordsetRefusesEverythingButClose) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {{1, "a"}});
  auto maps = OpenMaps(*OpenServer());
  maps->Close();
  EXPECT_NO_THROW(maps->Close());
  const std::vector<std::function<void()>> actions = {
      [&] { maps->Bof(); },
      [&] { maps->Eof(); },
      [&] { maps->MoveFirst(); },
      [&] { maps->MoveNext(); },
      [&] { maps->Field("Data"); },
      [&] { maps->RecordCount(); },
      [&] { maps->SetIndex("Number"); },
      [&] { maps->Seek("=", 1); },
      [&] { maps->NoMatch(); },
      [&] { maps->AddNew(); },
      [&] { maps->Edit(); },
      [&] { maps->Update(); },
  };
  for (const auto& action : actions) EXPECT_EQ(FailureNumberOf(action), err::kObjectClosed);
}

}  // namespace
}  // namespace corvald::test
