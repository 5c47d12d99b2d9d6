#pragma once

// The in-memory map table: one slot per map number 1 to MAX_MAPS, each holding a
// map's name and its expanded record.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "store/modConst.h"

namespace corvald {

// One slot. A slot holds a map exactly when its Name is not empty.
struct MapRec {
  std::string Name;  // the trimmed first MAP_NAME_LEN characters of Data
  std::string Data;  // the map record, one character per byte
};

// The name as file names, the map list and the status text use it: up to its
// first NUL, so that a name padded with NULs still makes a usable file name.
// Name itself keeps every byte.
inline std::string_view ShownName(const MapRec& map) {
  const std::string_view name = map.Name;
  return name.substr(0, name.find('\0'));
}

// MAX_MAPS slots indexed 1 to MAX_MAPS; any other index is a subscript failure (9).
class MapTable {
 public:
  MapRec& operator[](std::int32_t number);
  const MapRec& operator[](std::int32_t number) const;

 private:
  std::array<MapRec, MAX_MAPS> slots_;
};

}  // namespace corvald
