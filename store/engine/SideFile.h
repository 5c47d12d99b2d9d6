#pragma once

// The file a database is rewritten into before it takes the database's name:
// created beside it under a name of the program's own, given the database's
// owner before its first byte and its mode after its last, forced to disk and
// renamed over the database, whose folder is then synced.

#include <filesystem>
#include <string_view>

namespace corvald::engine {

// Deletes the side files of `file` that killed rewrites left behind. Only for
// the holder of the database: then no rewrite of it is under way.
void RemoveAbandonedSideFiles(const std::filesystem::path& file);

// Creates an empty side file <file>.compacting.<8 random hex digits> that
// takes `file`'s owner and group, and returns it; nothing, with no file left,
// where this process may not give it that owner. Fails with 3051 when the
// folder takes no new file, and with 3000 for another failure.
std::filesystem::path CreateSideFile(const std::filesystem::path& file, std::string_view name,
                                     bool& ownerGiven);

// Gives the complete side file `file`'s mode, forces it to disk, renames it
// over `file` and syncs the folder. Fails with 3000; before the rename the
// side file is then removed and `file` is as it was.
void ReplaceWithSideFile(const std::filesystem::path& side, const std::filesystem::path& file);

}  // namespace corvald::engine
