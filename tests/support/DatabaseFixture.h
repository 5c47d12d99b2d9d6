#pragma once

// Databases made and read by the sqlcipher shell, so that the engine layer is
// checked against a program nobody here wrote. Paths are native paths (relative
// to the current directory or absolute).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/modConst.h"

struct sqlite3;

namespace corvald::test {

using corvald::kMapsSchema;
using corvald::kServerPassword;

// Runs the sqlcipher shell on `file`, keyed with `key` (no key when empty), with
// `sql` on its standard input; returns what it printed. Throws with the shell's
// output when it reports an error.
std::string RunSqlcipherShell(const std::string& file, std::string_view key, std::string_view sql);

// X'...' for these bytes.
std::string BlobLiteral(std::string_view bytes);

// One row of "Maps"; no number stands for Null.
struct MapRow {
  std::optional<std::int64_t> number;
  std::string data;
  friend bool operator==(const MapRow&, const MapRow&) = default;
};

// Makes a database keyed with `key` holding `schema` (kMapsSchema by default) and
// these rows of "Maps", in this order, through the shell.
void MakeMapsDatabase(const std::string& file, std::string_view key, const std::vector<MapRow>& rows,
                      std::string_view schema = kMapsSchema);

// The rows of "Maps" as the shell reads them, in the order they were added.
std::vector<MapRow> ReadMapsWithShell(const std::string& file, std::string_view key);

// Overwrites bytes in the middle of page `page` (1 for the first; pages of
// 1024 bytes) so that the page no longer decrypts; the file still opens.
void DamagePage(const std::string& file, int page);

// While it lives, keys are derived from passwords with a few rounds instead of
// SQLCipher's 64,000: in this process, in children forked meanwhile and in the
// shell. A test that opens databases hundreds of times stays quick with it;
// databases made meanwhile open only while it lives.
class QuickKeyDerivation {
 public:
  QuickKeyDerivation();
  ~QuickKeyDerivation();
  QuickKeyDerivation(const QuickKeyDerivation&) = delete;
  QuickKeyDerivation& operator=(const QuickKeyDerivation&) = delete;
};

// A connection of this process to `file` through SQLite, keyed with `key`
// (none when empty), for child processes that end while it is open: it is
// never closed. Throws with SQLite's message when the file cannot be opened.
sqlite3* OpenWithSqlite(const std::string& file, std::string_view key);

// Runs statements on such a connection; throws with SQLite's message at the
// first one that fails.
void RunWithSqlite(sqlite3* connection, std::string_view sql);

// Leaves the existing database `file` as a writer killed inside a transaction
// leaves it: a child process adds `committed` rows in transactions of their
// own, then begins one that adds `interrupted` rows, with a cache so small that
// they spill to disk, and ends with _exit before committing. With
// `writeAheadLog` the child first switches the database to WAL with automatic
// checkpoints off, so that the committed rows live only in its "-wal" file;
// otherwise the open transaction leaves a hot "-journal".
void LeaveInterruptedWriter(const std::string& file, std::string_view key, bool writeAheadLog,
                            const std::vector<MapRow>& committed, const std::vector<MapRow>& interrupted);

}  // namespace corvald::test
