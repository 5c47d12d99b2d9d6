// Readying a database file to be renamed on its own.
#include "store/engine/SettleForRename.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/Failure.h"
#include "platform/Files.h"
#include "store/EngineErrors.h"
#include "store/engine/Open.h"

namespace corvald::engine {

namespace {

constexpr auto kBusyWait = std::chrono::seconds(2);
constexpr auto kRetryPause = std::chrono::milliseconds(20);

// Leaves write-ahead logging: the log's transactions go into the file, and the
// log and its index are removed. That needs every other connection gone, and
// SQLite does not wait for it, so it is retried for up to kBusyWait; then it
// fails with 3260, with the files as they were.
void LeaveWriteAheadLogging(const detail::Connection& connection) {
  const auto deadline = std::chrono::steady_clock::now() + kBusyWait;
  for (;;) {
    try {
      if (connection.TextOf("PRAGMA journal_mode = DELETE") == "delete") return;
    } catch (const Failure& failure) {
      if (failure.Number() != err::kLocked) throw;
    }
    if (std::chrono::steady_clock::now() >= deadline) RaiseEngine(err::kLocked, connection.FileName());
    std::this_thread::sleep_for(kRetryPause);
  }
}

// Removes a side file that the exclusive lock shows to be stale: no journal is
// hot once the lock is taken (taking it rolls a hot one back), and no log
// index is in use while no connection can read the file.
// Fails with 3051 when the file is there but cannot be removed.
void RemoveStaleSideFile(std::string_view name, const char* suffix) {
  std::string side(name);
  side += suffix;
  std::error_code error;
  std::filesystem::remove(NativePath(side), error);
  if (error) RaiseEngine(err::kCannotOpen, side);
}

}  // namespace

DatabaseLock SettleForRename(std::string_view name, std::string_view connect) {
  // Opening reads the file, which rolls a hot journal back or recovers a log.
  DatabaseLock database = detail::OpenKeyed(name, detail::PasswordFromConnect(connect), false);
  if (database->TextOf("PRAGMA journal_mode") == "wal") LeaveWriteAheadLogging(*database);
  // Waits up to the connection's busy timeout (2 s) for other connections.
  database->Execute("BEGIN EXCLUSIVE");
  RemoveStaleSideFile(name, "-journal");
  RemoveStaleSideFile(name, "-shm");
  return database;
}

}  // namespace corvald::engine
