// The engine layer and the map table's load and save against the sqlcipher
// shell: opening, walking in index order, seeking, adding and editing rows, the
// failure numbers of calls out of turn, the derived key's life, and Jet files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <functional>

#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "platform/Files.h"
#include "store/Engine.h"
#include "store/jet/JetText.h"
#include "store/modDatabase.h"
#include "tests/support/Support.h"

namespace corvald::test {
namespace {

using engine::Value;
using Rows = std::vector<MapRow>;
using namespace std::string_literals;

std::shared_ptr<engine::Database> Open(const std::string& name = "server.dat",
                                       const std::string& connect = ";pwd=brevola", bool readOnly = false) {
  return engine::Engine().Workspaces(0)->OpenDatabase(name, 0, readOnly, connect);
}

std::shared_ptr<engine::Recordset> OpenMaps(engine::Database& database, const char* index = "Number") {
  auto recordset = database.TableDefs("Maps")->OpenRecordset(1);
  if (index != nullptr) recordset->SetIndex(index);
  return recordset;
}

// Every row from the first on, the way the load walks the table.
Rows Walk(engine::Recordset& maps) {
  Rows rows;
  for (maps.MoveFirst(); !maps.Eof(); maps.MoveNext()) {
    const Value& number = maps.Field("Number");
    rows.push_back({std::holds_alternative<std::monostate>(number)
                        ? std::nullopt
                        : std::optional(std::get<std::int64_t>(number)),
                    engine::ToText(maps.Field("Data"))});
  }
  return rows;
}

TEST(Engine, OpensWithThePasswordAndTellsWhatFailsApart) {
  TempFolder folder;
  MakeMaps("s\xC3\xA9rver.dat", {{7, "seven"}});  // "é" in UTF-8; program paths are ANSI
  for (const char* connect : {";pwd=brevola", ";PWD=brevola", "ODBC; pwd=brevola;"}) {
    EXPECT_EQ(Walk(*OpenMaps(*Open("s\xE9rver.dat", connect))), (Rows{{7, "seven"}})) << connect;
  }
  MakeMaps("plain.dat", {{1, "plain"}}, kMapsSchema, "");
  EXPECT_EQ(Walk(*OpenMaps(*Open("plain.dat", ""))), (Rows{{1, "plain"}}));
  // Two databases open at once: each salt has its own key.
  MakeMaps("other.dat", {{2, "other"}});
  const auto held = Open("s\xE9rver.dat");
  EXPECT_EQ(Walk(*OpenMaps(*Open("other.dat"))), (Rows{{2, "other"}}));
  fs::create_directory("folder.dat");
  const struct {
    const char* file;
    std::string bytes;  // none: the file is left as it is
    const char* connect;
    int failure;
  } cases[] = {
      {"s\xE9rver.dat", "", ";pwd=Brevola", err::kWrongPassword},
      {"s\xE9rver.dat", "", ";uid=brevola", err::kWrongPassword},
      {"plain.dat", "", ";pwd=brevola", err::kNotADatabase},
      {"empty.dat", "-", ";pwd=brevola", err::kNotADatabase},
      {"text.dat", "not a database\n", ";pwd=brevola", err::kNotADatabase},
      {"1023.dat", RandomBytes(1023), ";pwd=brevola", err::kNotADatabase},
      {"1024.dat", RandomBytes(1024), ";pwd=brevola", err::kWrongPassword},
      {"folder.dat", "", ";pwd=brevola", err::kCannotOpen},
      {"missing.dat", "", ";pwd=brevola", err::kDatabaseNotFound},
  };
  for (const auto& c : cases) {
    if (!c.bytes.empty()) WriteBytes(c.file, c.bytes == "-" ? "" : c.bytes);
    const auto entries = FolderFiles(".");
    EXPECT_EQ(FailureNumberOf([&] { Open(c.file, c.connect); }), c.failure) << c.file << c.connect;
    EXPECT_EQ(FolderFiles("."), entries) << "a file changed or was made";
  }
  std::string description = "nothing thrown";
  try {
    Open("s\xE9rver.dat", ";pwd=x");
  } catch (const Failure& failure) {
    description = failure.Description();
  }
  EXPECT_EQ(description, "Wrong password for the database 's\xE9rver.dat'.");
}

TEST(Engine, WalksInIndexOrderSeeksAndSeesEveryChangeAtOnce) {
  TempFolder folder;
  MakeMaps("server.dat", {{3, "c1"}, {1, "a"}, {3, "c2"}, {-5, "neg"}, {0, "zero"}, {3001, "big"}},
           std::string(kMapsSchema) + "CREATE VIEW V AS SELECT * FROM Maps;");
  auto database = Open();
  EXPECT_EQ(FailureNumberOf([&] { database->TableDefs("V"); }), err::kItemNotFound);
  auto maps = OpenMaps(*database, "nUMBER");
  EXPECT_EQ(maps->RecordCount(), 6);
  EXPECT_EQ(Walk(*maps), (Rows{{-5, "neg"}, {0, "zero"}, {1, "a"}, {3, "c1"}, {3, "c2"}, {3001, "big"}}));
  for (const auto& seek : std::vector<std::pair<int, const char*>>{{3, "c1"}, {0, "zero"}, {2, nullptr}}) {
    const char* data = seek.second;
    maps->Seek("=", seek.first);
    EXPECT_EQ(maps->NoMatch(), data == nullptr);
    EXPECT_EQ(FailureNumberOf([&] { EXPECT_EQ(engine::ToText(maps->Field("dATA")), data); }),
              data ? 0 : err::kNoCurrentRecord);
  }
  maps->Seek("=", 1);
  maps->MoveNext();
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "c1");

