// The main window and its two commands, on databases that the sqlcipher shell
// made: what the window lists, map files byte for byte, rows read back by the
// shell, the boxes and status texts shown, and how often the status text is drawn.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <random>

#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "store/modDatabase.h"
#include "tests/support/Support.h"
#include "ui/commands/Commands.h"
#include "ui/windows/frmLoading.h"
#include "ui/windows/frmMain.h"

namespace corvald::test {
namespace {

using namespace std::string_literals;
using Files = std::map<std::string, std::string>;
using Rows = std::vector<MapRow>;

// A map record named `name`, then bytes that text handling would lose.
std::string Record(const std::string& name) { return NamedRecord(name, "\0\r\n\xff tiles"s); }

// Start-up's database steps and main window, on a new "server.dat" holding these
// maps and a "Maps" folder holding these files.
void Start(const std::vector<std::pair<std::int64_t, std::string>>& maps, const Files& files = {}) {
  Rows rows;
  for (const auto& [number, record] : maps) rows.push_back({number, CompressData(record)});
  MakeMaps("server.dat", rows);
  fs::create_directory("Maps");
  for (const auto& [name, bytes] : files) WriteBytes("Maps/" + name, bytes);
  MapList = MapTable{};
  const Shown quiet;
  ASSERT_TRUE(LoadServerDatabase());
  ShowMain();
  UnloadLoading();
}

// After a command that wrote, the file alone holds the database, in rollback-journal
// mode, so that readers who may not write the folder can open it.
void ExpectTheFileAloneHoldsTheDatabase() {
  EXPECT_FALSE(fs::exists("server.dat-wal"));
  EXPECT_EQ(Shell("server.dat", "PRAGMA journal_mode;"), "delete\n");
}

class Commands : public testing::Test {
 protected:
  void TearDown() override {
    ShutDown();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
};

TEST_F(Commands, TheMainWindowListsTheLoadedMapsCountsEveryRowAndHoldsTheFilesOfMaps) {
  TempFolder folder;
  const Files files = {{"b.map4", ""},          {"a.map4", ""},           {"A.map4", ""},
                       {"Map #9 - y.MAP4", ""}, {"Map #10 - x.map4", ""}, {"notes.txt", ""},
                       {"_under", ""},          {"caf\xC3\xA9.map4", ""}, {".hidden.map4", ""}};
  Start({{5, NamedRecord("Five")},
         {2, NamedRecord("Two")},
         {4000, NamedRecord("Far")},
         {3000, NamedRecord("a:b #3 caf\xE9")},
         {1, "Desert"s + std::string(24, '\0')},
         {4, NamedRecord("")},
         {7, NamedRecord("\0Hidden"s)}},
        files);
  fs::create_directory("Maps/sub.map4");
  WriteBytes("Maps/Map #1 - late.map4", "after the window listed the folder");
  ASSERT_NE(frmMain(), nullptr);
  EXPECT_EQ(frmMain()->windowTitle(), "Corvald Converter");
  EXPECT_EQ(frmMain()->findChild<QLabel*>("Label")->text(), "Number of maps found: 7");
  const auto* list = frmMain()->findChild<QComboBox*>("cmbMapList");
  QStringList entries;
  for (int i = 0; i < list->count(); ++i) entries.append(list->itemText(i));
  EXPECT_EQ(entries, (QStringList{"Map #1: Desert", "Map #2: Two", "Map #5: Five",
                                  "Map #7: ", QString::fromUtf8("Map #3000: a:b #3 café")}));
  EXPECT_EQ(list->currentIndex(), 0);
  EXPECT_EQ(FileListEntries(),
            (std::vector<std::string>{"_under", "A.map4", "a.map4", "b.map4", "caf\xE9.map4",
                                      "Map #10 - x.map4", "Map #9 - y.MAP4", "notes.txt"}));
}

TEST_F(Commands, DumpWritesEachNamedMapWholeUnderAUsableNameAndChangesNoRow) {
  const struct {
    std::int64_t number;
    std::string record;
    const char* file;  // none when the map is not dumped
  } maps[] = {{2, Record("a/b"), "Map #2 - a_b.map4"},
              {1, Record("Harbour"), "Map #1 - Harbour.map4"},
              {3, Record("why?"), "Map #3 - why_.map4"},
              {4, Record("st*r:x\"\\"), "Map #4 - st_r_x__.map4"},
              {5, "Desert"s + std::string(24, '\0') + "sand", "Map #5 - Desert.map4"},
              {6, Record("#%&[]{"), "Map #6 - #%&[]{.map4"},
              {3000, Record("Last"), "Map #3000 - Last.map4"},
              {7, Record(""), nullptr},
              {0, Record("Zero"), nullptr},
              {3001, Record("Far"), nullptr}};
  TempFolder folder;
  std::vector<std::pair<std::int64_t, std::string>> rows;
  Files dumped;
  for (const auto& map : maps) {
    rows.emplace_back(map.number, map.record);
    if (map.file != nullptr) dumped[map.file] = map.record;
  }
  Start(rows, {{"Map #1 - Harbour.map4", std::string(500, 'x')}});
  const Rows stored = ReadMaps("server.dat");
  const Shown shown;

  EXPECT_TRUE(cmdButton1_Click());

  EXPECT_EQ(shown.status,
            (std::vector<std::string>{"Dumping Map #1 - Harbour ...", "Dumping Map #2 - a/b ...",
                                      "Dumping Map #3 - why? ...", "Dumping Map #4 - st*r:x\"\\ ...",
                                      "Dumping Map #5 - Desert ...", "Dumping Map #6 - #%&[]{ ...",
                                      "Dumping Map #3000 - Last ..."}));
  EXPECT_TRUE(shown.boxes.empty());
  EXPECT_EQ(FolderFiles("Maps"), dumped);
  EXPECT_EQ(frmLoading(), nullptr);
  EXPECT_NE(frmMain(), nullptr);
  EXPECT_EQ(ReadMaps("server.dat"), stored);
}

// What "Maps" holds, read without following a link or opening a pipe: its
// entries with their bytes, a folder as "<folder>", a named pipe as "<pipe>", a
// link as "<link to ...>"; "Maps" itself as the entry "." when it is no folder.
Files MapsHolds() {
  const auto kind = [](const fs::path& path) -> std::string {
    const fs::file_status status = fs::symlink_status(path);
    if (fs::is_symlink(status)) return "<link to " + fs::read_symlink(path).string() + ">";
    if (fs::is_directory(status)) return "<folder>";
    if (fs::is_fifo(status)) return "<pipe>";
    return FileBytes(path);
  };
  if (!fs::is_directory(fs::symlink_status("Maps"))) return {{".", kind("Maps")}};
  Files files;
  for (const auto& entry : fs::directory_iterator("Maps"))
    files[entry.path().filename()] = kind(entry.path());
  return files;
}

TEST_F(Commands, DumpReportsAFailureWithItsSlotThenShutsDown) {
  const Files before = {{"Map #2 - Before.map4", Record("Before")}};
  const struct {
    const char* name;   // of map 5, between maps 2 and 9
    void (*prepare)();  // after start-up
    std::string report;
    Files files;  // what "Maps" holds afterwards (MapsHolds)
  } cases[] = {
      // Rejected again after rebuilding; "Maps", gone since start-up, is made anew.
      {"tab\there", [] { fs::remove("Maps"); }, "5 - Error #52 - Bad file name or number", before},
      {"Mid",
       [] { fs::create_directory("Maps/Map #5 - Mid.map4"); },
       "5 - Error #75 - Path/File access error",
       {*before.begin(), {"Map #5 - Mid.map4", "<folder>"}}},
      // A plain file "Maps" counts as there, so every path misses a folder, rebuilt or not.
      {"Mid",
       [] { fs::remove("Maps"), std::ofstream("Maps") << "plain"; },
       "2 - Error #76 - Path not found",
       {{".", "plain"}}},
      // Never written through a link or to a pipe: the link points nowhere still,
      // and the dump goes on without waiting for a reader.
      {"Mid",
       [] { fs::create_symlink("../outside", "Maps/Map #5 - Mid.map4"); },
       "5 - Error #75 - Path/File access error",
       {*before.begin(), {"Map #5 - Mid.map4", "<link to ../outside>"}}},
      {"Mid",
       [] { mkfifo("Maps/Map #5 - Mid.map4", 0666); },
       "5 - Error #75 - Path/File access error",
       {*before.begin(), {"Map #5 - Mid.map4", "<pipe>"}}},
      // Counts neither as a folder nor as a file, and cannot be made.
      {"Mid",
       [] { fs::remove("Maps"), fs::create_symlink("nowhere", "Maps"); },
       "0 - Error #75 - Path/File access error",
       {{".", "<link to nowhere>"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    TempFolder folder;
    Start({{2, Record("Before")}, {5, Record(c.name)}, {9, Record("After")}});
    c.prepare();
    const Shown shown;

    EXPECT_FALSE(cmdButton1_Click());

    EXPECT_EQ(shown.boxes,
              std::vector<std::string>{
                  "Report the following error code and description to the program administrator!\r\n\r\n"
                  "Map #" +
                  c.report});
    EXPECT_EQ(rsMaps, nullptr) << "not shut down";
    EXPECT_EQ(frmMain(), nullptr);
    EXPECT_EQ(frmLoading(), nullptr);
    EXPECT_EQ(MapsHolds(), c.files);
    EXPECT_FALSE(fs::exists("outside"));
  }
}

TEST_F(Commands, ConvertStoresEachMapFileUnderItsNumberInListOrder) {
  TempFolder folder;
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
  const Shown shown;

  EXPECT_TRUE(cmdButton2_Click());

  EXPECT_EQ(shown.boxes, std::vector<std::string>{"7 Maps converted!"});
  EXPECT_EQ(shown.status, (std::vector<std::string>{"Converting Map #0", "Converting Map #-2147483648",
                                                    "Converting Map #12", "Converting Map #4000",
                                                    "Converting Map #7", "Converting Map #9"}));
  EXPECT_EQ(ReadMaps("server.dat"), (Rows{{7, CompressData("desert\0"s)},
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
    TempFolder folder;
    Files files;
    for (const char* name : c.files) files[name] = "not converted";
    Start({{1, Record("One")}}, files);
    fs::rename("server.dat", c.database);
    const Shown shown;

    EXPECT_FALSE(cmdButton2_Click());

    EXPECT_EQ(shown.boxes, std::vector<std::string>{c.message});
    EXPECT_TRUE(shown.status.empty());
    EXPECT_EQ(ReadMaps(c.database), (Rows{{1, CompressData(Record("One"))}}));
    ShutDown();
  }
}

// A failure ends the program through the generic report; the file converted
// before stays stored, the one after, read ahead, is not.
TEST_F(Commands, AConvertFailureIsReportedWithTheFileAndClosesTheWindow) {
  TempFolder folder;
  Start({{1, Record("One")}, {3, Record("Three")}}, {{"Map #1 - kept.map4", "new one"},
                                                     {"Map #3 - gone.map4", "x"},
                                                     {"Map #5 - after.map4", "never stored"}});
  fs::remove("Maps/Map #3 - gone.map4");
  const Shown shown;

  frmMain()->findChild<QPushButton*>("cmdButton2")->click();

  EXPECT_EQ(shown.boxes,
            std::vector<std::string>{"Unexpected error #53: File not found (Maps\\Map #3 - gone.map4)"});
  EXPECT_EQ(frmMain(), nullptr);
  EXPECT_EQ(ReadMaps("server.dat"),
            (Rows{{1, CompressData("new one"s)}, {3, CompressData(Record("Three"))}}));
}

TEST_F(Commands, ConvertEndsQuietlyWhenTheMainWindowClosesWhileItYields) {
  TempFolder folder;
  Start({}, {{"Map #1 - a.map4", "one"}, {"Map #2 - b.map4", "two"}, {"Map #3 - c.map4", "three"}});
  // As a stop signal asks, at once: while the status window opens, the close waits.
  QTimer::singleShot(0, UnloadMain);
  const Shown shown;

  EXPECT_FALSE(cmdButton2_Click());

  EXPECT_TRUE(shown.boxes.empty());
  EXPECT_EQ(frmMain(), nullptr);
  EXPECT_EQ(frmLoading(), nullptr);
  EXPECT_EQ(ReadMaps("server.dat"), (Rows{{1, CompressData("one"s)}}));
  ExpectTheFileAloneHoldsTheDatabase();
}

// The files of a dump clicked while a convert yields are what the convert
// stores from then on, not what it read ahead before.
TEST_F(Commands, ConvertStoresWhatADumpClickedMeanwhileWrote) {
  TempFolder folder;
  Start({{1, Record("One")}, {2, Record("Two")}, {3, Record("Three")}},
        {{"Map #1 - One.map4", "new one"},
         {"Map #2 - Two.map4", "new two"},
         {"Map #3 - Three.map4", "new three"}});
  auto* dump = frmMain()->findChild<QPushButton*>("cmdButton1");
  const Shown shown;
  SetStatusListener([dump](std::string_view text) {
    if (text != "Converting Map #2") return;
    QTimer::singleShot(0, dump, [dump] {  // at the yield after map 2
      QThread::msleep(200);               // time for the files to be read ahead
      dump->click();
    });
  });

  EXPECT_TRUE(cmdButton2_Click());

  EXPECT_EQ(shown.boxes, std::vector<std::string>{"3 Maps converted!"});
  EXPECT_EQ(ReadMaps("server.dat"), (Rows{{1, CompressData("new one"s)},
                                          {2, CompressData("new two"s)},
                                          {3, CompressData(Record("Three"))}}));
}

// The texts the status label is painted with, each once, and the clock that
// paces them, which moves only by `step` at each reading: what is drawn then
// hangs on frames passed and on waits, never on how fast the run goes.
struct Screen : QObject {
  std::int64_t now = 0;
  std::int64_t step = 0;
  std::vector<std::string> painted;
  std::string last;

  Screen() {
    SetStatusClock([this] { return now += step; });
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~Screen() override {
    QCoreApplication::instance()->removeEventFilter(this);
    SetStatusClock({});
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && watched->objectName() == "lblStatus") {
      const std::string text = static_cast<QLabel*>(watched)->text().toStdString();
      if (!text.empty() && text != last) painted.push_back(last = text);
    }
    return false;
  }
  std::vector<std::string> Take() { return std::exchange(painted, {}); }
};

constexpr std::int64_t kFrameNs = 16'000'000;
using Texts = std::vector<std::string>;

// A progress text within a frame (16 ms) of the last one drawn waits, and is
// drawn once a frame has passed, also while the program waits for the workers
// or the disk; a status is drawn at once. The convert's texts are paced as the
// dump's are.
TEST_F(Commands, ProgressIsDrawnAtMostOnceAFrameAndNeverLeftWaiting) {
  Screen screen;
  SetStatus("Opening Server Database..");
  for (int n = 1; n <= 100; ++n) SetProgress("Dumping Map #" + std::to_string(n) + " - Desert ...");
  DoEvents();
  EXPECT_EQ(screen.Take(), Texts{"Opening Server Database.."});
  screen.now += kFrameNs;
  DoEvents();
  EXPECT_EQ(screen.Take(), Texts{"Dumping Map #100 - Desert ..."});
  SetProgress("Dumping Map #101 - Desert ...");
  SetStatus("Loading Maps..");
  EXPECT_EQ(screen.Take(), Texts{"Loading Maps.."});
  UnloadLoading();

  // With no frame passing, the convert draws its first text, the one whose
  // file the workers still read and compress, and the last before its wait for
  // the disk. Map 161's file takes a while and compresses to a small blob.
  TempFolder folder;
  Files files;
  for (int n = 101; n <= 160; ++n) files["Map #" + std::to_string(n) + " - a.map4"] = Record("small");
  std::mt19937 random(1);
  std::string slow(2 << 20, '\0');
  for (char& byte : slow) byte = static_cast<char>(random() % 4);
  files["Map #161 - slow.map4"] = slow;
  files["Map #162 - z.map4"] = Record("last");
  Start({}, files);
  screen.Take();
  std::optional<Shown> shown(std::in_place);
  EXPECT_TRUE(cmdButton2_Click());
  const Texts painted = screen.Take();
  // A worker held up for a frame on a busy machine adds a text drawn.
  ASSERT_FALSE(painted.empty());
  EXPECT_LT(painted.size(), 10u) << testing::PrintToString(painted);
  EXPECT_EQ(painted.front(), "Converting Map #101");
  EXPECT_NE(std::ranges::find(painted, "Converting Map #161"), painted.end())
      << testing::PrintToString(painted);
  EXPECT_EQ(painted.back(), "Converting Map #162");

  // With a frame passing between texts, every text is drawn, in order.
  screen.step = kFrameNs;
  shown.emplace();
  EXPECT_TRUE(cmdButton2_Click());
  EXPECT_EQ(screen.Take(), shown->status);
  EXPECT_EQ(shown->status.size(), 62u);
}

}  // namespace
}  // namespace corvald::test
