#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/Failure.h"
#include "platform/Files.h"
#include "platform/RenameNoReplace.h"
#include "tests/support/Checks.h"
#include "tests/support/TempProgramFolder.h"

namespace corvald {
namespace {

namespace fs = std::filesystem;

TEST(Files, FailuresCarryTheClassicNumbers) {
  test::TempProgramFolder folder;
  folder.WriteFile("file", "x");
  fs::create_directory("dir");

  EXPECT_EQ(test::FailureNumberOf([] { MkDir("dir"); }), err::kPathFileAccess);
  EXPECT_EQ(test::FailureNumberOf([] { MkDir("file"); }), err::kPathFileAccess);
  EXPECT_EQ(test::FailureNumberOf([] { MkDir("missing\\sub"); }), err::kPathNotFound);
  EXPECT_EQ(test::FailureNumberOf([] { BinaryFile::OpenForReading("missing"); }), err::kFileNotFound);
  EXPECT_EQ(test::FailureNumberOf([] { BinaryFile::OpenForReading("missing\\x"); }), err::kPathNotFound);
  EXPECT_EQ(test::FailureNumberOf([] { BinaryFile::OpenForWriting("missing\\x"); }), err::kPathNotFound);
  // A plain file where a folder should be.
  EXPECT_EQ(test::FailureNumberOf([] { BinaryFile::OpenForWriting("file\\x"); }), err::kPathNotFound);
  EXPECT_EQ(test::FailureNumberOf([] { BinaryFile::OpenForWriting("dir"); }), err::kPathFileAccess);
  EXPECT_EQ(test::FailureNumberOf([] { BinaryFile::OpenForReading("dir"); }), err::kPathFileAccess);
  EXPECT_EQ(test::FailureNumberOf([] { BinaryFile::OpenForWriting("a?b"); }), err::kBadFileName);
  EXPECT_EQ(test::FailureNumberOf([] { Kill("missing"); }), err::kFileNotFound);
  EXPECT_EQ(test::FailureNumberOf([] { RenameFile("missing", "other"); }), err::kFileNotFound);
  EXPECT_EQ(test::FailureNumberOf([] { RenameFile("file", "dir"); }), err::kFileAlreadyExists);
  EXPECT_TRUE(fs::exists("file"));
}

TEST(Files, WriteReplacesTheWholeFileAndReadGivesItBack) {
  test::TempProgramFolder folder;
  fs::create_directory("Maps");
  folder.WriteFile("Maps/Map #1 - a.map4", std::string(1000, 'z'));

  const std::string record("Desert\0\0\x80\xff end", 14);
  BinaryFile out = BinaryFile::OpenForWriting("Maps\\Map #1 - a.map4");
  out.Write(record);
  out.Close();
  EXPECT_EQ(folder.ReadFile("Maps/Map #1 - a.map4"), record);

  BinaryFile in = BinaryFile::OpenForReading("Maps/Map #1 - a.map4");
  EXPECT_EQ(in.Length(), 14);
  EXPECT_EQ(in.ReadAll(), record);
  in.Close();
  in.Close();  // a second close is harmless
  EXPECT_EQ(test::FailureNumberOf([&] { in.Write("x"); }), err::kBadFileName);
}

TEST(Files, EmptyFilesReadAsEmptyRecords) {
  test::TempProgramFolder folder;
  BinaryFile::OpenForWriting("empty").Close();
  BinaryFile in = BinaryFile::OpenForReading("empty");
  EXPECT_EQ(in.Length(), 0);
  EXPECT_EQ(in.ReadAll(), "");
}

TEST(Files, RenameAndKill) {
  test::TempProgramFolder folder;
  folder.WriteFile("server.dat", "db");
  RenameFile("server.dat", "server.tmp");
  EXPECT_FALSE(fs::exists("server.dat"));
  EXPECT_EQ(folder.ReadFile("server.tmp"), "db");
  Kill("server.tmp");
  EXPECT_FALSE(fs::exists("server.tmp"));
}

// Each way of renaming on its own: this machine's file systems take the first,
// the others stand in where a file system refuses it.
TEST(Files, EveryWayOfRenamingTakesAFreeNameAndNeverReplacesAFile) {
  const struct {
    const char* name;
    int (*rename)(const fs::path&, const fs::path&);
  } ways[] = {
      {"no-replace flag", detail::RenameByNoReplaceFlag},
      {"hard link", detail::RenameByLink},
      {"check first", detail::RenameAfterCheck},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    test::TempProgramFolder folder;
    folder.WriteFile("server.dat", "db");
    folder.WriteFile("taken", "other");
    EXPECT_EQ(way.rename("server.dat", "server.tmp"), 0);
    EXPECT_FALSE(fs::exists("server.dat"));
    EXPECT_EQ(way.rename("server.tmp", "taken"), EEXIST);
    EXPECT_EQ(folder.ReadFile("server.tmp"), "db");
    EXPECT_EQ(folder.ReadFile("taken"), "other");
    EXPECT_EQ(way.rename("missing", "free"), ENOENT);
    EXPECT_FALSE(fs::exists("free"));
  }
}

// A folder copied from another system may carry a name that is not UTF-8 ("é" as
// the one byte 0xE9): a program there still finds its folder and works in it,
// started from another directory.
TEST(Files, AProgramFindsAndUsesItsFolderWhateverBytesItsNameHolds) {
  for (const char* name : {"program", "Caf\xE9", "Caf\xC3\xA9"}) {
    SCOPED_TRACE(name);
    test::TempProgramFolder temp;
    const fs::path folder = fs::canonical(temp.Path()) / name;
    fs::create_directory(folder);
    fs::create_directory("elsewhere");
    fs::copy_file(PROGRAM_FOLDER_PROBE, folder / "probe");

    const std::string command = "cd elsewhere && '" + (folder / "probe").native() + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    const int status = pclose(pipe);

    EXPECT_EQ(output, folder.native() + "\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(fs::is_directory(folder / "Maps"));
    EXPECT_FALSE(fs::exists("elsewhere/Maps"));
  }
}

TEST(Files, ListEntriesMatchesPatternsAndSkipsHiddenEntries) {
  test::TempProgramFolder folder;
  fs::create_directory("Maps");
  fs::create_directory("Maps/sub.map4");
  folder.WriteFile("Maps/Map #2 - b.map4", "");
  folder.WriteFile("Maps/Map #10 - a.map4", "");
  folder.WriteFile("Maps/notes.txt", "");
  folder.WriteFile("Maps/.hidden.map4", "");
  fs::create_symlink("Map #2 - b.map4", "Maps/link.map4");
  fs::create_symlink("nowhere", "Maps/dangling.map4");

  using V = std::vector<std::string>;
  EXPECT_EQ(ListEntries("Maps\\*.map4", EntryKinds::kFiles),
            (V{"Map #10 - a.map4", "Map #2 - b.map4", "link.map4"}));
  EXPECT_EQ(ListEntries("Maps\\*.map4", EntryKinds::kFilesAndFolders),
            (V{"Map #10 - a.map4", "Map #2 - b.map4", "link.map4", "sub.map4"}));
  EXPECT_EQ(ListEntries("Maps/Map #?? - *", EntryKinds::kFiles), (V{"Map #10 - a.map4"}));
  EXPECT_EQ(ListEntries("Maps\\*", EntryKinds::kFiles).size(), 4u);
  EXPECT_EQ(ListEntries("Maps\\.hidden.map4", EntryKinds::kFiles), V{});
  EXPECT_EQ(ListEntries("Maps\\notes.txt", EntryKinds::kFiles), V{"notes.txt"});
  EXPECT_EQ(ListEntries("Missing\\*", EntryKinds::kFilesAndFolders), V{});
  EXPECT_EQ(ListEntries("Maps\\a:b", EntryKinds::kFilesAndFolders), V{});
  EXPECT_EQ(ListEntries("..\\*", EntryKinds::kFilesAndFolders), V{});
}

}  // namespace
}  // namespace corvald
