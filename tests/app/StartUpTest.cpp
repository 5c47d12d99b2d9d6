// Start-up and shutdown in this process. The test program lies alone in a folder
// of its own, which is therefore the program's folder: start-up works there,
// whatever the current directory was.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>

#include "app/ErrorReport.h"
#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "store/EngineErrors.h"
#include "store/modDatabase.h"
#include "tests/support/Checks.h"
#include "tests/support/DatabaseFixture.h"
#include "tests/support/MapRecords.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/TempProgramFolder.h"
#include "ui/frmLoading.h"
#include "ui/frmMain.h"

namespace corvald {
namespace {

namespace fs = std::filesystem;
using test::MapRow;

using test::GenericReport;
using test::kNoDatabase;

MapRow Map(std::int64_t number, const std::string& record) { return {number, CompressData(record)}; }

std::string StatusText() {
  QWidget* window = frmLoading();
  return window ? window->findChild<QLabel*>("lblStatus")->text().toStdString() : "<closed>";
}

class StartUp : public testing::Test {
 protected:
  void SetUp() override { ClearProgramFolder(); }

  void TearDown() override {
    ShutDown();
    QCoreApplication::processEvents();
    fs::current_path(elsewhere_.Path());
    ClearProgramFolder();
  }

  // Everything but the program file goes.
  void ClearProgramFolder() const {
    for (const auto& entry : fs::directory_iterator(program_)) {
      if (entry.path().filename() != programFile_) fs::remove_all(entry.path());
    }
  }

  fs::path At(const char* name) const { return program_ / name; }

  const fs::path program_ = ProgramFolder();
  const fs::path programFile_ = fs::path(QCoreApplication::applicationFilePath().toStdString()).filename();
  // The current directory when start-up begins: not the program's folder.
  test::TempProgramFolder elsewhere_;
};

// An old temporary file goes before the database is compacted; compaction gives
// back the free pages that rows which came and went left behind, and keeps the
// rows and the index; an existing "Maps" folder is left as it is.
TEST_F(StartUp, WorksInTheProgramsFolderCompactsTheDatabaseAndOpensOnlyTheMainWindow) {
  const std::vector<MapRow> rows = {Map(7, std::string(3000, 'a')), Map(2, "two"), Map(9000, "far")};
  test::MakeMapsDatabase(At("server.dat"), test::kServerPassword, rows);
  test::RunSqlcipherShell(
      At("server.dat"), test::kServerPassword,
      "INSERT INTO Maps VALUES (5, randomblob(200000)); DELETE FROM Maps WHERE Number = 5;");
  const auto before = fs::file_size(At("server.dat"));
  std::ofstream(At("server.tmp")) << "left from an earlier run";
  fs::create_directory(At("Maps"));
  std::ofstream(At("Maps") / "Map #1 - a.map4") << "map";
  test::MessageBoxRecorder boxes;

  ASSERT_TRUE(Main());

  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(fs::current_path(), program_);
  EXPECT_EQ(test::FileBytes(At("Maps") / "Map #1 - a.map4"), "map");
  EXPECT_FALSE(fs::exists(elsewhere_.Path() / "Maps"));
  EXPECT_FALSE(fs::exists(At("server.tmp")));
  ASSERT_NE(frmMain(), nullptr);
  EXPECT_TRUE(frmMain()->isVisible());
  EXPECT_EQ(frmLoading(), nullptr);
  ASSERT_NE(rsMaps, nullptr);
  EXPECT_EQ(rsMaps->RecordCount(), 3);
  ShutDown();

  EXPECT_LT(fs::file_size(At("server.dat")), before - 100000);
  EXPECT_EQ(test::ReadMapsWithShell(At("server.dat"), test::kServerPassword), rows);
  EXPECT_EQ(test::RunSqlcipherShell(At("server.dat"), test::kServerPassword,
                                    "SELECT name FROM sqlite_master WHERE type = 'index';"),
            "Number\n");
}

// A plain file named "Maps" cannot be created over, and the main window's file
// list cannot use it: start-up ends with that failure, without a main window.
TEST_F(StartUp, AFileNamedMapsIsLeftAsItIs) {
  test::MakeMapsDatabase(At("server.dat"), test::kServerPassword, {});
  std::ofstream(At("Maps")) << "not a folder";
  test::MessageBoxRecorder boxes;

  EXPECT_EQ(test::FailureNumberOf([] { EXPECT_TRUE(Main()); }), err::kPathNotFound);

  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(test::FileBytes(At("Maps")), "not a folder");
  EXPECT_EQ(frmMain(), nullptr);
}

// Runs start-up, which must end with one box saying `text` with `icon` over the
// status window showing `behind`, and leave nothing open.
void ExpectStartUpEndsWithOneBox(const std::string& text, MsgIcon icon, const std::string& behind) {
  std::string shownBehind;
  test::MessageBoxRecorder boxes([&](const std::string&) { shownBehind = StatusText(); });

  EXPECT_FALSE(Main());

  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].text, text);
  EXPECT_EQ(boxes.Boxes()[0].icon, icon);
  EXPECT_EQ(shownBehind, behind);
  EXPECT_EQ(frmMain(), nullptr);
  EXPECT_EQ(frmLoading(), nullptr);
  EXPECT_EQ(wsServer, nullptr);
}

