#pragma once

// The table "Maps" of a Jet 4 file as its writer sees it: the one shape it
// writes (a Long Integer "Number", an OLE Object or Memo "Data", one index
// "Number" on Number), every page the table owns, and its rows read straight
// from their pages, without libmdb.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "platform/PositionalFile.h"
#include "store/jet/JetFormat.h"

namespace corvald::engine::jet {

// Where one map of used pages lies: a row of a data page, and what it held.
struct MapRow {
  std::uint32_t page = 0;
  std::size_t row = 0;
  std::string bytes;
};

struct MapsLayout {
  std::uint32_t definitionPage = 0;
  format::Page definition;
  bool memo = false;             // Data is Memo, else OLE Object
  std::size_t indexCountAt = 0;  // in the definition: the index's count of keys
  std::size_t indexRootAt = 0;   // and its first page
  MapRow owned, withRoom, index, longValues, longValuesWithRoom;
  MapRow freePages;  // page 1's map of free pages
  std::uint64_t filePages = 0;
  std::set<std::uint32_t> tablePages;  // every page Maps owns: rows, index, long values, maps
  std::set<std::uint32_t> dataPages;   // in stored order
  std::set<std::uint32_t> longValuePages;
  std::set<std::uint32_t> freeInFile;  // free pages below the file's end
};

// One row of Maps as stored: its Number and its Data field's bytes in the row
// (a long value's header and what follows it inline), nothing for a NULL.
struct StoredRow {
  std::int32_t number = 0;
  std::uint32_t page = 0;
  std::size_t row = 0;
  std::optional<std::string> data;
};

// The layout of the table whose definition is at `definitionPage`, with its
// rows in stored order, or why the writer leaves the file alone (a sentence
// that completes "this program does not write it:"). Pages it cannot read
// fail with 3049.
struct WritableMaps {
  MapsLayout layout;
  std::vector<StoredRow> rows;
};
std::variant<WritableMaps, std::string> ReadWritableMaps(const PositionalFile& file, std::string_view name,
                                                         std::uint32_t definitionPage);

// The bytes of a long value whose field (header and inline bytes) a row of
// the table holds; fails with 3049 where its pages are not the table's or its
// chain does not hold together.
std::string ReadLongValue(const PositionalFile& file, std::string_view name, const MapsLayout& layout,
                          std::string_view field);

// A page of the file; 3049 where it lies beyond the end.
format::Page ReadPage(const PositionalFile& file, std::string_view name, std::uint32_t page);

}  // namespace corvald::engine::jet
