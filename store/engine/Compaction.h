#pragma once

// Compaction of a SQLCipher database in place: settled and locked against
// every other program, copied densely into a file of its own beside it, which
// then takes the database's name in one rename. The name holds a complete
// database at every moment.

#include "store/engine/Sqlite.h"

namespace corvald::engine::detail {

// Readies the database of `connection`, just opened for writing (which has
// SQLite roll a hot journal back), to be compacted on its own: a write-ahead
// log is written into the file and removed, the database's exclusive lock is
// taken for as long as the connection lives, and a stale journal or log index
// that no connection can be using is removed; from then on the file alone
// holds the database.
//
// Fails with 3260 when another connection keeps the database (waiting up to 2
// seconds for it), with the files as they were; only a hot journal, which no
// connection keeps, has been rolled back by then. Fails with 3027 for a file
// this user may not write.
void SettleAndLock(const Connection& connection);

// Writes a compacted copy of the database that `locked` has settled and
// locked beside its file, with the same password, salt, schema, user version,
// application id, owner and mode, forces it to disk and renames it over the
// file; then syncs the folder. Returns false, with nothing changed, where this
// process may not give the copy the file's owner and group: the database stays
// as it is, uncompacted, rather than becoming this user's. The copy is named
// <file>.compacting.<8 hex digits>; copies that killed compactions left are
// deleted first. A failure before the rename leaves the database file as it
// was and no copy; a crash leaves the database file, old or new, and perhaps
// a stray copy. The lock stays on the original, which goes away with its last
// name.
bool CompactInPlace(const Connection& locked);

}  // namespace corvald::engine::detail
