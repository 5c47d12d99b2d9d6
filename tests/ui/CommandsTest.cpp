// The dump and convert commands with the main window open on a database that the
// sqlcipher shell made: map files compared byte for byte, rows read back by the
// shell, the boxes and status texts shown.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QWidget>
#include <QWindow>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "store/modDatabase.h"
#include "tests/support/Checks.h"
#include "tests/support/DatabaseFixture.h"
#include "tests/support/MapRecords.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/StatusTexts.h"
#include "tests/support/TempProgramFolder.h"
#include "ui/Commands.h"
#include "ui/frmLoading.h"
#include "ui/frmMain.h"

namespace corvald::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Files = std::map<std::string, std::string>;
using Rows = std::vector<MapRow>;

// A map record named `name`, then bytes that text handling would lose.
std::string Record(const std::string& name) { return NamedRecord(name, "\0\r\n\xff tiles"s); }

const std::string kPadded = "Desert"s + std::string(24, '\0') + "sand";

// Starts the program as start-up leaves it: the map table loaded from "server.dat"
// and the main window open, its file list showing "Maps".
void Start() {
  MapList = MapTable{};
  const MessageBoxRecorder quiet;
  ASSERT_TRUE(LoadServerDatabase());
  ShowMain();
  UnloadLoading();
}

// The same, on a new database holding these maps and a "Maps" folder holding these files.
void Start(const std::vector<std::pair<std::int64_t, std::string>>& maps, const Files& files = {}) {
  LayOutProgramFolder(CompressedRows(maps), files);
  Start();
}

Rows StoredRows() { return ReadMapsWithShell("server.dat", kServerPassword); }

// After a command that wrote, the file alone holds the database, in rollback-journal
// mode, so that readers who may not write the folder can open it.
void ExpectTheFileAloneHoldsTheDatabase() {
  EXPECT_FALSE(fs::exists("server.dat-wal"));
  EXPECT_FALSE(fs::exists("server.dat-shm"));
  EXPECT_EQ(RunSqlcipherShell("server.dat", kServerPassword, "PRAGMA journal_mode;"), "delete\n");
}

class Commands : public testing::Test {
 protected:
  void TearDown() override {
    ShutDown();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
};

TEST_F(Commands, DumpWritesEachNamedMapWholeUnderAUsableNameAndChangesNoRow) {
  const struct {
    std::int64_t number;
    std::string record;
    const char* file;  // none when the map is not dumped
  } maps[] = {{2, Record("a/b"), "Map #2 - a_b.map4"},
              {1, Record("Harbour"), "Map #1 - Harbour.map4"},
              {3, Record("why?"), "Map #3 - why_.map4"},
              {4, Record("st*r:x\""), "Map #4 - st_r_x_.map4"},
              {5, kPadded, "Map #5 - Desert.map4"},
              {6, Record("#%&[]{"), "Map #6 - #%&[]{.map4"},
              {3000, Record("Last"), "Map #3000 - Last.map4"},
              {7, Record(""), nullptr},
              {0, Record("Zero"), nullptr},
              {3001, Record("Far"), nullptr}};
  TempProgramFolder folder;
  std::vector<std::pair<std::int64_t, std::string>> rows;
  Files dumped;
  for (const auto& map : maps) {
    rows.emplace_back(map.number, map.record);
    if (map.file != nullptr) dumped[map.file] = map.record;
  }
  Start(rows, {{"Map #1 - Harbour.map4", std::string(500, 'x')}});
  const Rows stored = StoredRows();
  {
    const StatusTexts status;
    const MessageBoxRecorder boxes;
    cmdButton1_Click();
    EXPECT_EQ(status.shown,
              (std::vector<std::string>{"Dumping Map #1 - Harbour ...", "Dumping Map #2 - a/b ...",
                                        "Dumping Map #3 - why? ...", "Dumping Map #4 - st*r:x\" ...",
                                        "Dumping Map #5 - Desert ...", "Dumping Map #6 - #%&[]{ ...",
                                        "Dumping Map #3000 - Last ..."}));
    EXPECT_TRUE(boxes.Boxes().empty());
  }
  EXPECT_EQ(FolderFiles("Maps"), dumped);
  EXPECT_EQ(frmLoading(), nullptr);
  EXPECT_NE(frmMain(), nullptr);
  EXPECT_EQ(StoredRows(), stored);
}

TEST_F(Commands, DumpReportsAFailureWithItsSlotThenShutsDownWithoutRetryingForEver) {
  const Files before = {{"Map #2 - Before.map4", Record("Before")}};
  const struct {
    const char* name;   // of map 5, between maps 2 and 9
    void (*prepare)();  // after start-up
    std::string report;
    Files files;  // none when "Maps" is no folder
  } cases[] = {
      // Rejected again after rebuilding; "Maps", gone since start-up, is made anew.
      {"tab\there", [] { fs::remove("Maps"); }, "5 - Error #52 - Bad file name or number", before},
      {"Mid",
       [] { fs::create_directory("Maps/Map #5 - Mid.map4"); },
       "5 - Error #75 - Path/File access error",
       {*before.begin(), {"Map #5 - Mid.map4", "<folder>"}}},
      // A plain file "Maps" counts as there, so every path misses a folder, rebuilt or not.
      {"Mid", [] { fs::remove("Maps"), std::ofstream("Maps"); }, "2 - Error #76 - Path not found", {}},
      // Never written through a link or to a pipe: the link points nowhere still,
      // and the dump goes on without waiting for a reader.
      {"Mid",
       [] { fs::create_symlink("../outside", "Maps/Map #5 - Mid.map4"); },
       "5 - Error #75 - Path/File access error",
       {*before.begin(), {"Map #5 - Mid.map4", ""}}},
      {"Mid", [] { mkfifo("Maps/Map #5 - Mid.map4", 0666); }, "5 - Error #75 - Path/File access error", {}},
      // Counts neither as a folder nor as a file, and cannot be made.
      {"Mid",
       [] { fs::remove("Maps"), fs::create_symlink("nowhere", "Maps"); },
       "0 - Error #75 - Path/File access error",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    TempProgramFolder folder;
    Start({{2, Record("Before")}, {5, Record(c.name)}, {9, Record("After")}});
    c.prepare();
    const MessageBoxRecorder boxes;

    cmdButton1_Click();

    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, kDumpReport + c.report);
    EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::kNone);
    EXPECT_EQ(rsMaps, nullptr) << "not shut down";
    EXPECT_EQ(frmMain(), nullptr);
    EXPECT_EQ(frmLoading(), nullptr);
    if (!c.files.empty()) {
      EXPECT_EQ(FolderFiles("Maps"), c.files);
      EXPECT_FALSE(fs::exists("outside"));
    }
  }
}