  // Rows added are committed at once and seen at their place; the current row stays.
  for (const MapRow& added : Rows{{3, "c3"}, {2, "b"}}) {
    maps->AddNew();
    maps->SetField("Number", *added.number);
    maps->SetField("Data", added.data);
    maps->Update();
  }
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "c1");
  maps->MoveNext();
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "c2");
  maps->MoveNext();
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "c3");
  EXPECT_EQ(ReadMaps("server.dat").size(), 8u);

  // An edit changes only the fields set and is read back; another program's new row is seen.
  maps->Seek("=", 1);
  maps->Edit();
  EXPECT_EQ(engine::ToLong(maps->Field("Number")), 1);
  maps->SetField("Number", std::int64_t{4});
  maps->Update();
  EXPECT_EQ(engine::ToLong(maps->Field("Number")), 4);
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "a");
  maps->Edit();
  maps->SetField("Data", std::string("a2"));
  maps->Update();
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "a2");
  maps->MoveFirst();
  Shell("server.dat", "INSERT INTO Maps VALUES (-9, 'first');");
  maps->MoveNext();
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "zero");
  EXPECT_EQ(Walk(*maps), (Rows{{-9, "first"},
                               {-5, "neg"},
                               {0, "zero"},
                               {2, "b"},
                               {3, "c1"},
                               {3, "c2"},
                               {3, "c3"},
                               {4, "a2"},
                               {3001, "big"}}));
  maps->Seek("=", 2);
  maps->Edit();
  Shell("server.dat", "DELETE FROM Maps WHERE Number = 2;");  // the walk's end let the shell write
  maps->SetField("Data", std::string("gone"));
  EXPECT_EQ(FailureNumberOf([&] { maps->Update(); }), err::kRecordDeleted);
}

