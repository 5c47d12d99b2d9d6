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
    EXPECT_EQ(Walk(*OpenMaps(*database, nullptr)), rows);
  }
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

// Indexes and field names are found without regard to case.
TEST(Recordset, TheIndexMustExistOnThatTable) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {{2, "b"}, {1, "a"}},
                   std::string(kMapsSchema) + "CREATE TABLE Other (X);\nCREATE INDEX OtherX ON Other (X);\n");
  auto maps = OpenMaps(*OpenServer(), nullptr);
  maps->SetIndex("nUMBER");
  EXPECT_EQ(Walk(*maps), (std::vector<MapRow>{{1, "a"}, {2, "b"}}));
  maps->MoveFirst();
  EXPECT_EQ(engine::ToText(maps->Field("dATA")), "a");
}

// What each call refuses, on a recordset over one row {1, "a"} (or none), fresh
// for each case: `prepare` leads up to the call.
TEST(Recordset, CallsOutOfTurnFailWithTheirOwnNumbers) {
  using Set = engine::Recordset&;
  const auto nothing = [](Set) {};
  const auto pastTheEnd = [](Set r) { r.MoveNext(); };
  const auto closed = [](Set r) { r.Close(); };
  const struct {
    const char* what;
    bool empty;
    const char* index;
    std::function<void(Set)> prepare;
    std::function<void(Set)> call;
    int failure;
  } cases[] = {
      {"MoveFirst, empty", true, "Number", nothing, [](Set r) { r.MoveFirst(); }, err::kNoCurrentRecord},
      {"MoveNext, empty", true, "Number", nothing, [](Set r) { r.MoveNext(); }, err::kNoCurrentRecord},
      {"Field, empty", true, "Number", nothing, [](Set r) { r.Field("Number"); }, err::kNoCurrentRecord},
      {"Edit, empty", true, "Number", nothing, [](Set r) { r.Edit(); }, err::kNoCurrentRecord},
      {"MoveNext past the end", false, "Number", pastTheEnd, [](Set r) { r.MoveNext(); },
       err::kNoCurrentRecord},
      {"Field past the end", false, "Number", pastTheEnd, [](Set r) { r.Field("Data"); },
       err::kNoCurrentRecord},
      {"Seek without an index", false, nullptr, nothing, [](Set r) { r.Seek("=", 1); }, err::kNoCurrentIndex},
      {"Seek <", false, "Number", nothing, [](Set r) { r.Seek("<", 1); }, err::kInvalidArgument},
      {"Seek >=", false, "Number", nothing, [](Set r) { r.Seek(">=", 1); }, err::kInvalidArgument},
      {"Seek ==", false, "Number", nothing, [](Set r) { r.Seek("==", 1); }, err::kInvalidArgument},
      {"Seek with no comparison", false, "Number", nothing, [](Set r) { r.Seek("", 1); },
       err::kInvalidArgument},
      {"index on a column", false, nullptr, nothing, [](Set r) { r.SetIndex("Data"); }, err::kNotAnIndex},
      {"index of a near name", false, nullptr, nothing, [](Set r) { r.SetIndex("Numbers"); },
       err::kNotAnIndex},
      {"index of another table", false, nullptr, nothing, [](Set r) { r.SetIndex("OtherX"); },
       err::kNotAnIndex},
      {"index without a name", false, nullptr, nothing, [](Set r) { r.SetIndex(""); }, err::kNotAnIndex},
      {"Update alone", false, "Number", nothing, [](Set r) { r.Update(); }, err::kUpdateWithoutAddNewOrEdit},
      {"SetField alone", false, "Number", nothing, [](Set r) { r.SetField("Data", std::string("x")); },
       err::kUpdateWithoutAddNewOrEdit},
      {"Update after a move abandoned AddNew", false, "Number", [](Set r) { r.AddNew(), r.MoveFirst(); },
       [](Set r) { r.Update(); }, err::kUpdateWithoutAddNewOrEdit},
      {"an unknown field", false, "Number", nothing, [](Set r) { r.Field("Nope"); }, err::kItemNotFound},
      {"setting an unknown field", false, "Number", [](Set r) { r.AddNew(); },
       [](Set r) { r.SetField("Nope", std::int64_t{1}); }, err::kItemNotFound},
      {"Update with options", false, "Number", [](Set r) { r.AddNew(); }, [](Set r) { r.Update(2); },
       err::kInvalidArgument},
      {"closed twice", false, "Number", closed, [](Set r) { r.Close(); }, 0},
      {"Bof, closed", false, "Number", closed, [](Set r) { r.Bof(); }, err::kObjectClosed},
      {"Eof, closed", false, "Number", closed, [](Set r) { r.Eof(); }, err::kObjectClosed},
      {"MoveFirst, closed", false, "Number", closed, [](Set r) { r.MoveFirst(); }, err::kObjectClosed},
      {"MoveNext, closed", false, "Number", closed, [](Set r) { r.MoveNext(); }, err::kObjectClosed},
      {"Field, closed", false, "Number", closed, [](Set r) { r.Field("Data"); }, err::kObjectClosed},
      {"RecordCount, closed", false, "Number", closed, [](Set r) { r.RecordCount(); }, err::kObjectClosed},
      {"SetIndex, closed", false, "Number", closed, [](Set r) { r.SetIndex("Number"); }, err::kObjectClosed},
      {"Seek, closed", false, "Number", closed, [](Set r) { r.Seek("=", 1); }, err::kObjectClosed},
      {"NoMatch, closed", false, "Number", closed, [](Set r) { r.NoMatch(); }, err::kObjectClosed},
      {"AddNew, closed", false, "Number", closed, [](Set r) { r.AddNew(); }, err::kObjectClosed},
      {"Edit, closed", false, "Number", closed, [](Set r) { r.Edit(); }, err::kObjectClosed},
      {"Update, closed", false, "Number", closed, [](Set r) { r.Update(); }, err::kObjectClosed},
  };
  TempProgramFolder folder;
  const std::string schema =
      std::string(kMapsSchema) + "CREATE TABLE Other (X);\nCREATE INDEX OtherX ON Other (X);\n";
  MakeMapsDatabase("empty.dat", kServerPassword, {}, schema);
  MakeMapsDatabase("one.dat", kServerPassword, {{1, "a"}}, schema);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto maps = OpenMaps(*OpenServer(c.empty ? "empty.dat" : "one.dat"), c.index);
    c.prepare(*maps);
    EXPECT_EQ(FailureNumberOf([&] { c.call(*maps); }), c.failure);
  }
  EXPECT_EQ(ReadMapsWithShell("one.dat", kServerPassword), (std::vector<MapRow>{{1, "a"}}));
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

