// Start-up's compaction of "server.dat" against what other programs leave
// behind or hold: an interrupted writer's journal or log, a connection that
// keeps the database, a page that cannot be read, and a crash at any moment.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>

#include "store/EngineErrors.h"
#include "store/modDatabase.h"
#include "tests/store/EngineTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MapRecords.h"
#include "tests/support/TempProgramFolder.h"

namespace corvald::test {
namespace {

namespace err = engine::err;
namespace fs = std::filesystem;

// Start-up's step; the opened database closes again at once.
void CompactAndOpen() { CompactAndOpenServerDatabase(*engine::Engine().Workspaces(0)); }

// `count` maps numbered from `first`, most of a page each.
std::vector<MapRow> Maps(int first, int count) {
  std::vector<MapRow> rows;
  for (int n = first; n < first + count; ++n) rows.push_back({n, std::string(700, static_cast<char>(n))});
  return rows;
}

// The names of the files of the current folder that changed since `before`,
// leaving out the log index, memory that the connections share and any reader
// writes to.
std::vector<std::string> ChangedSince(std::map<std::string, std::string> before) {
  std::map<std::string, std::string> after = FolderFiles(".");
  before.erase("server.dat-shm");
  after.erase("server.dat-shm");
  std::vector<std::string> names;
  for (const auto& [name, bytes] : after) {
    if (!before.contains(name) || before.at(name) != bytes) names.push_back(name);
  }
  for (const auto& [name, bytes] : before) {
    if (!after.contains(name)) names.push_back(name);
  }
  return names;
}

// A stale journal, which no writer left hot, is one whose header is zeroed.
TEST(ServerCompaction, AnInterruptedWriterLeavesOnlyItsCommittedRows) {
  for (const char* side : {"-wal", "-journal", "stale -journal"}) {
    SCOPED_TRACE(side);
    const bool stale = side[0] == 's';
    TempProgramFolder folder;
    MakeMapsDatabase("server.dat", kServerPassword, Maps(1, 4));
    LeaveInterruptedWriter("server.dat", kServerPassword, side[1] == 'w', Maps(5, 4), Maps(100, 30));
    if (stale) {
      RunSqlcipherShell("server.dat", kServerPassword, "SELECT count(*) FROM Maps;");
      folder.WriteFile("server.dat-journal", std::string(4096, '\0'));
    }
    ASSERT_TRUE(fs::exists(std::string("server.dat") + (stale ? "-journal" : side)));

    CompactAndOpen();

    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"server.dat"});
    EXPECT_EQ(ReadMapsWithShell("server.dat", kServerPassword), Maps(1, 8));
    EXPECT_EQ(RunSqlcipherShell("server.dat", kServerPassword, "PRAGMA journal_mode;"), "delete\n");
  }
}

TEST(ServerCompaction, ADatabaseInUseFailsAndChangesNoFile) {
  struct Case {
    const char* what;
    const char* sql;  // what the other program has run and holds on to
  };
  const std::vector<Case> cases = {
      {"exclusive lock", "BEGIN EXCLUSIVE;"},
      {"write under way", "BEGIN IMMEDIATE; INSERT INTO Maps VALUES (9, 1);"},
      {"open in WAL mode", "PRAGMA journal_mode = WAL; INSERT INTO Maps VALUES (9, 1);"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempProgramFolder folder;
    MakeMapsDatabase("server.dat", kServerPassword, Maps(1, 4));
    folder.WriteFile("server.tmp", "left from an earlier run");
    const WaitingChild other([&] { RunWithSqlite(OpenWithSqlite("server.dat", kServerPassword), c.sql); });
    const auto before = FolderFiles(".");

    EXPECT_EQ(FailureNumberOf(CompactAndOpen), err::kLocked);

    EXPECT_EQ(ChangedSince(before), std::vector<std::string>{});
  }
}

TEST(ServerCompaction, ACompactionThatFailsPartWayPutsTheDatabaseBack) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, Maps(1, 20));
  DamagePage("server.dat", 12);
  const std::string before = FileBytes("server.dat");

  EXPECT_NE(FailureNumberOf(CompactAndOpen), 0);

  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"server.dat"});
  EXPECT_EQ(FileBytes("server.dat"), before);
}

// The maps of `file` as the shell reads them; none, with the failure recorded,
// when it cannot read them.
std::vector<MapRow> MapsReadByShell(const std::string& file) {
  try {
    return ReadMapsWithShell(file, kServerPassword);
  } catch (const std::exception& failure) {
    ADD_FAILURE() << failure.what();
    return {};
  }
}

// A copy that a kill left before it got its name: "server.dat.compacting."
// and 8 hex digits, with no journal or log of its own beside it.
bool IsStrayCopy(const std::string& name) {
  static constexpr std::string_view kPrefix = "server.dat.compacting.";
  return name.starts_with(kPrefix) && name.size() == kPrefix.size() + 8 &&
         name.find_first_not_of("0123456789abcdef", kPrefix.size()) == std::string::npos;
}

TEST(ServerCompaction, AKillAtAnyMomentLeavesEveryMap) {
  const QuickKeyDerivation quick;
  TempProgramFolder folder;
  const std::vector<MapRow> maps = Maps(1, 12);
  MakeMapsDatabase("server.dat", kServerPassword, maps);
  // Settling then has a journal to roll back, and a kill can come during that too.
  LeaveInterruptedWriter("server.dat", kServerPassword, false, {}, Maps(100, 20));
  const auto start = FolderFiles(".");

  // Every file-changing call is a kill point: before, during and after the
  // rollback, the renames and the copy.
  const TracedRun whole = RunKilledAt(CompactAndOpen, 0);
  ASSERT_TRUE(WIFEXITED(whole.status) && WEXITSTATUS(whole.status) == 0);
  ASSERT_GE(whole.fileChanges.size(), 30u);

  for (std::size_t point = 1; point <= whole.fileChanges.size(); ++point) {
    SCOPED_TRACE("killed at file-changing call " + std::to_string(point) + " of " +
                 std::to_string(whole.fileChanges.size()) + " (system call " +
                 std::to_string(whole.fileChanges[point - 1]) + ")");
    for (const std::string& name : FolderEntries()) fs::remove(name);
    for (const auto& [name, bytes] : start) folder.WriteFile(name, bytes);

    // A run may make a call or two fewer than the first (SQLite deletes a side
    // file only when it finds one); one that ends before the point ran whole.
    const TracedRun run = RunKilledAt(CompactAndOpen, point);
    if (!run.killed) {
      ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0);
    }

    for (const std::string& name : FolderEntries()) {
      EXPECT_TRUE(name == "server.dat" || name == "server.dat-journal" || name == "server.tmp" ||
                  IsStrayCopy(name))
          << name;
    }
    EXPECT_EQ(MapsReadByShell("server.dat"), maps);
  }
}

}  // namespace
}  // namespace corvald::test