TEST_F(StartUp, WithoutTheDatabaseReportsItAndLeavesAnOldTemporaryFileAlone) {
  std::ofstream(At("server.tmp")) << "left from an earlier run";
  ExpectStartUpEndsWithOneBox(kNoDatabase, MsgIcon::kCritical, "Opening Server Database..");
  EXPECT_EQ(test::FileBytes(At("server.tmp")), "left from an earlier run");
  EXPECT_FALSE(fs::exists(At("server.dat")));
}

// What "server.dat" holds: its tables and rows as the shell dumps them when it
// can read them with the password, else its bytes, or "<folder>".
std::string Content(const fs::path& file) {
  if (fs::is_directory(file)) return "<folder>";
  try {
    return test::RunSqlcipherShell(file, test::kServerPassword, ".dump");
  } catch (const std::exception&) {
    return test::FileBytes(file);
  }
}

// Bad databases and rows: each ends with one message that says what went wrong,
// no main window, and every stored row still there, or the file byte for byte.
TEST_F(StartUp, ABadDatabaseEndsWithOneClearMessageAndLosesNothing) {
  const std::vector<MapRow> good = {Map(1, "one"), Map(2, std::string(5000, 'b')), Map(3, "three")};
  const auto withRows = [](const std::string& rows) { return std::string(kMapsSchema) + rows; };
  std::string sound;
  {
    const test::TempProgramFolder scratch;
    test::MakeMapsDatabase("server.dat", test::kServerPassword, good);
    sound = test::FileBytes("server.dat");
  }
  const std::string noise = test::RandomBytes(8192);
  const std::string prefix = CompressData(std::string("abc")).substr(0, 4);
  const std::string stream = CompressData(std::string("abc")).substr(4);
  // The checksum at the stream's end no longer matches what it expands to.
  const std::string damaged = prefix + stream.substr(0, stream.size() - 1) + "\x13";
  const auto lying = [&](std::uint32_t length) {
    return std::string(reinterpret_cast<const char*>(&length), 4) + stream;
  };
  struct Case {
    std::string what;
    std::function<void(const fs::path& file)> make;
    std::string message;  // the whole text, or the start of the generic report
    bool opens = false;   // start-up goes on to the main window
  };
  const auto bytes = [](std::string content) {
    return [content](const fs::path& file) { std::ofstream(file, std::ios::binary) << content; };
  };
  const auto database = [](std::string schema, std::vector<MapRow> rows = {}) {
    return [schema, rows](const fs::path& file) {
      test::MakeMapsDatabase(file, test::kServerPassword, rows, schema);
    };
  };
  const std::vector<Case> cases = {
      // Bytes that follow no database format look like one under another password.
      {"random bytes", bytes(noise), GenericReport(engine::err::kWrongPassword)},
      {"zero bytes", bytes(""), GenericReport(engine::err::kNotADatabase)},
      {"one byte", bytes("A"), GenericReport(engine::err::kNotADatabase)},
      {"truncated to 100 bytes", bytes(sound.substr(0, 100)), GenericReport(engine::err::kNotADatabase)},
      {"truncated to one page", bytes(sound.substr(0, 1024)), GenericReport(engine::err::kDamaged)},
      {"truncated inside a page", bytes(sound.substr(0, 3000)), GenericReport(engine::err::kEngineError)},
      // The last page holds the index, which compaction builds anew from the rows.
      {"last byte cut", bytes(sound.substr(0, sound.size() - 1)), "", true},
      {"another password",
       [&](const fs::path& file) { test::MakeMapsDatabase(file, "another password", good); },
       GenericReport(engine::err::kWrongPassword)},
      {"a directory", [](const fs::path& file) { fs::create_directory(file); }, kNoDatabase},
      {"no table Maps", database("CREATE TABLE Other (x INTEGER);"), "Error loading maps table!"},
      {"Maps without Data",
       database("CREATE TABLE Maps (Number INTEGER); CREATE INDEX Number ON Maps (Number);"
                "INSERT INTO Maps VALUES (1);"),
       GenericReport(engine::err::kItemNotFound)},
      {"Maps without the index", database("CREATE TABLE Maps (Number INTEGER, Data BLOB);", good),
       GenericReport(engine::err::kNotAnIndex)},
      {"empty Number", database(withRows("INSERT INTO Maps VALUES (NULL, x'00');"), good),
       GenericReport(err::kInvalidUseOfNull)},
      {"empty Data", database(withRows("INSERT INTO Maps VALUES (4, NULL);"), good),
       GenericReport(err::kInvalidUseOfNull)},
      {"Data as text", database(withRows("INSERT INTO Maps VALUES (4, 'some text');"), good),
       GenericReport(err::kDamagedMapData)},
      {"a damaged stream", database(kMapsSchema, {{4, damaged}}), GenericReport(err::kDamagedMapData)},
      {"a prefix too large", database(kMapsSchema, {{4, lying(0x7fffffff)}}), "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearProgramFolder();
    c.make(At("server.dat"));
    const std::string before = Content(At("server.dat"));
    test::MessageBoxRecorder boxes;

    bool opened = false;
    const bool ranToEnd = Guarded([&] { opened = Main(); });

    ASSERT_EQ(boxes.Boxes().size(), c.message.empty() ? 0u : 1u) << testing::PrintToString(boxes.Texts());
    if (!c.message.empty()) {
      const std::string& text = boxes.Boxes()[0].text;
      std::cout << c.what << ": " << text << "\n";
      EXPECT_TRUE(test::IsReport(text, c.message));
    }
    EXPECT_EQ(opened, c.opens);
    EXPECT_EQ(ranToEnd, c.opens || !c.message.starts_with("Unexpected"));
    EXPECT_EQ(frmMain() != nullptr, c.opens);
    EXPECT_FALSE(fs::exists(At("server.tmp")));
    EXPECT_EQ(Content(At("server.dat")), before);
    ShutDown();
  }
}

// Run only with a zlib of another version preloaded (see CMakeLists.txt).
TEST(StartUpWithoutCodecLibrary, ReportsTheLibraryMissingAndTouchesNoDatabaseFile) {
  const fs::path program = ProgramFolder();
  test::TempProgramFolder elsewhere;
  test::MakeMapsDatabase(program / "server.dat", test::kServerPassword, {Map(1, "one")});
  const std::string before = test::FileBytes(program / "server.dat");
  const auto written = fs::last_write_time(program / "server.dat");

  ExpectStartUpEndsWithOneBox("File: 'zlib.dll' not found!", MsgIcon::kNone, "Checking zlib.dll ...");

  EXPECT_EQ(test::FileBytes(program / "server.dat"), before);
  EXPECT_EQ(fs::last_write_time(program / "server.dat"), written);
  EXPECT_FALSE(fs::exists(program / "server.tmp"));
  fs::remove(program / "server.dat");
  fs::remove(program / "Maps");
}

}  // namespace
}  // namespace corvald
