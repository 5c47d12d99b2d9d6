#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Failure.h"
#include "platform/Files.h"
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
