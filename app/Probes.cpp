// The file probes FileExists and DirExists, answered by the platform's
// directory listing.
#include "app/modCorvald.h"
#include "platform/Files.h"

namespace corvald {

bool FileExists(std::string_view path) { return !ListEntries(path, EntryKinds::kFiles).empty(); }

bool DirExists(std::string_view path) { return !ListEntries(path, EntryKinds::kFilesAndFolders).empty(); }

}  // namespace corvald
