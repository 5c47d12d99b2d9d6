// Start-up and a conversion in a child process, killed with SIGKILL at random
// file-changing moments. After every kill the maps must all be there: a complete
// "server.dat" holding every row whose update had returned, or, when the kill
// fell between the renames of the compaction, the database under "server.tmp"
// alone, which the next start-up reports and leaves as it is.
//
// CI draws a few kills. For the long run set CORVALD_CRASH_KILLS (1000, say);
// CORVALD_CRASH_SEED replays the draws of a printed seed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "store/modDatabase.h"
#include "tests/support/Checks.h"
#include "tests/support/ChildProcess.h"
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

constexpr int kKillsInCi = 25;

int KillCount() {
  const char* kills = std::getenv("CORVALD_CRASH_KILLS");
  return kills != nullptr ? std::atoi(kills) : kKillsInCi;
}

std::uint32_t Seed() {
  const char* seed = std::getenv("CORVALD_CRASH_SEED");
  return seed != nullptr ? static_cast<std::uint32_t>(std::strtoul(seed, nullptr, 10))
                         : std::random_device{}();
}

std::string Record(int number, const std::string& version) {
  std::string record = version + " map " + std::to_string(number);
  record.resize(MAP_NAME_LEN, ' ');
  // Enough bytes per map that updates spill over several pages.
  for (int i = 0; i < 3000; ++i) record += static_cast<char>((i * 7 + number) % 256);
  return record;
}

// The maps as they stand before the run, and the map files it converts: some
// replace a row, some add one, one lies outside the map table.
const std::vector<int> kStored = {1, 2, 3, 4, 5, 6, 7, 8};
const std::vector<int> kConverted = {2, 4, 6, 8, 10, 11, 12, 3001};

std::string MapFileOf(int number) { return "Map #" + std::to_string(number) + " - new.map4"; }

// Writes a line to the parent; a child that cannot ends at once.
void WriteLine(int fd, const std::string& text) {
  const std::string line = text + "\n";
  if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(4);
}

// The child: start-up's database steps and main window, then the convert command.
// It reports each map number whose update has returned on `fd`, one line each. The
// status label names the map being converted before its file is read, so a new
// number there means the update of the one before has returned; once the command
// has returned, the last update has too.
void StartAndConvert(int fd) {
  const MessageBoxRecorder quiet;
  MapList = MapTable{};
  if (!LoadServerDatabase()) _exit(3);
  ShowMain();
  UnloadLoading();
  constexpr std::string_view kConverting = "Converting Map #";
  std::string converting;  // the number whose update is under way
  {
    const StatusTexts status([&](const std::string& text) {
      if (!text.starts_with(kConverting)) return;
      if (!converting.empty()) WriteLine(fd, converting);
      converting = text.substr(kConverting.size());
    });
    cmdButton2_Click();
  }
  if (!converting.empty()) WriteLine(fd, converting);
  _exit(0);
}

struct Outcome {
  TracedRun run;
  std::set<int> returned;
};

Outcome RunKilled(std::size_t killAt) {
  int report[2];
  if (pipe(report) != 0) throw std::runtime_error("pipe failed");
  Outcome outcome;
  outcome.run = RunKilledAt([&] { StartAndConvert(report[1]); }, killAt);
  close(report[1]);
  std::string lines;
  char buffer[256];
  for (ssize_t got; (got = read(report[0], buffer, sizeof buffer)) > 0;) lines.append(buffer, got);
  close(report[0]);
  std::istringstream in(lines);
  for (int number; in >> number;) outcome.returned.insert(number);
  return outcome;
}

// Lays out the program's folder as it stands before each run.
void Prepare() {
  for (const auto& entry : fs::directory_iterator(".")) fs::remove_all(entry.path());
  std::vector<MapRow> rows;
  for (int n : kStored) rows.push_back({n, CompressData(Record(n, "old"))});
  std::map<std::string, std::string> files;
  for (int n : kConverted) files[MapFileOf(n)] = Record(n, "new");
  LayOutProgramFolder(rows, files);
}

// The rows of `file` by number, with the count of numbers stored twice; the
// failure goes to the test when the shell cannot read them.
std::map<std::int64_t, std::string> RowsOf(const std::string& file, int& duplicates) {
  std::map<std::int64_t, std::string> rows;
  try {
    for (const MapRow& row : ReadMapsWithShell(file, kServerPassword)) {
      if (!row.number || !rows.emplace(*row.number, row.data).second) ++duplicates;
    }
  } catch (const std::exception& failure) {
    ADD_FAILURE() << failure.what();
  }
  return rows;
}