TEST(Engine, CallsOutOfTurnFailWithTheirOwnNumbers) {
  using Set = engine::Recordset&;
  const auto nothing = [](Set) {};
  const auto closed = [](Set r) { r.Close(); };
  const struct {
    const char* what;
    const char* schema;  // of a table "Maps" that holds the row {1, "a"}
    const char* index;
    std::function<void(Set)> prepare;
    std::function<void(Set)> call;
    int failure;
  } cases[] = {
      {"past the end", kMapsSchema, "Number", [](Set r) { r.MoveNext(); }, [](Set r) { r.MoveNext(); },
       err::kNoCurrentRecord},
      {"Field past the end", kMapsSchema, "Number", [](Set r) { r.MoveNext(); },
       [](Set r) { r.Field("Data"); }, err::kNoCurrentRecord},
      {"Seek without an index", kMapsSchema, nullptr, nothing, [](Set r) { r.Seek("=", 1); },
       err::kNoCurrentIndex},
      {"a column for an index", kMapsSchema, nullptr, nothing, [](Set r) { r.SetIndex("Data"); },
       err::kNotAnIndex},
      {"an index of another table",
       "CREATE TABLE Maps (Number, Data); CREATE TABLE T (X); CREATE INDEX I ON T (X);", nullptr, nothing,
       [](Set r) { r.SetIndex("I"); }, err::kNotAnIndex},
      {"an index on two columns",
       "CREATE TABLE Maps (Number, Data); CREATE INDEX Number ON Maps (Number, Data);", nullptr, nothing,
       [](Set r) { r.SetIndex("Number"); }, err::kEngineError},
      {"a descending index", "CREATE TABLE Maps (Number, Data); CREATE INDEX Number ON Maps (Number DESC);",
       nullptr, nothing, [](Set r) { r.SetIndex("Number"); }, err::kEngineError},
      {"an index in another order",
       "CREATE TABLE Maps (Number, Data); CREATE INDEX N ON Maps (Number COLLATE NOCASE);", nullptr, nothing,
       [](Set r) { r.SetIndex("N"); }, err::kEngineError},
      {"Update alone", kMapsSchema, "Number", nothing, [](Set r) { r.Update(); },
       err::kUpdateWithoutAddNewOrEdit},
      {"Update after a move", kMapsSchema, "Number", [](Set r) { r.AddNew(), r.MoveFirst(); },
       [](Set r) { r.Update(); }, err::kUpdateWithoutAddNewOrEdit},
      {"an unknown field", kMapsSchema, "Number", nothing, [](Set r) { r.Field("Nope"); },
       err::kItemNotFound},
      {"closed twice", kMapsSchema, "Number", closed, closed, 0},
      {"Eof, closed", kMapsSchema, "Number", closed, [](Set r) { r.Eof(); }, err::kObjectClosed},
      {"Seek, closed", kMapsSchema, "Number", closed, [](Set r) { r.Seek("=", 1); }, err::kObjectClosed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    MakeMaps("server.dat", {{1, "a"}}, c.schema);
    auto maps = OpenMaps(*Open(), c.index);
    c.prepare(*maps);
    EXPECT_EQ(FailureNumberOf([&] { c.call(*maps); }), c.failure);
    EXPECT_EQ(ReadMaps("server.dat"), (Rows{{1, "a"}}));
  }
  TempFolder folder;
  MakeMaps("server.dat", {});
  EXPECT_EQ(FailureNumberOf([] { OpenMaps(*Open())->MoveFirst(); }), err::kNoCurrentRecord);
  auto readOnly = OpenMaps(*Open("server.dat", ";pwd=brevola", true));
  readOnly->AddNew();
  readOnly->SetField("Number", std::int64_t{2});
  EXPECT_EQ(FailureNumberOf([&] { readOnly->Update(); }), err::kReadOnly);
}

TEST(Engine, BytesAndValuesRoundTripExactly) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const std::vector<std::string> payloads = {"", std::string(1, '\0'), all, std::string(70000, '\xFF')};
  for (const char* type : {"BLOB", "TEXT", ""}) {
    SCOPED_TRACE(type);
    TempFolder folder;
    MakeMaps("server.dat", {}, "CREATE TABLE Maps (Number INTEGER, Data " + std::string(type) + ");");
    Rows expected;
    {
      auto maps = OpenMaps(*Open(), nullptr);
      for (std::size_t i = 0; i < payloads.size(); ++i) {
        maps->AddNew();
        maps->SetField("Number", static_cast<std::int64_t>(i));
        maps->SetField("Data", payloads[i]);
        maps->Update();
        expected.push_back({static_cast<std::int64_t>(i), payloads[i]});
      }
      EXPECT_EQ(Walk(*maps), expected);
    }
    if (std::string(type) != "TEXT") {
      EXPECT_EQ(ReadMaps("server.dat"), expected);
      EXPECT_EQ(Shell("server.dat", "SELECT group_concat(typeof(Data)) FROM Maps;"), "blob,blob,blob,blob\n");
    }
  }
  TempFolder folder;
  MakeMaps("server.dat", {});
  Shell("server.dat", "INSERT INTO Maps VALUES (3, NULL), (4, 'caf\xC3\xA9'), (5, 2.5), ('12', x'01');");
  auto maps = OpenMaps(*Open());
  maps->Seek("=", 3);
  EXPECT_EQ(FailureNumberOf([&] { engine::ToText(maps->Field("Data")); }), err::kInvalidUseOfNull);
  maps->Seek("=", 4);
  EXPECT_EQ(maps->Field("Data"), Value(std::string("caf\xE9")));  // text in the ANSI code page
  maps->Seek("=", 5);
  EXPECT_EQ(engine::ToText(maps->Field("Data")), "2.5");
  maps->Seek("=", 12);
  EXPECT_EQ(maps->NoMatch(), false);
  const struct {
    Value value;
    std::int32_t number;
    int failure;
  } values[] = {{Value(std::int64_t{-2147483648LL}), -2147483647 - 1, 0},
                {Value(std::int64_t{2147483648LL}), 0, 6},
                {Value(2.5), 2, 0},
                {Value(std::string(" -7 ")), -7, 0},
                {Value(std::string("1e3")), 1000, 0},
                {Value(std::string("12abc")), 0, 13},
                {Value(), 0, 94}};
  for (const auto& v : values) {
    std::int32_t number = 0;
    EXPECT_EQ(FailureNumberOf([&] { number = engine::ToLong(v.value); }), v.failure);
    EXPECT_EQ(number, v.number);
  }
}

