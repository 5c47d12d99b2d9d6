#include "store/modDatabase.h"

#include <algorithm>
#include <thread>
#include <variant>

#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "platform/OrderedWork.h"
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

// A map expanded from its blob, for its slot.
struct ExpandedMap {
  std::int32_t number;
  std::string record;
};

// Puts the oldest expanded map into its slot; its failure, if it failed.
void PlaceNext(OrderedWork<ExpandedMap>& expanding) {
  ExpandedMap map = expanding.Take();
  MapRec& slot = MapList[map.number];
  slot.Data = std::move(map.record);
  slot.Name = MapNameOf(slot.Data);
}

// One pass over the table in index order. Each row numbered 1 to MAX_MAPS
// has its blob expanded on another core while the walk goes on, and the maps
// land in their slots in the walk's order, so a later row of the same number
// wins. Rows outside that range are read past without being expanded. A
// failure is the one that reading and expanding row by row would meet first.
void LoadMaps() {
  if (rsMaps->Bof()) return;
  constexpr std::uint64_t kBytesAhead = 32 << 20;
  OrderedWork<ExpandedMap> expanding(2 * std::max(1u, std::thread::hardware_concurrency()), kBytesAhead);
  try {
    rsMaps->MoveFirst();
    while (!rsMaps->Eof()) {
      const std::int32_t number = engine::ToLong(rsMaps->Field(kNumberField));
      if (number >= 1 && number <= MAX_MAPS) {
        // Blob bytes go to the worker as the recordset holds them; only another
        // kind of value is turned into text first.
        engine::Value data = rsMaps->TakeField(kDataField);
        std::string blob = std::holds_alternative<std::string>(data) ? std::get<std::string>(std::move(data))
                                                                     : engine::ToText(data);
        const std::uint64_t bytes = blob.size() + ExpandedSizeOf(blob);
        while (!expanding.HasRoomFor(bytes)) PlaceNext(expanding);
        expanding.Add(
            [number, blob = std::move(blob)] {
              return ExpandedMap{number, UncompressData(blob)};
            },
            bytes);
      }
      rsMaps->MoveNext();
    }
  } catch (...) {
    // The rows before the one that failed come first, and so do their failures.
    while (!expanding.Empty()) PlaceNext(expanding);
    throw;
  }
  while (!expanding.Empty()) PlaceNext(expanding);
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
