#pragma once

// The rules that tie a map to its name and to its map file: the name inside a map
// record, the map file's path, and the map number read back from a file name.

#include <cstdint>
#include <string>
#include <string_view>

namespace corvald {

// The map's name in a map record: its first MAP_NAME_LEN characters (all of it
// when shorter) without leading and trailing blanks. Only code 32 counts as a
// blank; tabs and NULs stay. Cannot fail.
std::string MapNameOf(std::string_view record);

// The program path of the entry `entry` of the map folder: Maps\<entry>.
std::string MapsFolderPath(std::string_view entry);

// The relative path of the map file of map `number` under `name`:
// Maps\Map #<number> - <name>.map4. The name goes in unchanged. Cannot fail.
std::string MapFileName(std::int32_t number, std::string_view name);

// The name with each of the nine characters " * / : < > ? \ | replaced by "_";
// every other character, control characters included, stays. Cannot fail.
std::string SanitizedMapName(std::string_view name);

// The map number that a bare map file name carries: the leading number of the
// text that starts at the 6th character and is as long as the 1-based position
// of the first blank from there on (no text when there is none), read with blanks,
// tabs and line feeds skipped anywhere, rounded to the nearest integer with ties
// to even. Text without a leading number gives 0. No range check: 0, negatives
// and numbers above MAX_MAPS come back as read. Raises err::kOverflow when the
// number lies outside the signed 32-bit range.
std::int32_t MapNumberFromFileName(std::string_view fileName);

}  // namespace corvald
