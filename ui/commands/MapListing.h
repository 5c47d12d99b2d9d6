#pragma once

// What the main view shows of the loaded maps, as text: the count line and one
// entry per map. Both the main window and the terminal program show these.

#include <cstdint>
#include <string>
#include <vector>

namespace corvald {

// Reads the row count of rsMaps into MapCount and returns it. Fails with 51
// when the table is not open, and as the count fails.
std::int32_t ReadMapCount();

// The files of "Maps" as the main view lists them (see FileListOf), creating the
// folder first when nothing of that name exists. Fails as creating or listing
// fails (76 when "Maps" is a plain file).
std::vector<std::string> MapFolderFiles();

// "Number of maps found: " followed by the count in decimal.
std::string MapCountText(std::int32_t count);

// "Map #n: name" for every slot of MapList that holds a map, by ascending
// number; the name ends at its first NUL. ANSI byte strings.
std::vector<std::string> MapListEntries();

}  // namespace corvald