// Every numbered row lands in its slot, a later row of a number winning, also
// over an earlier one that takes far longer to expand; a saved blob goes into
// every row of its number, committed at once.
TEST(Engine, TheLoadFillsEverySlotOnceAndSavingReplacesEveryRowOfTheNumber) {
  TempFolder folder;
  WriteBytes("server.dat.compacting.0badc0de", "a copy that a killed compaction left");
  const std::string padded = "Desert"s + std::string(24, '\0') + "sand";
  const std::map<std::int64_t, std::string> records = {{1, "short  "},
                                                       {12, padded},
                                                       {13, "  \tOld  Town\t   "},
                                                       {14, NamedRecord("")},
                                                       {20, NamedRecord("Small")},
                                                       {3000, NamedRecord("Last")}};
  Rows rows = {{3001, CompressData(NamedRecord("Far"))},
               {7, CompressData(NamedRecord("First"))},
               {0, CompressData(NamedRecord("Zero"))},
               {-5, CompressData(NamedRecord("Neg"))},
               {7, CompressData(NamedRecord("Second"))},
               {20, CompressData(NamedRecord("Large", std::string(24 << 20, 'x')))}};
  for (const auto& [number, record] : records) rows.push_back({number, CompressData(record)});
  MakeMaps("server.dat", rows,
           "CREATE TABLE Maps (Number INTEGER, Data BLOB, Note TEXT DEFAULT 'kept');"
           "CREATE INDEX Number ON Maps (Number);");
  Shell("server.dat", "DELETE FROM Maps WHERE Number = 0; UPDATE Maps SET Note = 'mine' WHERE Number = 7;");
  MapList = MapTable{};
  const Shown shown;
  ASSERT_TRUE(LoadServerDatabase());

  EXPECT_FALSE(fs::exists("server.dat.compacting.0badc0de"));
  EXPECT_EQ(rsMaps->RecordCount(), 11);
  for (std::int32_t n = 1; n <= MAX_MAPS; ++n) {
    const std::string expected = n == 7 ? NamedRecord("Second") : records.contains(n) ? records.at(n) : "";
    EXPECT_TRUE(MapList[n].Data == expected) << n << " holds " << MapList[n].Name;
  }
  EXPECT_EQ(MapList[1].Name, "short");
  EXPECT_EQ(MapList[12].Name, "Desert"s + std::string(24, '\0'));
  EXPECT_EQ(MapList[13].Name, "\tOld  Town\t");
  EXPECT_EQ(MapList[14].Name, "");

  const std::string blob = CompressData("new\0seven"s);
  for (const std::int32_t number : {7, -7, 4000}) {
    SaveMapBlob(number, blob);
    EXPECT_EQ(Shell("server.dat", "SELECT count(*), min(Data = " + BlobLiteral(blob) +
                                      "), Note FROM Maps WHERE "
                                      "Number = " +
                                      std::to_string(number) + ";"),
              number == 7 ? "2|1|mine\n" : "1|1|kept\n");
  }
  EXPECT_FALSE(FindMap(6));
  ShutDown();
  EXPECT_EQ(FolderFiles(".").size(), 1u) << "server.dat alone, without a log";
}

