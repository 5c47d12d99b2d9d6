#pragma once

// The server database as start-up compacts, opens and loads it, and the store
// operations of the commands on it: the shared database objects, the map
// table, the seek and the save of a map's blob.

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

// Compacts "server.dat" in place and opens the compacted database in
// `workspace`; "server.dat" must exist. First the program claims the folder
// of the database for as long as it has it open: another instance of the
// program fails here with 3260 and changes nothing. The database is opened,
// then held against every other program (engine::Database::HoldForCompaction):
// a database in use fails with 3260 and no file changes. While the compaction
// runs, "server.tmp" is a second name of the original (a copy where the file
// system has no links), removed last. A compaction that fails leaves
// "server.dat" as it was; a crash at any moment leaves a complete
// "server.dat", old or new, perhaps with "server.tmp" and a stray copy file
// beside it. Through a symbolic link, the file it points to is compacted in
// its own folder and the link stays. A Jet database of a form that the engine
// does not write is opened as it lies.
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

// Stores the blob as "Data" of every row with this number, adding a row when
// there is none; other fields of existing rows stay. Each row is committed
// when it is written. Failures of the seek or the update go to the caller,
// with the rows written before committed.
void SaveMapBlob(std::int32_t number, std::string blob);

// Releases the recordset, the database and the workspace, and the claim on
// the database's folder.
void ReleaseServerDatabase();

// After the last write of a command, and at shut-down: the database file
// alone holds every row, back in rollback-journal mode, with no side file.
// Nothing happens when nothing was written.
void FinishServerWrites();

}  // namespace corvald
