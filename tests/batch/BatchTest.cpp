// The real corvald-batch, run without a display on databases that the sqlcipher
// shell made: its dump and convert against Python's zlib, its list against the
// main window, and its exit codes.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QWidget>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>

#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "platform/Files.h"
#include "store/MapTable.h"
#include "store/modDatabase.h"
#include "tests/support/Checks.h"
#include "tests/support/DatabaseFixture.h"
#include "tests/support/MapRecords.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/TempProgramFolder.h"
#include "ui/frmMain.h"

namespace corvald {
namespace {

namespace fs = std::filesystem;
using test::MapRow;

struct BatchRun {
  int code = -1;
  std::string out;
  std::string err;
};

using test::FolderFiles;
using test::NamedRow;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A copy of corvald-batch alone in "program", started from another folder.
class BatchFolder {
 public:
  BatchFolder() {
    fs::create_directories(folder_);
    fs::create_directories(elsewhere_);
    fs::copy_file(CORVALD_BATCH, folder_ / "corvald-batch");
  }

  // Runs it with neither a display nor a Qt platform named, plus `extra` in its
  // environment; its standard output goes to `output` when one is named.
  BatchRun Start(const QStringList& arguments, const std::map<QString, QString>& extra = {},
                 const QString& output = {}) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    for (const auto& [name, value] : extra) environment.insert(name, value);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QString::fromStdString(elsewhere_.string()));
    if (!output.isEmpty()) process.setStandardOutputFile(output);
    process.start(QString::fromStdString((folder_ / "corvald-batch").string()), arguments);
    if (!process.waitForFinished(120000)) return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
  }

  std::string Database() const { return (folder_ / "server.dat").string(); }

  test::TempProgramFolder temp_;
  const fs::path folder_ = temp_.Path() / "program";
  const fs::path elsewhere_ = temp_.Path() / "elsewhere";
};

class Batch : public testing::Test, public BatchFolder {};

TEST_F(Batch, DumpsAndConvertsAsTheWindowProgramDoes) {
  const fs::path reference = temp_.Path() / "reference";
  ASSERT_EQ(std::system(("python3 " CORVALD_REFERENCE_MAPS " '" + reference.string() + "'").c_str()), 0);
  test::RunSqlcipherShell(Database(), test::kServerPassword, test::FileBytes(reference / "maps.sql"));
  const std::vector<MapRow> rows = test::ReadMapsWithShell(Database(), test::kServerPassword);

  const BatchRun dump = Start({"dump"});
  ASSERT_EQ(dump.code, 0) << dump.err;
  EXPECT_EQ(FolderFiles(folder_ / "Maps"), FolderFiles(reference / "expected"));
  EXPECT_EQ(dump.out, "");
  // Not a terminal: one plain line per status text, start-up's and then one per map.
  const std::vector<std::string> progress = Lines(dump.err);
  ASSERT_EQ(progress.size(), 3u + 300u) << dump.err;
  EXPECT_EQ(
      std::vector(progress.begin(), progress.begin() + 3),
      (std::vector<std::string>{"Checking zlib.dll ...", "Opening Server Database..", "Loading Maps.."}));
  EXPECT_EQ(progress.back(), "Dumping Map #3000 - say \"hi\" 3000 ...");

  const BatchRun convert = Start({"-q", "convert"});
  EXPECT_EQ(convert.code, 0) << convert.err;
  EXPECT_EQ(convert.out, "300 Maps converted!\n");
  EXPECT_EQ(convert.err, "");
  EXPECT_EQ(test::ReadMapsWithShell(Database(), test::kServerPassword), rows);
}

