// The map count, the main view's list of maps and the files of "Maps", as text.

#include "ui/commands/MapListing.h"

#include "app/modCorvald.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "store/modConst.h"
#include "store/modDatabase.h"
#include "store/modVariables.h"
#include "ui/commands/FileList.h"

namespace corvald {

std::int32_t ReadMapCount() {
  if (!rsMaps) Raise(err::kInternal);
  MapCount = rsMaps->RecordCount();
  return MapCount;
}

std::vector<std::string> MapFolderFiles() {
  if (!DirExists(kMapsFolder)) MkDir(kMapsFolder);
  // The current directory is the program's folder, so this is its "Maps".
  return FileListOf(kMapsFolder);
}

std::string MapCountText(std::int32_t count) { return "Number of maps found: " + std::to_string(count); }

std::vector<std::string> MapListEntries() {
  std::vector<std::string> entries;
  for (std::int32_t n = 1; n <= MAX_MAPS; ++n) {
    const MapRec& map = MapList[n];
    if (map.Name.empty()) continue;
    std::string entry = "Map #" + std::to_string(n);
    entry += ": ";
    entry += ShownName(map);
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace corvald