constexpr char kMask = 0x5A;

// The key of `file` as SQLCipher derives it from the server's password,
// computed by Python: the second half of its raw bytes and of their hex text,
// each byte XOR kMask, so that this process never holds the key itself.
std::vector<std::string> MaskedKeys(const std::string& file) {
  const std::string command =
      "python3 -c \"import hashlib, sys; k = hashlib.pbkdf2_hmac('sha1', b'brevola', open(sys.argv[1], 'rb')"
      ".read(16), 64000, 32); m = lambda b: bytes(x ^ 0x5A for x in b[len(b) // 2:]).hex(); "
      "print(m(k), m(k.hex().upper().encode()))\" " +
      file;
  std::unique_ptr<FILE, int (*)(FILE*)> python(popen(command.c_str(), "r"), pclose);
  std::vector<std::string> keys;
  for (char hex[200]; std::fscanf(python.get(), "%199s", hex) == 1;) {
    std::string key;
    for (std::size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2)
      key += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
    keys.push_back(key);
  }
  return keys;
}

// Whether the writable memory of this process holds the unmasked bytes: its
// heap, freed or not, its stacks and its data. Pages never touched hold
// nothing, so only resident ones are read (the sanitizers reserve terabytes).
bool MemoryHolds(const std::string& masked) {
  std::ifstream maps("/proc/self/maps");
  const int memory = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::vector<char> chunk(page + masked.size());
  bool found = false;
  for (std::string line; !found && std::getline(maps, line);) {
    unsigned long start = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) != 3 || perms[1] != 'w') continue;
    for (unsigned long at = start; !found && at < end; at += 256 * page) {
      const std::size_t span = std::min<unsigned long>(256 * page, end - at);
      unsigned char resident[256];
      if (mincore(reinterpret_cast<void*>(at), span, resident) != 0) continue;
      for (std::size_t p = 0; !found && p < span / page; ++p) {
        if ((resident[p] & 1) == 0) continue;
        const ssize_t got = pread(memory, chunk.data(), chunk.size(), static_cast<off_t>(at + p * page));
        for (ssize_t i = 0; !found && i + static_cast<ssize_t>(masked.size()) <= got; ++i) {
          std::size_t j = 0;
          while (j < masked.size() && chunk[i + j] == static_cast<char>(masked[j] ^ kMask)) ++j;
          found = j == masked.size();
        }
      }
    }
  }
  close(memory);
  explicit_bzero(chunk.data(), chunk.size());
  return found;
}