TEST_F(Batch, ListsWhatTheMainWindowShows) {
  test::MakeMapsDatabase(Database(), test::kServerPassword,
                         {NamedRow(5, "Caf\xE9 Noir"), NamedRow(2, "a:b #2"), NamedRow(4000, "Far"),
                          NamedRow(9, std::string("Nul\0After", 9)), NamedRow(7, "")});
  const BatchRun list = Start({"list", QString::fromStdString(folder_.string())});
  ASSERT_EQ(list.code, 0) << list.err;

  // The main window of this process on the same database.
  SetCurrentFolder(folder_);
  test::MessageBoxRecorder boxes;
  ASSERT_TRUE(LoadServerDatabase());
  ShowMain();
  ASSERT_NE(frmMain(), nullptr);
  std::string shown = frmMain()->findChild<QLabel*>("Label")->text().toStdString() + "\n";
  const auto* maps = frmMain()->findChild<QComboBox*>("cmbMapList");
  for (int i = 0; i < maps->count(); ++i) shown += maps->itemText(i).toStdString() + "\n";
  ShutDown();
  SetCurrentFolder(temp_.Path());

  EXPECT_EQ(list.out, shown);
  EXPECT_EQ(Lines(list.out).size(), 1u + 3u);
}

// What strace saw of start-up: the compacted copy is forced to disk before it
// takes the database's name, and the folder after, so that a power cut leaves
// a whole database under that name.
TEST_F(Batch, StartUpSyncsTheCompactedCopyBeforeItsRenameAndTheFolderAfter) {
  test::MakeMapsDatabase(Database(), test::kServerPassword, {NamedRow(1, "One")});
  const fs::path trace = temp_.Path() / "trace";
  ASSERT_EQ(
      std::system(("strace -f -qq -o '" + trace.string() + "' -e trace=openat,fsync,fdatasync,rename '" +
                   (folder_ / "corvald-batch").string() + "' -q list > /dev/null")
                      .c_str()),
      0);
  std::map<std::string, std::string> files;  // by descriptor, "<pid> <fd>"
  std::map<std::string, int> syncs;          // by file
  std::string renamed;
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, std::regex(R"re(^(\d+) +openat\(AT_FDCWD, "([^"]+)".* = (\d+)$)re"))) {
      files[m[1].str() + " " + m[3].str()] = m[2];
    } else if (std::regex_search(line, m, std::regex(R"re(^(\d+) +f(data)?sync\((\d+)\) += 0)re"))) {
      ++syncs[files[m[1].str() + " " + m[3].str()]];
    } else if (std::regex_search(line, m, std::regex(R"re(rename\("([^"]+)", "([^"]+)"\) = 0)re"))) {
      if (m[2] == fs::canonical(Database()).string()) {
        renamed = m[1];
        EXPECT_GE(syncs[renamed], 1) << "the copy, before its rename";
        syncs.clear();
      }
    }
  }
  EXPECT_NE(renamed.find("server.dat.compacting."), std::string::npos) << "no rename onto server.dat";
  EXPECT_GE(syncs[fs::canonical(folder_).string()], 1) << "the folder, after the rename";
}

// A stop signal during a convert ends it after the map under way, with every
// map stored before in the database file, which is back in rollback-journal mode.
TEST_F(Batch, AStopSignalEndsTheConvertWithTheDatabaseSettled) {
  test::MakeMapsDatabase(Database(), test::kServerPassword, {});
  fs::create_directories(folder_ / "Maps");
  // Maps that zlib takes a while over, so that the convert is still at work.
  const std::string record = test::RandomBytes(4 << 20);
  for (int n = 1; n <= 16; ++n)
    std::ofstream(folder_ / "Maps" / ("Map #" + std::to_string(n) + " - x.map4")) << record;
  QProcess process;
  process.setReadChannel(QProcess::StandardError);
  process.start(QString::fromStdString((folder_ / "corvald-batch").string()), {"convert"});
  while (process.waitForReadyRead(30000) && !process.readAllStandardError().contains("Converting Map #")) {
  }
  process.terminate();
  ASSERT_TRUE(process.waitForFinished(30000));

  EXPECT_EQ(process.exitCode(), 128 + SIGTERM);
  EXPECT_TRUE(process.readAllStandardError().contains("stopped by signal 15"));
  EXPECT_EQ(test::RunSqlcipherShell(Database(), test::kServerPassword, "PRAGMA journal_mode;"), "delete\n");
  EXPECT_FALSE(fs::exists(Database() + "-wal"));
  EXPECT_GE(test::ReadMapsWithShell(Database(), test::kServerPassword).size(), 1u);
  EXPECT_LT(test::ReadMapsWithShell(Database(), test::kServerPassword).size(), 16u);
}

