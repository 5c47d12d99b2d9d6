// Start-up's compaction against the sqlcipher shell: the compacted database
// keeps everything but its free space, the file keeps its mode and owner, a
// symbolic link stays a link, and the derived key does not outlive its use.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "store/modDatabase.h"
#include "tests/store/EngineTestSupport.h"
#include "tests/support/TempProgramFolder.h"

namespace corvald::test {
namespace {

namespace fs = std::filesystem;

std::vector<MapRow> SomeRows(int count) {
  std::vector<MapRow> rows;
  for (int i = 0; i < count; ++i) rows.push_back({(i * 7) % count, std::string(500 + i, static_cast<char>(i))});
  return rows;
}

TEST(Compaction, KeepsAllButFreeSpaceAndTheFileAsItWas) {
  const struct {
    int count;
    const char* file;  // "server.dat" itself, or the file that it links to
  } cases[] = {{300, "server.dat"}, {0, "data/real.db"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TempProgramFolder folder;
    fs::create_directory("data");
    MakeMapsDatabase(c.file, kServerPassword, SomeRows(c.count));
    if (fs::path(c.file) != "server.dat") fs::create_symlink(c.file, "server.dat");
    RunSqlcipherShell(c.file, kServerPassword, "DELETE FROM Maps WHERE Number >= 40; PRAGMA user_version = 42;");
    // A private file of another user and group, which only root can set up.
    ASSERT_EQ(chmod(c.file, 0640), 0);
    if (geteuid() == 0) {
      ASSERT_EQ(chown(c.file, 65534, 60), 0);
    }
    struct stat before {};
    ASSERT_EQ(stat(c.file, &before), 0);
    const std::vector<MapRow> rows = ReadMapsWithShell(c.file, kServerPassword);
    const std::string schema = "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name;";
    const std::string shape = RunSqlcipherShell(c.file, kServerPassword, schema + "PRAGMA user_version;");
    const std::string source = FileBytes(c.file);

    const auto database = CompactAndOpenServerDatabase(*engine::Engine().Workspaces(0));

    EXPECT_EQ(RunSqlcipherShell(c.file, kServerPassword, schema + "PRAGMA user_version;"), shape);
    EXPECT_EQ(ReadMapsWithShell(c.file, kServerPassword), rows);
    EXPECT_EQ(FileBytes(c.file).substr(0, 16), source.substr(0, 16)) << "the salt";
    // Writes go where the link points.
    auto maps = OpenMaps(*database);
    maps->AddNew();
    maps->SetField("Number", std::int64_t{77});
    maps->Update();
    EXPECT_EQ(RunSqlcipherShell(c.file, kServerPassword, "SELECT count(*) FROM Maps WHERE Number = 77;"), "1\n");
    if (c.count > 0) {
      EXPECT_LT(fs::file_size(c.file) * 5, source.size());
    }
    struct stat after {};
    ASSERT_EQ(stat(c.file, &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(fs::is_symlink("server.dat"), fs::path(c.file) != "server.dat");
    EXPECT_FALSE(fs::exists("server.tmp"));
  }
}

}  // namespace
}  // namespace corvald::test
