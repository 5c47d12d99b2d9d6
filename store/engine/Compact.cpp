// Compaction: a fresh, densely packed copy of a database, which takes the
// database's name only once it is complete and on disk.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/FileReplacement.h"
#include "store/EngineErrors.h"
#include "store/engine/Compaction.h"
#include "store/engine/Sqlite.h"

namespace corvald::engine {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kCopyInfix = ".compacting.";

[[noreturn]] void RaiseSystem(int error, const fs::path& file) {
  RaiseEngine(err::kEngineError, std::string(std::strerror(error)) + " (" + file.filename().string() + ")");
}

void Check(int error, const fs::path& file) {
  if (error != 0) RaiseSystem(error, file);
}

// Deletes the copies of `file` that killed compactions left behind. Only for
// the holder of the database's lock: then no compaction of it is under way.
void RemoveAbandonedCopies(const fs::path& file) {
  const std::string prefix = file.filename().string() + std::string(kCopyInfix);
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(file.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(prefix) && entry.is_regular_file(error)) fs::remove(entry.path(), error);
  }
}

// Creates an empty file beside `file` under a name of its own, the file's name
// + ".compacting." + 8 random hex digits, and returns it. The exclusive create
// makes the name this call's alone, and a random name is one no other program
// expects. Fails with 3051 when the folder takes no new file.
fs::path CreateCopyFile(const fs::path& file, std::string_view name) {
  std::random_device entropy;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(entropy()));
    fs::path copy = file;
    copy += std::string(kCopyInfix) + suffix;
    const int error = CreateNewFile(copy);
    if (error == 0) return copy;
    if (error != EEXIST) break;
  }
  RaiseEngine(err::kCannotOpen, name);
}

// Writes the compacted copy of the connection's database into the empty file
// `copy` as one read of the source. Attached without a key of its own, the
// copy takes the source's key and salt, so that the same password opens it and
// no key is derived for it. The copy keeps no journal (a failed copy is thrown
// away whole) and SQLite does not sync it: the caller syncs it once when it is
// complete.
void CopyInto(const detail::Connection& source, const fs::path& copy) {
  detail::Statement attach(source, "ATTACH DATABASE ?1 AS compacted");
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

bool CompactInPlace(const DatabaseLock& database) {
  const fs::path& file = database->NativeFile();
  RemoveAbandonedCopies(file);
  const fs::path copy = CreateCopyFile(file, database->FileName());
  try {
    // Ownership first, while the copy is empty: set-user and set-group bits
    // go with it, and the mode comes once the copy is written.
    if (const int error = TakeOwner(copy, file); error != 0) {
      if (error != EPERM) RaiseSystem(error, copy);
      fs::remove(copy);
      return false;
    }
    CopyInto(*database, copy);
    Check(TakeMode(copy, file), copy);
    Check(SyncToDisk(copy), copy);
    Check(ReplaceFile(copy, file), file);
  } catch (...) {
    std::error_code ignored;
    fs::remove(copy, ignored);
    throw;
  }
  // So that the rename lasts.
  Check(SyncToDisk(file.parent_path().empty() ? fs::path(".") : file.parent_path()), file.parent_path());
  return true;
}

}  // namespace corvald::engine
