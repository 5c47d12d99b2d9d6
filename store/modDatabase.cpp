#include "store/modDatabase.h"

#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "platform/UserInterface.h"
#include "store/MapRules.h"
#include "store/engine/SettleForRename.h"
#include "store/modConst.h"

namespace corvald {

std::shared_ptr<engine::Workspace> wsServer;
std::shared_ptr<engine::Database> dbServer;
std::shared_ptr<engine::Recordset> rsMaps;
MapTable MapList;

namespace {

// Compacts the database, now under its temporary name, back into "server.dat".
// A compaction that fails leaves no "server.dat"; the original is put back
// under its own name before the failure goes on, so that the database is never
// left only as "server.tmp".
void CompactServerDatabase() {
  try {
    engine::Engine().CompactDatabase(kCompactFile, kServerFile, "", 0, kServerConnect);
  } catch (const Failure&) {
    try {
      RenameFile(kCompactFile, kServerFile);
    } catch (const Failure&) {
      // The original stays under the temporary name; the first failure is the one to report.
    }
    throw;
  }
}

// One pass over the table in index order: each row numbered 1 to MAX_MAPS is
// expanded straight into its slot, so a later row of the same number wins.
// Rows outside that range are read past without being expanded.
void LoadMaps() {
  if (rsMaps->Bof()) return;
  rsMaps->MoveFirst();
  while (!rsMaps->Eof()) {
    const std::int32_t number = engine::ToLong(rsMaps->Field(kNumberField));
    if (number >= 1 && number <= MAX_MAPS) {
      MapRec& slot = MapList[number];
      // Blob bytes are expanded where the recordset holds them; only another
      // kind of value is turned into text first.
      const engine::Value& data = rsMaps->Field(kDataField);
      const std::string* bytes = std::get_if<std::string>(&data);
      slot.Data = bytes != nullptr ? UncompressData(*bytes) : UncompressData(engine::ToText(data));
      slot.Name = MapNameOf(slot.Data);
    }
    rsMaps->MoveNext();
  }
}

}  // namespace

std::shared_ptr<engine::Database> CompactAndOpenServerDatabase(engine::Workspace& workspace) {
  {
    // The lock comes first, so that a database in use is left as it is, and is
    // held across the rename, so that no other program starts writing in
    // between. It goes before the compaction opens the file again: within one
    // process SQLite shares a file's locks, and the new connection would wait.
    const engine::DatabaseLock lock = engine::SettleForRename(kServerFile, kServerConnect);
    engine::RemoveAbandonedCopies(kServerFile);
    if (FileExists(kCompactFile)) Kill(kCompactFile);
    RenameFile(kServerFile, kCompactFile);
  }
  CompactServerDatabase();
  std::shared_ptr<engine::Database> database = workspace.OpenDatabase(kServerFile, 0, false, kServerConnect);
  Kill(kCompactFile);
  return database;
}

bool LoadServerDatabase() {
  wsServer = engine::Engine().Workspaces(0);
  SetStatus("Opening Server Database..");
  if (!FileExists(kServerFile)) {
    MsgBox(
        "File: 'server.dat' not found! This file is required in order to extract the maps list from the "
        "database...",
        MsgIcon::kCritical);
    ShutDown();
    return false;
  }
  // This program does not write Access databases, so they are read where they lie, not compacted.
  dbServer = engine::IsAccessFile(kServerFile) ? wsServer->OpenDatabase(kServerFile, 0, true, kServerConnect)
                                               : CompactAndOpenServerDatabase(*wsServer);

  try {
    rsMaps = dbServer->TableDefs(kMapsTable)->OpenRecordset(kTableRecordset);
  } catch (const Failure&) {
    MsgBox("Error loading maps table!", MsgIcon::kCritical);
    ShutDown();
    return false;
  }
  rsMaps->SetIndex(kNumberIndex);
  SetStatus("Loading Maps..");
  LoadMaps();
  return true;
}

bool FindMap(std::int32_t number) {
  rsMaps->Seek("=", number);
  return !rsMaps->NoMatch();
}

void SaveMapBlob(std::int32_t number, const std::string& blob) {
  if (!FindMap(number)) {
    rsMaps->AddNew();
    rsMaps->SetField(kNumberField, std::int64_t{number});
  } else {
    rsMaps->Edit();
  }
  rsMaps->SetField(kDataField, blob);
  rsMaps->Update();
}

}  // namespace corvald
