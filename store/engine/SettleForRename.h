#pragma once

// Readying a database file to be renamed on its own, with nothing of it left in
// side files and no other program writing it.

#include <memory>
#include <string_view>

#include "store/Engine.h"

namespace corvald::engine {

// A database locked against every other connection; the lock goes when the
// last owner lets go.
using DatabaseLock = std::shared_ptr<detail::Connection>;

// Opens the database `name` (a program path) with the password of `connect` so
// that SQLite finishes what an interrupted writer left: a hot rollback journal
// is rolled back, and a write-ahead log is written into the file and removed by
// leaving write-ahead logging (the compacted copy uses a rollback journal
// anyway). It then takes the database's exclusive lock and removes a stale
// journal or log index that no connection can be using; from then on the file
// alone holds the database. Renaming the file while the lock is held is sound:
// the lock belongs to the file itself, not to its name. Release the lock
// before the file is opened again in this process.
//
// Fails with 3260 when another connection keeps the database (waiting up to 2
// seconds for it), with the files as they were; only a hot journal, which no
// connection keeps, has been rolled back by then. Fails with 3027 for a file
// this user may not write, and with the failures of opening a database
// otherwise (3024, 3031, 3343, ...).
DatabaseLock SettleForRename(std::string_view name, std::string_view connect);

}  // namespace corvald::engine
