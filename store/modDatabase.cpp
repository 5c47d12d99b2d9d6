// The server database: the claim on its folder, its compaction at start-up, the
// load of the map table with blobs expanded on every core, and a map's seek
// and save.
#include "store/modDatabase.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <variant>

#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "platform/Allocator.h"
#include "platform/Failure.h"
#include "platform/FileReplacement.h"
#include "platform/Files.h"
#include "platform/FolderClaim.h"
#include "platform/OrderedWork.h"
#include "platform/UserInterface.h"
#include "store/MapRules.h"
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
  OrderedWork<ExpandedMap> expanding(kBytesAhead);
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
  ReturnFreedMemory();
}

// This program's claim on the folder of the database it has open, for as long
// as it has it open: another instance would compact the file under this one's
// connection, which would then write to a file that no longer has a name.
struct ServerClaim {
  std::filesystem::path folder;
  std::optional<FolderClaim> claim;
};

ServerClaim& Claim() {
  static ServerClaim claim;
  return claim;
}

// Claims the folder of "server.dat" (of the file itself, through a symbolic
// link); fails with 3260 when another instance keeps it for 2 seconds.
void ClaimServerFolder() {
  const std::filesystem::path folder = FileBehindLinks(NativePath(kServerFile)).parent_path();
  ServerClaim& held = Claim();
  if (held.claim && held.folder == folder) return;
  held.claim = FolderClaim::Take(folder.empty() ? "." : folder, std::chrono::seconds(2));
  if (!held.claim) Raise(err::kLocked, kServerFile);
  held.folder = folder;
}

}  // namespace

std::shared_ptr<engine::Database> CompactAndOpenServerDatabase(engine::Workspace& workspace) {
  ClaimServerFolder();
  // Opened first: a wrong password fails before anything is written.
  std::shared_ptr<engine::Database> database = workspace.OpenDatabase(kServerFile, 0, false, kServerConnect);
  // A Jet file of a form the writer does not know is read where it lies.
  if (database->WhyNotUpdatable()) return database;
  // The hold comes first, so that a database in use is left as it is, and
  // lasts until the compacted copy has taken the name, so that no other
  // program writes the original meanwhile.
  database->HoldForCompaction();
  if (FileExists(kCompactFile)) Kill(kCompactFile);
  // "server.tmp" names the original until the compacted copy stands as
  // "server.dat"; "server.dat" names a whole database all along.
  LinkOrCopy(kServerFile, kCompactFile);
  try {
    database->Compact();
  } catch (...) {
    try {
      Kill(kCompactFile);
    } catch (const Failure&) {
      // The next start-up removes it; the first failure is the one to report.
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
  // and a reader that seeks the number finds the first. A number rarely has
  // more than one row; each row but the last takes a copy.
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

void ReleaseServerDatabase() {
  rsMaps.reset();
  dbServer.reset();
  wsServer.reset();
  Claim() = {};
}

void FinishServerWrites() {
  if (dbServer) dbServer->FinishWriting();
}

}  // namespace corvald
