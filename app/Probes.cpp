#include "app/modCorvald.h"
#include "platform/Files.h"

namespace corvald {

bool FileExists(std::string_view path) { return !ListEntries(path, EntryKinds::kFiles).empty(); }

bool DirExists(std::string_view path) { return !ListEntries(path, EntryKinds::kFilesAndFolders).empty(); }

}  // namespace corvald