// Rows missing or wrong: every stored map is there, old or new; every converted
// map whose update returned is there, new; nothing else is.
int RowsLost(const std::map<std::int64_t, std::string>& rows, const std::set<int>& returned) {
  int lost = 0;
  std::set<int> numbers(kStored.begin(), kStored.end());
  numbers.insert(kConverted.begin(), kConverted.end());
  for (int n : numbers) {
    const bool stored = std::ranges::find(kStored, n) != kStored.end();
    const bool converted = std::ranges::find(kConverted, n) != kConverted.end();
    const auto row = rows.find(n);
    if (row == rows.end()) {
      lost += stored || returned.contains(n) ? 1 : 0;
      continue;
    }
    const std::string record = UncompressData(row->second);
    const bool isNew = converted && record == Record(n, "new");
    const bool isOld = stored && record == Record(n, "old");
    if (returned.contains(n) ? !isNew : !(isNew || isOld)) ++lost;
  }
  for (const auto& [number, data] : rows) {
    if (!numbers.contains(static_cast<int>(number))) ++lost;
  }
  return lost;
}

// The next start-up in this process: it loads what the shell read.
void CheckNextStartUp(const std::map<std::int64_t, std::string>& rows) {
  MapList = MapTable{};
  const MessageBoxRecorder boxes;
  ASSERT_TRUE(LoadServerDatabase());
  for (const auto& [number, data] : rows) {
    if (number >= 1 && number <= MAX_MAPS) {
      EXPECT_EQ(MapList[static_cast<std::int32_t>(number)].Data, UncompressData(data)) << number;
    }
  }
  EXPECT_TRUE(boxes.Boxes().empty());
  ShutDown();
  EXPECT_FALSE(fs::exists("server.tmp"));
}

bool IsLeftByTheKill(const std::string& name) {
  return name == "server.dat" || name == "server.dat-journal" || name == "server.dat-wal" ||
         name == "server.dat-shm" || name == "server.tmp" || name == "Maps" ||
         name.starts_with("server.dat.compacting.");
}

TEST(CrashHarness, AKillAtARandomMomentOfStartUpOrConversionLosesNoMap) {
  const QuickKeyDerivation quick;
  const TempProgramFolder folder;
  const std::uint32_t seed = Seed();
  const int kills = KillCount();
  std::cout << "crash harness: seed " << seed << " (CORVALD_CRASH_SEED to replay), " << kills << " kills\n";

  Prepare();
  const Outcome whole = RunKilled(0);
  ASSERT_TRUE(WIFEXITED(whole.run.status) && WEXITSTATUS(whole.run.status) == 0) << whole.run.status;
  ASSERT_EQ(whole.returned, std::set<int>(kConverted.begin(), kConverted.end()));
  const std::size_t moments = whole.run.fileChanges.size();
  ASSERT_GE(moments, 50u);

  std::mt19937 random(seed);
  int intact = 0, leftAsTemporary = 0, ranToEnd = 0, lost = 0;
  for (int kill = 0; kill < kills; ++kill) {
    const std::size_t point = 1 + random() % moments;
    SCOPED_TRACE("kill " + std::to_string(kill) + " at file-changing call " + std::to_string(point) + " of " +
                 std::to_string(moments) + ", seed " + std::to_string(seed));
    Prepare();
    const Outcome outcome = RunKilled(point);
    if (!outcome.run.killed) ++ranToEnd;

    for (const auto& entry : fs::directory_iterator(".")) {
      EXPECT_TRUE(IsLeftByTheKill(entry.path().filename())) << entry.path();
    }
    if (fs::exists("server.dat")) {
      int duplicates = 0;
      const auto rows = RowsOf("server.dat", duplicates);
      const int lostHere = RowsLost(rows, outcome.returned) + duplicates;
      EXPECT_EQ(lostHere, 0);
      lost += lostHere;
      CheckNextStartUp(rows);
      if (lostHere == 0 && !HasFailure()) ++intact;
      continue;
    }
    // Between the renames: the whole database is "server.tmp", untouched by any update.
    int duplicates = 0;
    const int lostHere = RowsLost(RowsOf("server.tmp", duplicates), {}) + duplicates;
    EXPECT_EQ(lostHere, 0);
    lost += lostHere;
    const std::string kept = FileBytes("server.tmp");
    const MessageBoxRecorder boxes;
    EXPECT_FALSE(LoadServerDatabase());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{kNoDatabase});
    EXPECT_EQ(FileBytes("server.tmp"), kept);
    ++leftAsTemporary;
  }
  std::cout << "crash harness: " << moments << " file-changing calls in a whole run; " << kills << " kills ("
            << ranToEnd << " after the run had ended), " << intact << " databases intact as \"server.dat\", "
            << leftAsTemporary << " left whole as \"server.tmp\" and reported, " << lost << " rows lost\n";
  EXPECT_EQ(intact + leftAsTemporary, kills);
  EXPECT_EQ(lost, 0);
}

}  // namespace
}  // namespace corvald::test
