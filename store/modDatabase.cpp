#include "store/modDatabase.h"

#include "app/modCorvald.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "store/modConst.h"
#include "ui/frmLoading.h"

namespace corvald {

std::shared_ptr<engine::Workspace> wsServer;
std::shared_ptr<engine::Database> dbServer;
std::shared_ptr<engine::Recordset> rsMaps;

namespace {

// Compacts the database, now under its temporary name, back into "server.dat".
// A compaction that fails puts the original back under its own name before the
// failure goes on, so that the database is never left only as "server.tmp".
void CompactServerDatabase() {
  try {
    engine::Engine().CompactDatabase(kCompactFile, kServerFile, "", 0, kServerConnect);
  } catch (const Failure&) {
    try {
      if (FileExists(kServerFile)) Kill(kServerFile);
      RenameFile(kCompactFile, kServerFile);
    } catch (const Failure&) {
      // The original stays under the temporary name; the first failure is the one to report.
    }
    throw;
  }
}

}  // namespace

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
  if (FileExists(kCompactFile)) Kill(kCompactFile);
  RenameFile(kServerFile, kCompactFile);
  CompactServerDatabase();
  dbServer = wsServer->OpenDatabase(kServerFile, 0, false, kServerConnect);
  Kill(kCompactFile);

  try {
    rsMaps = dbServer->TableDefs(kMapsTable)->OpenRecordset(kTableRecordset);
  } catch (const Failure&) {
    MsgBox("Error loading maps table!", MsgIcon::kCritical);
    ShutDown();
    return false;
  }
  rsMaps->SetIndex(kNumberIndex);
  SetStatus("Loading Maps..");
  return true;
}

}  // namespace corvald
