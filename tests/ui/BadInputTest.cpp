// The commands and start-up against bad map files, a disk that fills, and files
// this user may not write: each ends with a message that says what went wrong,
// and nothing already stored or written is lost. Each case runs in a child
// process, so that it can lower its file size limit or drop root's rights (root
// ignores permission bits), and reports the message boxes it showed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>

#include "app/ErrorReport.h"
#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "store/EngineErrors.h"
#include "store/modDatabase.h"
#include "tests/support/Checks.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DatabaseFixture.h"
#include "tests/support/MapRecords.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/TempProgramFolder.h"
#include "ui/Commands.h"
#include "ui/frmLoading.h"
#include "ui/frmMain.h"

namespace corvald::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Files = std::map<std::string, std::string>;

enum class Command { kNone, kDump, kConvert };

struct Case {
  const char* what = "";
  Files files{};                        // in "Maps"
  std::function<void()> beforeStart{};  // in the parent, as root
  std::function<void()> inChild{};      // before start-up: limits and rights
  std::function<void()> afterStart{};   // between start-up and the command
  Command command = Command::kNone;
  std::string message{};                  // the whole text, or its start for a generic report
  Files filesAfter{};                     // "Maps" afterwards
  std::vector<std::int64_t> converted{};  // numbers whose rows now hold their file
};

// Records that do not compress, so that what is stored is as large as what is read.
const std::vector<std::pair<std::int64_t, std::string>> kStored = {{1, NamedRecord("One", RandomBytes(3000))},
                                                                   {2, NamedRecord("Two", "two")},
                                                                   {3, NamedRecord("Three", "three")}};

// Start-up's database steps and main window, then the command, each guarded as
// the program guards them; the boxes go to `fd`, each ended by a NUL.
void RunCase(const Case& c, int fd) {
  if (c.inChild) c.inChild();
  MessageBoxRecorder boxes;
  MapList = MapTable{};
  Guarded([&] {
    if (!LoadServerDatabase()) return;
    ShowMain();
    UnloadLoading();
    if (c.afterStart) c.afterStart();
    if (c.command == Command::kDump) cmdButton1_Click();
    if (c.command == Command::kConvert) cmdButton2_Click();
  });
  ShutDown();
  for (const std::string& text : boxes.Texts()) {
    const std::string line = text + '\0';
    if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(4);
  }
}

void ChownAll(const fs::path& root) {
  constexpr uid_t kNobody = 65534;
  if (chown(root.c_str(), kNobody, kNobody) != 0) throw std::runtime_error("chown failed");
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (lchown(entry.path().c_str(), kNobody, kNobody) != 0) throw std::runtime_error("chown failed");
  }
}

TEST(BadInput, EachEndsWithAClearMessageAndLosesNothingStored) {
  const std::string big = RandomBytes(300000);
  const Files maps = {
      {"Map #1 - a.map4", "new one"}, {"Map #2 - b.map4", "new two"}, {"Map #3 - c.map4", "new three"}};
  const std::vector<Case> cases = {
      {.what = "a map file made a folder after the list was filled",
       .files = maps,
       .afterStart = [] { fs::remove("Maps/Map #2 - b.map4"), fs::create_directory("Maps/Map #2 - b.map4"); },
       .command = Command::kConvert,
       .message = GenericReport(err::kPathFileAccess),
       .filesAfter = {{"Map #1 - a.map4", "new one"},
                      {"Map #2 - b.map4", "<folder>"},
                      {"Map #3 - c.map4", "new three"}},
       .converted = {1}},
      {.what = "a map file that may not be read",
       .files = maps,
       .beforeStart = [] { fs::permissions("Maps/Map #2 - b.map4", fs::perms::none); },
       .inChild = BecomeNobody,
       .command = Command::kConvert,
       .message = GenericReport(err::kPermissionDenied),
       .filesAfter = maps,
       .converted = {1}},
      {.what = "a disk that fills during a conversion",
       .files = {{"Map #1 - a.map4", "new one"}, {"Map #2 - b.map4", big}},
       .afterStart = [] { LimitFileSize(200000); },
       .command = Command::kConvert,
       .message = GenericReport(engine::err::kEngineError),
       .filesAfter = {{"Map #1 - a.map4", "new one"}, {"Map #2 - b.map4", big}},
       .converted = {1}},
      {.what = "a disk that fills during compaction",
       .inChild = [] { LimitFileSize(fs::file_size("server.dat") / 2); },
       .message = GenericReport(engine::err::kEngineError)},
      {.what = "a disk that fills during a dump",
       .afterStart = [] { LimitFileSize(1000); },
       .command = Command::kDump,
       .message = kDumpReport + "1 - Error #61 - Disk full"s,
       .filesAfter = {{"Map #1 - One.map4", kStored[0].second.substr(0, 1000)}}},
      {.what = "a \"Maps\" folder that may not be written",
       .files = {{"Map #9 - old.map4", "kept"}},
       .beforeStart = [] { fs::permissions("Maps", fs::perms::owner_read | fs::perms::owner_exec); },
       .inChild = BecomeNobody,
       .command = Command::kDump,
       .message = kDumpReport + "1 - Error #70 - Permission denied"s,
       .filesAfter = {{"Map #9 - old.map4", "kept"}}},
      {.what = "a \"server.dat\" that may not be written",
       .beforeStart = [] { fs::permissions("server.dat", fs::perms::owner_read); },
       .inChild = BecomeNobody,
       .message = GenericReport(engine::err::kReadOnly)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempProgramFolder folder;
    const std::vector<MapRow> stored = CompressedRows(kStored);
    LayOutProgramFolder(stored, c.files);
    ChownAll(folder.Path());
    if (c.beforeStart) c.beforeStart();

    const ChildReport child = RunInChildReporting([&](int fd) { RunCase(c, fd); });

    ASSERT_TRUE(WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0) << child.status;
    std::vector<std::string> texts;
    for (std::size_t start = 0; start < child.written.size();) {
      const std::size_t end = child.written.find('\0', start);
      texts.push_back(child.written.substr(start, end - start));
      start = end + 1;
    }
    ASSERT_EQ(texts.size(), 1u) << testing::PrintToString(texts);
    std::cout << c.what << ": " << texts[0] << "\n";
    EXPECT_TRUE(IsReport(texts[0], c.message));
    fs::permissions(folder.Path(), fs::perms::owner_all, fs::perm_options::add);
    fs::permissions("Maps", fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(FolderFiles("Maps"), c.filesAfter);
    EXPECT_FALSE(fs::exists("server.tmp"));
    // Every row is there, holding its file where it was converted and what it held before elsewhere.
    std::vector<MapRow> expected = stored;
    for (std::int64_t n : c.converted) {
      const std::string name = n == 1 ? "Map #1 - a.map4" : n == 2 ? "Map #2 - b.map4" : "Map #3 - c.map4";
      expected[static_cast<std::size_t>(n - 1)].data = CompressData(c.filesAfter.at(name));
    }
    EXPECT_EQ(ReadMapsWithShell("server.dat", kServerPassword), expected);
  }
}

}  // namespace
}  // namespace corvald::test
