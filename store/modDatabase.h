#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "store/Engine.h"
#include "store/MapTable.h"

namespace corvald {

// The server database objects: set once at start-up, released by ShutDown.
extern std::shared_ptr<engine::Workspace> wsServer;
extern std::shared_ptr<engine::Database> dbServer;
extern std::shared_ptr<engine::Recordset> rsMaps;

// The maps as start-up loaded them; slot n holds map number n.
extern MapTable MapList;

// Compacts "server.dat" through the temporary name "server.tmp" and opens the
// compacted copy in `workspace`; "server.dat" must exist. Before the rename the
// database is settled and locked (engine::SettleForRename): a database in use
// fails with 3260 and no file changes. A compaction that fails puts the
// original back as "server.dat". A crash at any moment leaves either a
// complete "server.dat" or the database under "server.tmp" with no
// "server.dat" (and perhaps a stray copy file beside it).
std::shared_ptr<engine::Database> CompactAndOpenServerDatabase(engine::Workspace& workspace);

// Compacts and opens "server.dat", opens its table "Maps" on the index "Number"
// and loads every map numbered 1 to MAX_MAPS into MapList, expanding each blob
// once. Returns false when it has reported a missing database or table and
// called ShutDown; start-up stops then. Any other failure (compaction, a row
// that cannot be read, a blob that does not expand) goes to the caller.
bool LoadServerDatabase();

// Seeks the map number on rsMaps' current index; true (and that row current)
// when a row has it.
bool FindMap(std::int32_t number);

// Stores the blob as "Data" of the row with this number, adding the row when
// there is none; other fields of an existing row stay. The row is committed
// when this returns. Failures of the seek or the update go to the caller.
void SaveMapBlob(std::int32_t number, const std::string& blob);

}  // namespace corvald
