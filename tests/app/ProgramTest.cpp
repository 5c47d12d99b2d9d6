// The real program on a real X server, started from a current directory that is
// not its folder.
#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>
#include <thread>

#include "tests/support/Checks.h"
#include "tests/support/DatabaseFixture.h"
#include "tests/support/TempProgramFolder.h"
#include "tests/support/XServer.h"

namespace corvald {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kMainTitle[] = "Corvald Converter";
constexpr char kStatusTitle[] = "Loading Server";
constexpr char kBoxTitle[] = "Corvald";

using test::FolderFiles;

class Program : public testing::Test {
 protected:
  explicit Program(const char* folderName = "program") : folder_(temp_.Path() / folderName) {
    fs::create_directories(folder_);
    fs::create_directories(elsewhere_);
    fs::copy_file(CORVALD_PROGRAM, folder_ / "corvald");
  }

  std::unique_ptr<test::XProgram> Start() const {
    return x_.Start((folder_ / "corvald").string(), {}, elsewhere_);
  }

  // Starts the program through a link in the other directory, so that the path
  // handed to the process starter is UTF-8 whatever the program's folder is called.
  std::unique_ptr<test::XProgram> StartThroughLink() const {
    fs::create_symlink(folder_ / "corvald", elsewhere_ / "corvald");
    return x_.Start((elsewhere_ / "corvald").string(), {}, elsewhere_);
  }

  // The tool writes beside the folder and the file is moved in, for the same reason.
  void MakeSampleDatabase() const {
    const fs::path made = temp_.Path() / "server.dat";
    QProcess tool;
    tool.start(CORVALD_MAKE_SERVER_DAT, {QString::fromStdString(made.string())});
    ASSERT_TRUE(tool.waitForFinished());
    ASSERT_EQ(tool.exitCode(), 0);
    fs::rename(made, folder_ / "server.dat");
  }

  // Answers the one message box that start-up shows, checks that the status
  // window stands behind it and that no main window ever opens, and returns the
  // program's exit code.
  int AnswerTheOnlyBox(test::XProgram& program) const {
    const auto box = x_.WaitForWindow(kBoxTitle, 20s);
    if (!box) {
      ADD_FAILURE() << "no message box; errors: " << program.Errors();
      return -1;
    }
    EXPECT_EQ(x_.FindWindows(kStatusTitle).size(), 1u);
    EXPECT_TRUE(x_.FindWindows(kMainTitle).empty());
    x_.RequestClose(*box);
    const auto code = program.WaitForExit(20s);
    EXPECT_TRUE(x_.FindWindows(kMainTitle).empty());
    return code.value_or(-1);
  }

  test::TempProgramFolder temp_;
  const fs::path folder_;
  const fs::path elsewhere_ = temp_.Path() / "elsewhere";
  test::XServer x_;
};

// The program's folder by name: a plain one, one copied from Windows whose "é"
// is the single byte 0xE9, which is not UTF-8, and one whose "é" is UTF-8.
class ProgramIn : public testing::WithParamInterface<const char*>, public Program {
 protected:
  ProgramIn() : Program(GetParam()) {}
};

INSTANTIATE_TEST_SUITE_P(Folders, ProgramIn, testing::Values("program", "Caf\xE9", "Caf\xC3\xA9"));

TEST_P(ProgramIn, StartsInItsOwnFolderOpensTheMainWindowAndEndsWhenItCloses) {
  MakeSampleDatabase();
  auto program = StartThroughLink();

  const auto main = x_.WaitForWindow(kMainTitle, 30s);
  ASSERT_TRUE(main) << program->Errors();
  EXPECT_TRUE(x_.WaitForNoWindow(kStatusTitle, 5s));
  EXPECT_EQ(x_.WindowGeometry(*main).size(), QSize(274, 106));
  EXPECT_TRUE(fs::is_directory(folder_ / "Maps"));
  EXPECT_FALSE(fs::exists(elsewhere_ / "Maps"));
  EXPECT_FALSE(fs::exists(folder_ / "server.tmp"));

  x_.RequestClose(*main);
  EXPECT_EQ(program->WaitForExit(20s), 0) << program->Errors();
  EXPECT_EQ(test::ReadMapsWithShell(folder_ / "server.dat", test::kServerPassword).size(), 36u);
}

// Start-up that ends with its one message box: without a database, and with an
// unexpected failure (a database under another password). The program ends with
// code 1 and leaves the database as it was.
TEST_F(Program, AFailedStartUpShowsOneMessageAndEnds) {
  for (const bool withDatabase : {false, true}) {
    SCOPED_TRACE(withDatabase ? "another password" : "no database");
    fs::remove(folder_ / "server.dat");
    if (withDatabase) test::MakeMapsDatabase(folder_ / "server.dat", "another password", {{1, "one"}});
    const std::string before = test::FileBytes(folder_ / "server.dat");
    auto program = Start();

    EXPECT_EQ(AnswerTheOnlyBox(*program), 1);
    EXPECT_EQ(test::FileBytes(folder_ / "server.dat"), before);
    EXPECT_EQ(fs::exists(folder_ / "server.dat"), withDatabase);
    EXPECT_FALSE(fs::exists(folder_ / "server.tmp"));
  }
}

// What a person does: dump every map of a database that the sqlcipher shell made
// from Python's zlib, then, in a second run, convert the map files back.
TEST_F(Program, DumpsEveryMapThenConvertsTheFilesBackAsAPersonWould) {
  const fs::path reference = temp_.Path() / "reference";
  ASSERT_EQ(std::system(("python3 " CORVALD_REFERENCE_MAPS " '" + reference.string() + "'").c_str()), 0);
  test::RunSqlcipherShell(folder_ / "server.dat", test::kServerPassword,
                          test::FileBytes(reference / "maps.sql"));
  const std::vector<test::MapRow> rows =
      test::ReadMapsWithShell(folder_ / "server.dat", test::kServerPassword);

  auto program = Start();
  auto main = x_.WaitForWindow(kMainTitle, 30s);
  ASSERT_TRUE(main) << program->Errors();
  x_.Click(*main, 136, 64);  // "Dump maps into seperate files"
  const auto dumped = [&] { return FolderFiles(folder_ / "Maps"); };
  const auto expected = FolderFiles(reference / "expected");
  for (int i = 0; i < 300 && (dumped() != expected || !x_.FindWindows(kStatusTitle).empty()); ++i) {
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(dumped(), expected);
  x_.Screenshot().copy(x_.WindowGeometry(*main)).save(CORVALD_ARTEFACTS "/main_window.png");
  x_.RequestClose(*main);
  EXPECT_EQ(program->WaitForExit(20s), 0) << program->Errors();

  program = Start();
  main = x_.WaitForWindow(kMainTitle, 30s);
  ASSERT_TRUE(main) << program->Errors();
  x_.Click(*main, 136, 88);  // "Convert map files to database"
  const auto box = x_.WaitForWindow(kBoxTitle, 60s);
  ASSERT_TRUE(box) << program->Errors();
  x_.Screenshot().save(CORVALD_ARTEFACTS "/converted.png");
  x_.RequestClose(*box);
  ASSERT_TRUE(x_.WaitForNoWindow(kBoxTitle, 10s));
  x_.RequestClose(*main);
  EXPECT_EQ(program->WaitForExit(20s), 0) << program->Errors();
  EXPECT_EQ(test::ReadMapsWithShell(folder_ / "server.dat", test::kServerPassword), rows);
}

}  // namespace
}  // namespace corvald
