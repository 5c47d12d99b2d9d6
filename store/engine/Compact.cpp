// Compaction: a fresh, densely packed copy of a database, which takes the
// destination's name only once it is complete and on disk.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/Failure.h"
#include "platform/Files.h"
#include "store/Engine.h"
#include "store/EngineErrors.h"
#include "store/engine/Open.h"

namespace corvald::engine {

namespace {

bool Exists(const std::filesystem::path& native) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(native, error));
}

constexpr std::string_view kCopyInfix = ".compacting.";

// Creates an empty file beside `destination` under a name of its own,
// destination + ".compacting." + 8 random hex digits, and returns that program
// path. The exclusive create makes the name this call's alone, and a random
// name is one no other program expects. Fails with 3051 when the destination's
// folder takes no new file.
std::string CreateCopyFile(std::string_view destination) {
  std::random_device entropy;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(entropy()));
    std::string name = std::string(destination) + std::string(kCopyInfix) + suffix;
    const int fd = open(NativePath(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      // Closed at once: closing a descriptor of a file drops this process's locks
      // on it, and SQLite is about to lock it.
      close(fd);
      return name;
    }
    if (errno != EEXIST) break;
  }
  RaiseEngine(err::kCannotOpen, destination);
}

// Writes the compacted copy of the connection's database into the empty file
// `copyUtf8` as one read of the source. Attached without a key of its own, the
// copy takes the source's key and salt, so that the same password opens it and
// no key is derived for it. The copy keeps no journal (a failed copy is thrown
// away whole) and SQLite does not sync it: the caller syncs it once when it is
// complete.
void CopyInto(const detail::Connection& source, const std::string& copyUtf8) {
  detail::Statement attach(source, "ATTACH DATABASE ?1 AS compacted");
  attach.BindText(1, copyUtf8);
  attach.Run();
  try {
    source.Execute("PRAGMA compacted.journal_mode = MEMORY");
    source.Execute("PRAGMA compacted.synchronous = OFF");
    source.Execute("BEGIN");
    source.Execute("SELECT sqlcipher_export('compacted')");
    // sqlcipher_export leaves the user version behind.
    source.Execute("PRAGMA compacted.user_version = " + source.TextOf("PRAGMA main.user_version"));
    source.Execute("COMMIT");
  } catch (...) {
    sqlite3_exec(source.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_exec(source.Handle(), "DETACH DATABASE compacted", nullptr, nullptr, nullptr);
    throw;
  }
  source.Execute("DETACH DATABASE compacted");
}

[[noreturn]] void RaiseSystem(int error, std::string_view name) {
  std::string item = std::strerror(error);
  item += " (";
  item += name;
  item += ")";
  RaiseEngine(err::kEngineError, item);
}

// Forces a file, or the folder it names (`flags` O_DIRECTORY), to disk; fails
// with 3000 and the system's message. File systems that cannot sync a folder
// (EINVAL) are taken as they are.
void Sync(const std::filesystem::path& native, int flags, std::string_view name) {
  const int fd = open(native.empty() ? "." : native.c_str(), O_RDONLY | O_CLOEXEC | flags);
  if (fd < 0) RaiseSystem(errno, name);
  const int synced = fsync(fd);
  const int error = errno;
  close(fd);
  if (synced != 0 && !(error == EINVAL && flags == O_DIRECTORY)) RaiseSystem(error, name);
}

// Gives the copy the destination's name unless something took that name in
// the meantime (3204); never replaces a file.
void MoveIntoPlace(std::string_view copy, std::string_view destination) {
  try {
    RenameFile(copy, destination);
  } catch (const Failure& failure) {
    RaiseEngine(
        failure.Number() == corvald::err::kFileAlreadyExists ? err::kDatabaseExists : err::kCannotOpen,
        destination);
  }
}

void RemoveQuietly(std::string_view name) {
  std::error_code ignored;
  std::filesystem::remove(NativePath(name), ignored);
}

}  // namespace

void RemoveAbandonedCopies(std::string_view destination) {
  for (const std::string& name :
       ListEntries(std::string(destination) + std::string(kCopyInfix) + "*", EntryKinds::kFiles)) {
    Kill(name);
  }
}

void DBEngine::CompactDatabase(std::string_view source, std::string_view destination,
                               std::string_view /*destinationLocale: the copy keeps the source's password*/,
                               std::int16_t options, std::string_view sourceLocale) {
  if (options != 0) RaiseEngine(err::kInvalidArgument, "compaction options " + std::to_string(options));
  const std::filesystem::path nativeDestination = NativePath(destination);
  const std::string password = detail::PasswordFromConnect(sourceLocale);
  // Read-write, because the attached copy shares the source connection's access.
  const auto connection = detail::OpenKeyed(source, password, false);
  if (Exists(nativeDestination)) RaiseEngine(err::kDatabaseExists, destination);

  // Until the rename, a crash leaves at most a stray copy file; after it, the
  // destination is complete.
  const std::string copy = CreateCopyFile(destination);
  try {
    CopyInto(*connection, NativePath(copy).string());
    Sync(NativePath(copy), 0, copy);
    MoveIntoPlace(copy, destination);
  } catch (...) {
    RemoveQuietly(copy);
    throw;
  }
  try {
    // So that the rename lasts.
    Sync(nativeDestination.parent_path(), O_DIRECTORY, destination);
  } catch (...) {
    RemoveQuietly(destination);
    throw;
  }
}

}  // namespace corvald::engine
