// Compaction: a fresh, densely packed copy of a database, which takes the
// database's name only once it is complete and on disk.
#include <filesystem>

#include "store/engine/Compaction.h"
#include "store/engine/SideFile.h"
#include "store/engine/Sqlite.h"

namespace corvald::engine::detail {

namespace {

namespace fs = std::filesystem;

// Writes the compacted copy of the connection's database into the empty file
// `copy` as one read of the source. Attached without a key of its own, the
// copy takes the source's key and salt, so that the same password opens it and
// no key is derived for it. The copy keeps no journal (a failed copy is thrown
// away whole) and SQLite does not sync it: the caller syncs it once when it is
// complete.
void CopyInto(const Connection& source, const fs::path& copy) {
  Statement attach(source, "ATTACH DATABASE ?1 AS compacted");
  attach.BindText(1, copy.string());
  attach.Run();
  try {
    source.Execute("PRAGMA compacted.journal_mode = MEMORY");
    source.Execute("PRAGMA compacted.synchronous = OFF");
    source.Execute("BEGIN");
    source.Execute("SELECT sqlcipher_export('compacted')");
    // sqlcipher_export leaves the user version and the application id behind.
    source.Execute("PRAGMA compacted.user_version = " + source.TextOf("PRAGMA main.user_version"));
    source.Execute("PRAGMA compacted.application_id = " + source.TextOf("PRAGMA main.application_id"));
    source.Execute("COMMIT");
  } catch (...) {
    sqlite3_exec(source.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_exec(source.Handle(), "DETACH DATABASE compacted", nullptr, nullptr, nullptr);
    throw;
  }
  source.Execute("DETACH DATABASE compacted");
}

}  // namespace

bool CompactInPlace(const Connection& locked) {
  const fs::path& file = locked.NativeFile();
  RemoveAbandonedSideFiles(file);
  bool ownerGiven = false;
  const fs::path copy = CreateSideFile(file, locked.FileName(), ownerGiven);
  if (!ownerGiven) return false;
  try {
    CopyInto(locked, copy);
  } catch (...) {
    std::error_code ignored;
    fs::remove(copy, ignored);
    throw;
  }
  ReplaceWithSideFile(copy, file);
  return true;
}

}  // namespace corvald::engine::detail
