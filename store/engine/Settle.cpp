// Readying a database file to be compacted on its own: settled, then locked.
#include <filesystem>
#include <string>

#include "platform/Failure.h"
#include "store/engine/Compaction.h"

namespace corvald::engine::detail {

namespace {

// Removes a side file that the exclusive lock shows to be stale: no journal is
// hot once the lock is taken (taking it rolls a hot one back), and no log
// index is in use while no connection can read the file.
// Fails with 3051 when the file is there but cannot be removed.
void RemoveStaleSideFile(const Connection& database, const char* suffix) {
  std::filesystem::path side = database.NativeFile();
  side += suffix;
  std::error_code error;
  std::filesystem::remove(side, error);
  if (error) Raise(err::kCannotOpen, database.FileName() + suffix);
}

}  // namespace

void SettleAndLock(const Connection& connection) {
  // Opening read the file, which rolled a hot journal back or recovered a log.
  if (connection.TextOf("PRAGMA journal_mode") == "wal") connection.LeaveWriteAheadLog();
  // In exclusive locking mode the lock outlasts the transaction that takes it.
  // BEGIN EXCLUSIVE waits up to the connection's busy timeout (2 s).
  connection.Execute("PRAGMA main.locking_mode = EXCLUSIVE");
  connection.Execute("BEGIN EXCLUSIVE");
  connection.Execute("COMMIT");
  RemoveStaleSideFile(connection, "-journal");
  RemoveStaleSideFile(connection, "-shm");
}

}  // namespace corvald::engine::detail