// A Jet 4 text as Access stores it: UCS-2, or after FF FE one byte a character
// with a 0 byte switching to and from runs of UCS-2, which hold the characters
// beyond Latin-1. The euro sign is byte 0x80 of the code page, and a character
// outside it reads as "?".
TEST(Engine, AJet4TextReadsAlikeInItsFullAndItsCompressedForm) {
  const struct {
    std::string stored;
    std::optional<std::string> text;  // none: the bytes end inside a character
  } texts[] = {
      {"a\0\xE9\0\xAC\x20"s, "a\xE9\x80"},
      {"\xFF\xFE"
       "a\xE9\0\xAC\x20\x01\x01\0b"s,
       "a\xE9\x80?b"},
      {"\xFF\xFE\0\xAC\x20\0\xE9\0\x60\x01"s, "\x80\xE9\x8A"},
      {"\xFF\xFE"
       "a\0\xAC"s,
       std::nullopt},
      {"a\0\xE9"s, std::nullopt},
  };
  for (const auto& t : texts)
    EXPECT_EQ(engine::jet::Jet4TextToAnsi(t.stored), t.text) << BlobLiteral(t.stored);
}

TEST(Engine, NoCopyOfTheDerivedKeyOutlivesTheConnections) {
  TempFolder folder;
  MakeMaps("server.dat", {{1, "a"}});
  const std::vector<std::string> keys = MaskedKeys("server.dat");
  ASSERT_EQ(keys.size(), 2u);
  {
    const auto database = CompactAndOpenServerDatabase(*engine::Engine().Workspaces(0));
    EXPECT_EQ(Walk(*OpenMaps(*database)).size(), 1u);
    EXPECT_TRUE(MemoryHolds(keys[1])) << "kept while a connection holds it";
  }
  EXPECT_FALSE(MemoryHolds(keys[0])) << "raw";
  EXPECT_FALSE(MemoryHolds(keys[1])) << "hex";
}

// A Jet file answers the load's calls as on SQLCipher. Its writes reach the
// file only when they are finished: until then the file stays as it was, and
// writes left unfinished leave no side file. Opened read-only, it refuses them.
TEST(Engine, AJetFileAnswersTheLoadsCallsAndKeepsItsWritesUntilFinished) {
  TempFolder folder;
  const std::string original = FileBytes(CORVALD_JET_FIXTURES "/no-password.mdb");
  WriteBytes("server.dat", original);
  auto database = Open();  // a file without a password opens whatever is given
  EXPECT_FALSE(database->WhyNotUpdatable());
  auto maps = OpenMaps(*database, nullptr);
  EXPECT_EQ(FailureNumberOf([&] { maps->SetIndex("Name"); }), err::kNotAnIndex);
  maps->SetIndex("NUMBER");
  EXPECT_EQ(Walk(*maps).size(), 2u);
  EXPECT_EQ(FailureNumberOf([&] { maps->Field("Tiles"); }), err::kItemNotFound);
  maps->Seek("=", 2);
  ASSERT_FALSE(maps->NoMatch());
  maps->Edit();
  maps->SetField("Data", std::string("new"));
  maps->Update();
  maps->Seek("=", 3);
  EXPECT_TRUE(maps->NoMatch());
  maps->AddNew();
  maps->SetField("Number", std::int64_t{3});
  maps->SetField("Data", std::string("three"));
  maps->Update();
  maps->Seek("=", 3);
  EXPECT_FALSE(maps->NoMatch()) << "a seek finds the row added";
  EXPECT_EQ(maps->RecordCount(), 3);
  EXPECT_EQ(FileBytes("server.dat"), original);
  maps.reset();
  database.reset();
  EXPECT_EQ(FileBytes("server.dat"), original);
  EXPECT_EQ(ListEntries("*", EntryKinds::kFiles), std::vector<std::string>{"server.dat"});

  auto readOnly = Open("server.dat", "", true);
  EXPECT_TRUE(readOnly->WhyNotUpdatable());
  auto rows = OpenMaps(*readOnly);
  rows->MoveFirst();
  rows->Edit();
  rows->SetField("Data", std::string("new"));
  EXPECT_EQ(FailureNumberOf([&] { rows->Update(); }), err::kReadOnly);
}

}  // namespace
}  // namespace corvald::test