TEST_F(Commands, ConvertStoresEachMapFileUnderItsNumberInListOrder) {
  TempProgramFolder folder;
  Start({{7, Record("Old seven")}, {12, Record("Old twelve")}, {3, Record("Three")}},
        {{"Map #7 - Desert.map4", "desert\0"s},
         {"harbour.map4", "harbour"},
         {"Map #-2147483648 - Min.map4", "min"},
         {"Map #4000 - Far.MAP4", "far"},
         {"Map #12 - a.map4", "first twelve"},
         {"Map #12 - b.map4", "second twelve"},
         {"Map #9 - Empty.map4", ""},
         {"notes.txt", "not a map"},
         {"Map #8 - x.map4.bak", "not a map"}});
  const StatusTexts status;
  const MessageBoxRecorder boxes;

  cmdButton2_Click();

  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"7 Maps converted!"});
  EXPECT_EQ(status.shown, (std::vector<std::string>{"Converting Map #0", "Converting Map #-2147483648",
                                                    "Converting Map #12", "Converting Map #4000",
                                                    "Converting Map #7", "Converting Map #9"}));
  EXPECT_EQ(StoredRows(), (Rows{{7, CompressData("desert\0"s)},
                                {12, CompressData("second twelve"s)},
                                {3, CompressData(Record("Three"))},
                                {0, CompressData("harbour"s)},
                                {-2147483648LL, CompressData("min"s)},
                                {4000, CompressData("far"s)},
                                {9, ""}}));
  EXPECT_EQ(MapList[7].Data, Record("Old seven"));
  EXPECT_EQ(frmLoading(), nullptr);
  ExpectTheFileAloneHoldsTheDatabase();
}

TEST_F(Commands, ConvertOnlyTellsWhenTheDatabaseOrEveryMapFileIsMissing) {
  const char* const kNoMapFiles = "Error: No '.map4' files found in the 'Maps' folder!";
  const struct {
    std::vector<const char*> files;
    const char* database;  // where "server.dat" is moved after start-up
    std::string message;
  } cases[] = {
      {{"Map #1 - a.map4"}, "elsewhere.dat", "Error: File 'server.dat' not found!"},
      {{}, "server.dat", kNoMapFiles},
      {{"a.txt", "map4", "Map #1 - a.map", "Map #1 - a.map4 "}, "server.dat", kNoMapFiles},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    TempProgramFolder folder;
    Files files;
    for (const char* name : c.files) files[name] = "not converted";
    Start({{1, Record("One")}}, files);
    fs::rename("server.dat", c.database);
    const StatusTexts status;
    const MessageBoxRecorder boxes;

    cmdButton2_Click();

    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.message});
    EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::kNone);
    EXPECT_TRUE(status.shown.empty());
    EXPECT_EQ(ReadMapsWithShell(c.database, kServerPassword), (Rows{{1, CompressData(Record("One"))}}));
    ShutDown();
  }
}

TEST_F(Commands, ConvertEndsQuietlyWhenTheMainWindowClosesWhileItYields) {
  TempProgramFolder folder;
  Start({}, {{"Map #1 - a.map4", "one"}, {"Map #2 - b.map4", "two"}, {"Map #3 - c.map4", "three"}});
  // As the window system delivers the close box.
  QCoreApplication::postEvent(frmMain()->windowHandle(), new QCloseEvent);
  const MessageBoxRecorder boxes;

  cmdButton2_Click();

  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(frmMain(), nullptr);
  EXPECT_EQ(frmLoading(), nullptr);
  EXPECT_EQ(StoredRows(), (Rows{{1, CompressData("one"s)}}));
  ExpectTheFileAloneHoldsTheDatabase();
}

}  // namespace
}  // namespace corvald::test
