#pragma once

// What the main view shows of the loaded maps, as text: the count line and one
// entry per map. Both the main window and the terminal program show these.

#include <cstdint>
#include <string>
#include <vector>

namespace corvald {

// "Number of maps found: " followed by the count in decimal.
std::string MapCountText(std::int32_t count);

// "Map #n: name" for every slot of MapList that holds a map, by ascending
// number; the name ends at its first NUL. ANSI byte strings.
std::vector<std::string> MapListEntries();

}  // namespace corvald
