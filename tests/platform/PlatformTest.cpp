// The file layer, program paths, the code page against Python's cp1252 and the
// rounding of numbers: the classic failure numbers, the names that files carry
// and the boundaries, a table each.
#include <gtest/gtest.h>

#include <QProcess>
#include <cfenv>
#include <cmath>

#include "app/modCorvald.h"
#include "platform/AnsiCodePage.h"
#include "platform/FileErrors.h"
#include "platform/Files.h"
#include "platform/Numbers.h"
#include "tests/support/Support.h"

namespace corvald::test {
namespace {

TEST(Platform, FileCallsFailWithTheClassicNumbers) {
  TempFolder folder;
  WriteBytes("file", "x");
  fs::create_directory("dir");
  const struct {
    const char* what;
    std::function<void()> call;
    int failure;
  } cases[] = {
      {"MkDir over a folder", [] { MkDir("dir"); }, err::kPathFileAccess},
      {"MkDir over a file", [] { MkDir("file"); }, err::kPathFileAccess},
      {"MkDir in a missing folder", [] { MkDir("missing\\sub"); }, err::kPathNotFound},
      {"reading a missing file", [] { BinaryFile::OpenForReading("missing"); }, err::kFileNotFound},
      {"reading in a missing folder", [] { BinaryFile::OpenForReading("missing\\x"); }, err::kPathNotFound},
      {"writing under a file", [] { BinaryFile::OpenForWriting("file\\x"); }, err::kPathNotFound},
      {"writing a folder", [] { BinaryFile::OpenForWriting("dir"); }, err::kPathFileAccess},
      {"reading a folder", [] { BinaryFile::OpenForReading("dir"); }, err::kPathFileAccess},
      {"Kill of a missing file", [] { Kill("missing"); }, err::kFileNotFound},
      // A real full disk gives ENOSPC, which no test here can make; the tests' size limit gives EFBIG.
      {"a full disk", [] { RaiseFileError(ENOSPC, "file"); }, err::kDiskFull},
      // Names that Windows rejects, and paths that leave the program's folder.
      {"a ? in a name", [] { BinaryFile::OpenForWriting("a?b"); }, err::kBadFileName},
      {"a tab in a name", [] { NativePath("a\tb"); }, err::kBadFileName},
      {"a NUL in a name", [] { NativePath(std::string("a\0b", 3)); }, err::kBadFileName},
      {"no name", [] { NativePath(""); }, err::kBadFileName},
      {"an absolute path", [] { NativePath("/abs"); }, err::kBadFileName},
      {"a drive", [] { NativePath("C:\\x"); }, err::kBadFileName},
      {"..", [] { NativePath("Maps\\Map #1 - a/../../../evil.map4"); }, err::kBadFileName},
  };
  for (const auto& c : cases) EXPECT_EQ(FailureNumberOf(c.call), c.failure) << c.what;
  EXPECT_EQ(FileBytes("file"), "x");
  EXPECT_EQ(NativePath("Maps\\\\.\\caf\xe9 #%&.map4").string(), "Maps/caf\xc3\xa9 #%&.map4");
}

// Writing replaces the whole file; reading gives it back. A name that a Windows
// program wrote in the code page's bytes lists and opens as its ANSI name too.
TEST(Platform, FilesHoldTheirBytesAndListUnderTheirAnsiNames) {
  TempFolder folder;
  fs::create_directory("Maps");
  fs::create_directory("Maps/sub.map4");
  WriteBytes("Maps/Caf\xE9.map4", "raw");
  WriteBytes("Maps/Na\xC3\xAFve.map4", std::string(1000, 'z'));
  WriteBytes("Maps/Map #10 - a.map4", "");
  WriteBytes("Maps/.hidden.map4", "");
  WriteBytes("server.dat", "");
  fs::create_symlink("Caf\xE9.map4", "Maps/link.map4");
  fs::create_symlink("nowhere", "Maps/dangling.map4");
  const std::string record("Desert\0\0\x80\xff end", 14);
  BinaryFile out = BinaryFile::OpenForWriting("Maps\\Na\xEFve.map4");
  out.Write(record);
  out.Close();
  EXPECT_EQ(BinaryFile::OpenForReading("Maps/Na\xEFve.map4").ReadAll(), record);
  EXPECT_EQ(BinaryFile::OpenForReading("Maps\\Caf\xE9.map4").ReadAll(), "raw");
  EXPECT_EQ(FailureNumberOf([&] { out.Write("x"); }), err::kBadFileName);

  using V = std::vector<std::string>;
  EXPECT_EQ(ListEntries("Maps\\*.map4", EntryKinds::kFiles),
            (V{"Caf\xE9.map4", "Map #10 - a.map4", "Na\xEFve.map4", "link.map4"}));
  EXPECT_EQ(ListEntries("Maps/*", EntryKinds::kFilesAndFolders).size(), 5u);
  EXPECT_EQ(ListEntries("Maps\\Map #?? - *", EntryKinds::kFiles), V{"Map #10 - a.map4"});
  EXPECT_EQ(ListEntries("Maps\\.hidden.map4", EntryKinds::kFiles), V{});
  EXPECT_EQ(ListEntries("..\\*", EntryKinds::kFilesAndFolders), V{});
  // A plain file counts for DirExists too, so that a file named "Maps" passes for the folder.
  for (const auto& [path, file, dir] :
       std::vector<std::tuple<const char*, bool, bool>>{{"server.dat", true, true},
                                                        {"Maps", false, true},
                                                        {"Ma?s", false, true},
                                                        {"server.*", true, true},
                                                        {"Maps\\.hidden.map4", false, false},
                                                        {"missing", false, false},
                                                        {"", false, false}}) {
    EXPECT_EQ(FileExists(path), file) << path;
    EXPECT_EQ(DirExists(path), dir) << path;
  }
}

// Python's cp1252 is the reference for the 251 defined bytes; the five it leaves
// undefined map to the C1 control of the same value.
TEST(Platform, EveryByteOfTheCodePageIsPythonsCp1252) {
  QProcess python;
  python.start("python3", {"-c",
                           "import sys; sys.stdout.buffer.write(''.join(bytes([b]).decode('cp1252', "
                           "errors='ignore') or chr(b) for b in range(256)).encode())"});
  python.waitForFinished();
  const QString expected = QString::fromUtf8(python.readAllStandardOutput());
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(FromAnsi(all), expected);
  EXPECT_EQ(ToAnsi(expected), all);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  EXPECT_EQ(ToAnsi(QString::fromUtf8("a\u0100b\U0001F600c\u20ac")), "a?b?c\x80");
}

TEST(Platform, NumbersRoundToTheNearestInt32TiesToEvenInEveryRoundingMode) {
  const double infinity = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    std::int32_t expected;  // none: 6, overflow
  } cases[] = {{0.49999999999999994, 0},
               {0.5, 0},
               {1.5, 2},
               {2.5, 2},
               {2.6, 3},
               {-0.5, 0},
               {-1.5, -2},
               {-2.5, -2},
               {-2.6, -3},
               {2147483647.4, 2147483647},
               {2147483647.5, 0},
               {-2147483648.5, -2147483647 - 1},
               {-2147483648.6, 0},
               {infinity, 0},
               {std::nan(""), 0}};
  for (int mode : {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO}) {
    std::fesetround(mode);
    for (const auto& c : cases) {
      std::int32_t result = 0;
      const bool overflows = c.expected == 0 && !(std::fabs(c.value) <= 1);
      EXPECT_EQ(FailureNumberOf([&] { result = RoundToInt32(c.value); }), overflows ? err::kOverflow : 0)
          << c.value << " in mode " << mode;
      EXPECT_EQ(result, c.expected) << c.value << " in mode " << mode;
    }
  }
  std::fesetround(FE_TONEAREST);
}

}  // namespace
}  // namespace corvald::test
