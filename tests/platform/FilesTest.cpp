#include <gtest/gtest.h>

#include <cerrno>
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

// A name in UTF-8 and one that a Windows program wrote in the code page's bytes
// both list as their ANSI names and open under them.
TEST(Files, NamesInUtf8AndInTheCodePagesBytesListAndOpen) {
  test::TempProgramFolder folder;
  fs::create_directory("Maps");
  folder.WriteFile("Maps/Caf\xE9.map4", "raw");
  folder.WriteFile("Maps/Na\xC3\xAFve.map4", "utf8");

  const std::vector<std::string> names = ListEntries("Maps\\*", EntryKinds::kFiles);
  ASSERT_EQ(names, (std::vector<std::string>{"Caf\xE9.map4", "Na\xEFve.map4"}));
  EXPECT_EQ(BinaryFile::OpenForReading("Maps\\" + names[0]).ReadAll(), "raw");
  EXPECT_EQ(BinaryFile::OpenForReading("Maps\\" + names[1]).ReadAll(), "utf8");
}

// Writing replaces the whole file; reading gives it back, empty or not; a file
// renamed keeps its bytes and goes with Kill.
TEST(Files, WriteReplacesTheWholeFileAndReadGivesItBack) {
  test::TempProgramFolder folder;
  fs::create_directory("Maps");
  folder.WriteFile("Maps/Map #1 - a.map4", std::string(1000, 'z'));

  for (const std::string& record : {std::string("Desert\0\0\x80\xff end", 14), std::string()}) {
    SCOPED_TRACE(record.size());
    BinaryFile out = BinaryFile::OpenForWriting("Maps\\Map #1 - a.map4");
    out.Write(record);
    out.Close();
    EXPECT_EQ(folder.ReadFile("Maps/Map #1 - a.map4"), record);

    BinaryFile in = BinaryFile::OpenForReading("Maps/Map #1 - a.map4");
    EXPECT_EQ(in.Length(), static_cast<std::int64_t>(record.size()));
    EXPECT_EQ(in.ReadAll(), record);
    in.Close();
    in.Close();  // a second close is harmless
    EXPECT_EQ(test::FailureNumberOf([&] { in.Write("x"); }), err::kBadFileName);
  }
  RenameFile("Maps\\Map #1 - a.map4", "server.tmp");
  EXPECT_FALSE(fs::exists("Maps/Map #1 - a.map4"));
  EXPECT_EQ(folder.ReadFile("server.tmp"), "");
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
