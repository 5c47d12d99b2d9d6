#pragma once

// Writes a Jet 4 file anew from another: every page that is not the table
// "Maps"' copied as it stands, and Maps' rows, long values, index and maps of
// used pages written fresh, on Maps' old pages first and then past the end.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PositionalFile.h"
#include "store/jet/JetTable.h"

namespace corvald::engine::jet {

class TableWriter {
 public:
  // Writes into `target`, an empty file, what `source` holds with Maps laid
  // out afresh; `name` names the source in failures.
  TableWriter(const PositionalFile& source, std::string name, const MapsLayout& layout,
              PositionalFile& target);

  // Writes a value of Data (the bytes as the field's own type stores them) to
  // long-value pages, and returns the field as a row holds it.
  std::string AddValue(std::string_view bytes);

  // Adds a row; rows come in index order. `data` is a field from AddValue, or
  // nothing for a NULL.
  void AddRow(std::int32_t number, const std::optional<std::string>& data);

  // Writes the index, the maps of used pages, the definition and every other
  // page, and cuts the file after the last page in use. Fails with 3000 when
  // the index would need more than two levels.
  void Finish();

 private:
  struct OpenPage {
    std::uint32_t number = 0;
    format::Page bytes;
  };
  std::uint32_t Allocate();
  void Put(std::uint32_t page, std::string_view bytes);
  // A row on the open data page, which gives way to a fresh one when full.
  std::uint32_t PlaceDataRow(std::string_view row);
  // A long-value row on the first open long-value page with room for it; the
  // fullest page gives way to a fresh one when none has.
  std::uint32_t PlaceLongValueRow(std::string_view row);
  void WriteIndex();
  // Writes the open pages and the index, and returns the pages kept but
  // changed: the definition, and the pages that hold the maps of used pages.
  std::map<std::uint32_t, format::Page> PatchedPages();
  // One past the last page in use.
  std::uint32_t EndOfFile() const;
  std::string MapBytes(const MapRow& original, const std::set<std::uint32_t>& pages);
  std::string FreePagesMap(std::uint32_t end) const;

  const PositionalFile& source_;
  std::string name_;
  const MapsLayout& layout_;
  PositionalFile& target_;
  std::set<std::uint32_t> reusable_;
  std::uint32_t end_;
  std::set<std::uint32_t> written_;
  std::optional<OpenPage> data_;
  std::vector<OpenPage> longValues_;
  std::set<std::uint32_t> dataPages_, longValuePages_, indexPages_;
  struct Entry {
    std::int32_t number;
    std::uint32_t pointer;
  };
  std::vector<Entry> entries_;
  std::uint32_t root_ = 0;
};

}  // namespace corvald::engine::jet
