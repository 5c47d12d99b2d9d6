// Start-up's compaction against the sqlcipher shell: the compacted database
// keeps everything but its free space, the file keeps its mode and owner, a
// symbolic link stays a link, and the derived key does not outlive its use.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "store/modDatabase.h"
#include "tests/store/EngineTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempProgramFolder.h"

namespace corvald::test {
namespace {

namespace fs = std::filesystem;

std::vector<MapRow> SomeRows(int count) {
  std::vector<MapRow> rows;
  for (int i = 0; i < count; ++i)
    rows.push_back({(i * 7) % count, std::string(500 + i, static_cast<char>(i))});
  return rows;
}

TEST(Compaction, KeepsAllButFreeSpaceAndTheFileAsItWas) {
  const struct {
    int count;
    const char* file;  // "server.dat" itself, or the file that it links to
    mode_t mode;
    bool byNobody;  // compacted by a user who may not give the copy root's ownership
  } cases[] = {
      {300, "server.dat", 0640, false}, {0, "data/real.db", 0640, false}, {300, "server.dat", 0666, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + (c.byNobody ? " by nobody" : ""));
    if (c.byNobody && geteuid() != 0) continue;
    TempProgramFolder folder;
    fs::permissions(".", fs::perms::all);
    fs::create_directory("data");
    MakeMapsDatabase(c.file, kServerPassword, SomeRows(c.count));
    if (fs::path(c.file) != "server.dat") fs::create_symlink(c.file, "server.dat");
    RunSqlcipherShell(
        c.file, kServerPassword,
        "DELETE FROM Maps WHERE Number >= 40; PRAGMA user_version = 42; PRAGMA application_id = 7;");
    // A file of another user and group, which only root can set up.
    ASSERT_EQ(chmod(c.file, c.mode), 0);
    if (geteuid() == 0 && !c.byNobody) {
      ASSERT_EQ(chown(c.file, 65534, 60), 0);
    }
    struct stat before {};
    ASSERT_EQ(stat(c.file, &before), 0);
    const std::vector<MapRow> rows = ReadMapsWithShell(c.file, kServerPassword);
    const std::string schema = "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name;";
    const std::string shape =
        RunSqlcipherShell(c.file, kServerPassword, schema + "PRAGMA user_version; PRAGMA application_id;");
    const std::string source = FileBytes(c.file);

    if (c.byNobody) {
      EXPECT_EQ(RunInChild([] {
                  BecomeNobody();
                  CompactAndOpenServerDatabase(*engine::Engine().Workspaces(0));
                }),
                0);
    }
    const auto database =
        c.byNobody ? OpenServer() : CompactAndOpenServerDatabase(*engine::Engine().Workspaces(0));
    EXPECT_EQ(FileBytes(c.file) == source, c.byNobody) << "compacted only where the owner can be kept";

    EXPECT_EQ(
        RunSqlcipherShell(c.file, kServerPassword, schema + "PRAGMA user_version; PRAGMA application_id;"),
        shape);
    EXPECT_EQ(ReadMapsWithShell(c.file, kServerPassword), rows);
    EXPECT_EQ(FileBytes(c.file).substr(0, 16), source.substr(0, 16)) << "the salt";
    // Writes go where the link points.
    auto maps = OpenMaps(*database);
    maps->AddNew();
    maps->SetField("Number", std::int64_t{77});
    maps->Update();
    EXPECT_EQ(RunSqlcipherShell(c.file, kServerPassword, "SELECT count(*) FROM Maps WHERE Number = 77;"),
              "1\n");
    if (c.count > 0 && !c.byNobody) {
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

constexpr char kMask = 0x5A;

// The key of `file` as SQLCipher derives it from the server's password,
// computed by Python: the second half of its raw bytes and of their hex text
// (the first bytes of a freed block are overwritten), each byte XOR kMask, so
// that this process never holds the key itself.
std::vector<std::string> MaskedKeys(const std::string& file) {
  const std::string salt = FileBytes(file).substr(0, 16);
  std::string command =
      "python3 -c \"import hashlib, sys; k = hashlib.pbkdf2_hmac('sha1', sys.argv[1].encode(), "
      "bytes.fromhex(sys.argv[2]), 64000, 32); m = lambda b: bytes(x ^ 0x5A for x in b).hex(); "
      "print(m(k), m(k.hex().upper().encode()))\" ";
  command += std::string(kServerPassword) + " " + BlobLiteral(salt).substr(2, 32);
  std::unique_ptr<FILE, int (*)(FILE*)> python(popen(command.c_str(), "r"), pclose);
  std::vector<std::string> keys;
  for (char hex[200]; python && std::fscanf(python.get(), "%199s", hex) == 1;) {
    std::string key;
    for (std::size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2)
      key += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
    keys.push_back(key.substr(key.size() / 2));
  }
  return keys;
}

// Whether the readable and writable memory of this process holds the
// unmasked bytes anywhere: its heap, freed or not, its stacks and its data.
bool MemoryHolds(const std::string& masked) {
  std::ifstream maps("/proc/self/maps");
  const int memory = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
  std::vector<char> chunk(1 << 20);
  bool found = false;
  for (std::string line; !found && std::getline(maps, line);) {
    unsigned long start = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) != 3 || perms[0] != 'r' ||
        perms[1] != 'w')
      continue;
    for (unsigned long at = start; !found && at < end; at += chunk.size() - masked.size()) {
      const ssize_t got = pread(memory, chunk.data(), std::min<unsigned long>(chunk.size(), end - at),
                                static_cast<off_t>(at));
      for (ssize_t i = 0; i + static_cast<ssize_t>(masked.size()) <= got && !found; ++i) {
        std::size_t j = 0;
        while (j < masked.size() && chunk[i + j] == static_cast<char>(masked[j] ^ kMask)) ++j;
        found = j == masked.size();
      }
      if (got <= static_cast<ssize_t>(masked.size())) break;
    }
  }
  close(memory);
  explicit_bzero(chunk.data(), chunk.size());
  return found;
}

TEST(Compaction, NoCopyOfTheDerivedKeyOutlivesTheConnections) {
  TempProgramFolder folder;
  MakeMapsDatabase("server.dat", kServerPassword, {{1, "a"}});
  const std::vector<std::string> keys = MaskedKeys("server.dat");
  ASSERT_EQ(keys.size(), 2u);
  {
    const auto database = CompactAndOpenServerDatabase(*engine::Engine().Workspaces(0));
    EXPECT_EQ(Walk(*OpenMaps(*database)).size(), 1u);
    EXPECT_TRUE(MemoryHolds(keys[1])) << "kept while a connection holds it";
  }
  EXPECT_FALSE(MemoryHolds(keys[0])) << "raw";
  EXPECT_FALSE(MemoryHolds(keys[1])) << "hex";
}

}  // namespace
}  // namespace corvald::test
