#pragma once

// The sample maps that make_server_dat puts into a new database.

#include <cstdint>
#include <string>
#include <vector>

namespace corvald::tools {

struct SampleMap {
  std::int32_t number;
  std::string record;  // the map record: the name padded to 30 characters, then the map bytes
};

// A few dozen made-up maps, the same on every run. Names are ANSI byte strings;
// one holds a character outside ASCII and one a character that file names
// cannot hold.
std::vector<SampleMap> SampleMaps();

}  // namespace corvald::tools