// Moving on from the first row reads the table as one walk; what other
// programs and this recordset write meanwhile must still be seen and committed.
TEST(Recordset, AWalkSeesChangesAndLeavesTheTableFreeAtItsEnd) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {{1, "a"}, {3, "c"}, {4, "d"}});
  auto maps = OpenMaps(*OpenServer());
  const auto rest = [&maps] {
    std::vector<std::string> data;
    for (maps->MoveNext(); !maps->Eof(); maps->MoveNext())
      data.push_back(engine::ToText(maps->Field("Data")));
    return data;
  };

  // A write half-way through the walk commits at once and is seen at its place.
  maps->MoveFirst();
  maps->MoveNext();
  maps->AddNew();
  maps->SetField("Number", std::int64_t{3});
  maps->SetField("Data", std::string("c2"));
  maps->Update();
  EXPECT_EQ(ReadMapsWithShell("server.dat", kServerPassword).size(), 4u);
  EXPECT_EQ(rest(), (std::vector<std::string>{"c2", "d"}));

  // Another program adds a new first row between MoveFirst and MoveNext.
  maps->MoveFirst();
  RunSqlcipherShell("server.dat", kServerPassword, "INSERT INTO Maps VALUES (0, X'7A');");
  EXPECT_EQ(rest(), (std::vector<std::string>{"c", "c2", "d"}));

  // At the end of the walk, other programs may write again.
  RunSqlcipherShell("server.dat", kServerPassword, "DELETE FROM Maps WHERE Number = 0;");
  EXPECT_EQ(ReadMapsWithShell("server.dat", kServerPassword).size(), 4u);
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

}  // namespace
}  // namespace corvald::test
