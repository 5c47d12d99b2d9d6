#include "store/modDatabase.h"

#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "platform/UserInterface.h"
#include "store/MapRules.h"
#include "store/engine/Compaction.h"
#include "store/modConst.h"

namespace corvald {

std::shared_ptr<engine::Workspace> wsServer;
std::shared_ptr<engine::Database> dbServer;
std::shared_ptr<engine::Recordset> rsMaps;
MapTable MapList;

namespace {

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
  std::shared_ptr<engine::Database> database;
  bool linked = false;
  try {
    // The lock comes first, so that a database in use is left as it is, and
    // lasts until the compacted copy has taken the name, so that no other
    // program writes the original meanwhile.
    const engine::DatabaseLock lock = engine::SettleAndLock(kServerFile, kServerConnect);
    if (FileExists(kCompactFile)) Kill(kCompactFile);
    // "server.tmp" names the original until the compacted copy stands as
    // "server.dat"; "server.dat" names a whole database all along.
    LinkOrCopy(kServerFile, kCompactFile);
    linked = true;
    engine::CompactInPlace(lock);
    // Opened while the lock still holds the key, which the copy shares.
    database = workspace.OpenDatabase(kServerFile, 0, false, kServerConnect);
  } catch (...) {
    if (linked) {
      try {
        Kill(kCompactFile);
      } catch (const Failure&) {
        // The next start-up removes it; the first failure is the one to report.
      }
    }
    throw;
  }
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
  dbServer = CompactAndOpenServerDatabase(*wsServer);

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

void SaveMapBlob(std::int32_t number, std::string blob) {
  if (!FindMap(number)) {
    rsMaps->AddNew();
    rsMaps->SetField(kNumberField, std::int64_t{number});
    rsMaps->SetField(kDataField, std::move(blob));
    rsMaps->Update();
    return;
  }
  // Every row of the number gets the blob: the load takes the last of them,
  // and a reader that seeks the number finds the first. They are counted
  // first, so that the blob is copied for all rows but the last, which takes it.
  int rows = 0;
  do {
    ++rows;
    rsMaps->MoveNext();
  } while (!rsMaps->Eof() && engine::ToLong(rsMaps->Field(kNumberField)) == number);
  FindMap(number);
  for (int row = 1;; ++row) {
    rsMaps->Edit();
    rsMaps->SetField(kDataField, row == rows ? std::move(blob) : blob);
    rsMaps->Update();
    if (row == rows) return;
    rsMaps->MoveNext();
  }
}

void FinishServerWrites() {
  if (dbServer) dbServer->FinishWriting();
}

}  // namespace corvald