// Every way a run ends, by its exit code, with what it prints and leaves.
TEST_F(Batch, ExitCodes) {
  const std::string twoMaps = "Maps/Map #2 - Two.map4";
  struct Case {
    const char* what;
    std::function<void(const BatchFolder&)> prepare;
    QStringList arguments;
    int code;
    std::string out;  // how stdout starts
    std::string err;  // a line that stderr holds ("" for none expected)
    std::function<void(const BatchFolder&)> check = nullptr;
    std::map<QString, QString> environment = {};
    QString output = {};
  };
  const auto database = [](std::vector<MapRow> rows) {
    return [rows](const BatchFolder& batch) {
      test::MakeMapsDatabase(batch.Database(), test::kServerPassword, rows);
    };
  };
  const auto nothing = [](const BatchFolder&) {};
  const std::vector<MapRow> threeMaps = {NamedRow(1, "One"), NamedRow(2, "Two"), NamedRow(3, "Three")};
  QProcess holder;  // a claim on the program's folder, as another instance holds it
  const std::vector<Case> cases = {
      {"help", nothing, {"--help"}, 0, "Usage: corvald-batch", ""},
      {"no command", nothing, {}, 2, "", "corvald-batch: no command given"},
      {"unknown command", nothing, {"export"}, 2, "", "corvald-batch: unknown command 'export'"},
      {"unknown option", nothing, {"-x", "list"}, 2, "", "corvald-batch: unknown option '-x'"},
      {"too many arguments", nothing, {"list", "a", "b"}, 2, "", "corvald-batch: too many arguments"},
      {"list", database(threeMaps), {"-q", "list"}, 0, "Number of maps found: 3\nMap #1: One\n", ""},
      {"list of names with control characters",
       database({NamedRow(3, "Esc\x1B[2J\\\x9D\nX")}),
       {"list"},
       0,
       "Number of maps found: 1\nMap #3: Esc\\x1B[2J\\\\\\x9D\\x0AX\n",
       "Loading Maps.."},
      {"dump progress with control characters",
       database({NamedRow(3, "Esc\x1B[2J")}),
       {"dump"},
       1,
       "",
       "Dumping Map #3 - Esc\\x1B[2J ..."},
      {"list to a full disk",
       database(threeMaps),
       {"list"},
       1,
       "",
       "corvald-batch: cannot write to standard output: ",
       nullptr,
       {},
       "/dev/full"},
      {"no server.dat", nothing, {"dump"}, 1, "", std::string("corvald-batch: ") + test::kNoDatabase},
      {"another zlib",
       database(threeMaps),
       {"list"},
       1,
       "",
       "corvald-batch: File: 'zlib.dll' not found!",
       [](const BatchFolder& batch) {
         EXPECT_EQ(test::ReadMapsWithShell(batch.Database(), test::kServerPassword).size(), 3u);
       },
       {{"LD_PRELOAD", CORVALD_FAKE_ZLIB_VERSION},
        {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0"}}},
      {"wrong password",
       [](const BatchFolder& batch) { test::MakeMapsDatabase(batch.Database(), "other", {}); },
       {"list"},
       1,
       "",
       "corvald-batch: Unexpected error #"},
      {"Maps is a plain file",
       [&](const BatchFolder& batch) {
         database(threeMaps)(batch);
         std::ofstream(batch.folder_ / "Maps") << "not a folder";
       },
       {"list"},
       1,
       "",
       "corvald-batch: Unexpected error #76: "},
      {"no .map4 files",
       [&](const BatchFolder& batch) {
         database(threeMaps)(batch);
         fs::create_directories(batch.folder_ / "Maps");
         std::ofstream(batch.folder_ / "Maps" / "notes.txt") << "not a map";
       },
       {"convert"},
       1,
       "",
       "corvald-batch: Error: No '.map4' files found in the 'Maps' folder!",
       [](const BatchFolder& batch) {
         EXPECT_EQ(test::ReadMapsWithShell(batch.Database(), test::kServerPassword).size(), 3u);
       }},
      {"convert to a full disk",
       [&](const BatchFolder& batch) {
         database(threeMaps)(batch);
         fs::create_directories(batch.folder_ / "Maps");
         std::ofstream(batch.folder_ / "Maps/Map #1 - One.map4") << "new one";
       },
       {"-q", "convert"},
       1,
       "",
       "corvald-batch: cannot write to standard output: ",
       nullptr,
       {},
       "/dev/full"},
      {"convert stopping at a file",
       [&](const BatchFolder& batch) {
         database(threeMaps)(batch);
         fs::create_directories(batch.folder_ / "Maps");
         std::ofstream(batch.folder_ / "Maps/Map #1 - One.map4") << "new one";
         std::ofstream(batch.folder_ / "Maps/Map #99999999999 - Big.map4") << "too far";
       },
       {"convert"},
       1,
       "",
       "corvald-batch: Unexpected error #6: Overflow (Maps/Map #99999999999 - Big.map4)",
       [](const BatchFolder& batch) {
         EXPECT_EQ(test::ReadMapsWithShell(batch.Database(), test::kServerPassword)[0].data,
                   CompressData(std::string("new one")));
       }},
      // Another instance would compact the file under that one's connection.
      {"another instance at work",
       [&](const BatchFolder& batch) {
         database(threeMaps)(batch);
         holder.start("flock", {QString::fromStdString(batch.folder_.string()), "-c", "echo held; sleep 9"});
         holder.waitForReadyRead();
       },
       {"list"},
       1,
       "",
       "corvald-batch: Unexpected error #3260: The database 'server.dat' is locked by another user.",
       [&](const BatchFolder& batch) {
         holder.kill();
         holder.waitForFinished();
         EXPECT_EQ(test::ReadMapsWithShell(batch.Database(), test::kServerPassword).size(), 3u);
       }},
      {"dump failing at map 2",
       [&](const BatchFolder& batch) {
         database(threeMaps)(batch);
         fs::create_directories(batch.folder_ / twoMaps);
       },
       {"dump"},
       1,
       "",
       "Map #2 - Error #",
       [](const BatchFolder& batch) {
         EXPECT_EQ(test::FileBytes(batch.folder_ / "Maps/Map #1 - One.map4").substr(MAP_NAME_LEN), "tiles");
         EXPECT_FALSE(fs::exists(batch.folder_ / "Maps/Map #3 - Three.map4"));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BatchFolder batch;
    c.prepare(batch);
    const BatchRun run = batch.Start(c.arguments, c.environment, c.output);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_EQ(run.out.substr(0, c.out.size()), c.out);
    if (!c.err.empty()) {
      EXPECT_NE(("\n" + run.err).find("\n" + c.err), std::string::npos) << run.err;
    }
    EXPECT_EQ(run.err.find('\r'), std::string::npos) << "line breaks are plain ones";
    EXPECT_EQ((run.out + run.err).find('\x1B'), std::string::npos) << "no control sequence";
    if (c.code == 2) {
      EXPECT_NE(run.err.find("Usage: corvald-batch"), std::string::npos);
    }
    if (c.check) c.check(batch);
  }
}

}  // namespace
}  // namespace corvald
