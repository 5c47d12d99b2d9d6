#pragma once

// Compaction in place: a database settled and locked against every other
// program, copied densely into a file of its own beside it, which then takes
// the database's name in one rename. The name holds a complete database at
// every moment.

#include <memory>
#include <string_view>

#include "store/Engine.h"

namespace corvald::engine {

// A database locked against every other connection, in this process too; the
// lock goes when the last owner lets go.
using DatabaseLock = std::shared_ptr<detail::Connection>;

// Opens the database `name` (a program path; through a symbolic link, the file
// it points to) with the password of `connect`, so that SQLite finishes what
// an interrupted writer left: a hot rollback journal is rolled back, and a
// write-ahead log is written into the file and removed. It then takes the
// database's exclusive lock for as long as the connection lives and removes a
// stale journal or log index that no connection can be using; from then on the
// file alone holds the database.
//
// Fails with 3260 when another connection keeps the database (waiting up to 2
// seconds for it), with the files as they were; only a hot journal, which no
// connection keeps, has been rolled back by then. Fails with 3027 for a file
// this user may not write, and with the failures of opening a database
// otherwise (3024, 3031, 3343, ...).
DatabaseLock SettleAndLock(std::string_view name, std::string_view connect);

// Writes a compacted copy of the locked database beside its file, with the
// same password, salt, schema, user version, application id, owner and mode,
// forces it to disk and renames it over the file; then syncs the folder.
// Returns false, with nothing changed, where this process may not give the
// copy the file's owner and group: the database stays as it is, uncompacted,
// rather than becoming this user's. The copy is named
// <file>.compacting.<8 hex digits>; copies that killed compactions left are
// deleted first. A failure before the rename leaves the database file as it
// was and no copy; a crash leaves the database file, old or new, and perhaps
// a stray copy. The lock stays on the original, which goes away with its last
// name.
bool CompactInPlace(const DatabaseLock& database);

}  // namespace corvald::engine
