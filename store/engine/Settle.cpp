// Readying a database file to be compacted on its own: settled, then locked.
#include <filesystem>
#include <string>

#include "platform/Failure.h"
#include "store/engine/Compaction.h"
#include "store/engine/Open.h"

namespace corvald::engine {

namespace {

// Removes a side file that the exclusive lock shows to be stale: no journal is
// hot once the lock is taken (taking it rolls a hot one back), and no log
// index is in use while no connection can read the file.
// Fails with 3051 when the file is there but cannot be removed.
void RemoveStaleSideFile(const detail::Connection& database, const char* suffix) {
  std::filesystem::path side = database.NativeFile();
  side += suffix;
  std::error_code error;
  std::filesystem::remove(side, error);
  if (error) Raise(err::kCannotOpen, database.FileName() + suffix);
}

}  // namespace

DatabaseLock SettleAndLock(std::string_view name, std::string_view connect) {
  // Opening reads the file, which rolls a hot journal back or recovers a log.
  DatabaseLock database = detail::OpenKeyed(name, detail::PasswordFromConnect(connect), false);
  if (database->TextOf("PRAGMA journal_mode") == "wal") database->LeaveWriteAheadLog();
  // In exclusive locking mode the lock outlasts the transaction that takes it.
  // BEGIN EXCLUSIVE waits up to the connection's busy timeout (2 s).
  database->Execute("PRAGMA main.locking_mode = EXCLUSIVE");
  database->Execute("BEGIN EXCLUSIVE");
  database->Execute("COMMIT");
  RemoveStaleSideFile(*database, "-journal");
  RemoveStaleSideFile(*database, "-shm");
  return database;
}

}  // namespace corvald::engine
