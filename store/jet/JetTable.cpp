// The table "Maps" read from its pages: its definition checked against the
// one shape the writer knows, its pages accounted for, its rows and long
// values read with every offset checked against its page.
#include "store/jet/JetTable.h"

#include <algorithm>
#include <cstring>

#include "platform/Failure.h"

namespace corvald::engine::jet {

using namespace format;

namespace {

// The table definition's fixed part, and the sizes of what follows it.
constexpr std::size_t kNextDefinitionPage = 0x04;
constexpr std::size_t kDefinitionLength = 0x08;
constexpr std::size_t kTableRows = 0x10;
constexpr std::size_t kTableType = 0x28;
constexpr char kUserTable = 0x4E;
constexpr std::size_t kMaxColumns = 0x29;
constexpr std::size_t kVariableColumns = 0x2B;
constexpr std::size_t kColumns = 0x2D;
constexpr std::size_t kLogicalIndexes = 0x2F;
constexpr std::size_t kRealIndexes = 0x33;
constexpr std::size_t kOwnedMap = 0x37;
constexpr std::size_t kWithRoomMap = 0x3B;
constexpr std::size_t kRealIndexCounts = 0x3F;
constexpr std::size_t kRealIndexCountSize = 12;
constexpr std::size_t kColumnSize = 25;
constexpr std::size_t kRealIndexSize = 52;
constexpr std::size_t kLogicalIndexSize = 28;

constexpr char kLongInteger = 0x04;
constexpr char kOleObject = 0x0B;
constexpr char kMemo = 0x0C;
constexpr unsigned char kFixedColumn = 0x01;
constexpr unsigned char kAscending = 0x01;
constexpr char kForeignKey = 0x02;
constexpr std::uint16_t kNoColumn = 0xFFFF;

// The catalog's first page and the page of the map of free pages.
constexpr std::uint32_t kFreePagesPage = 1;

struct Refusal {
  std::string why;
};

// The UTF-16 name at `at`, as the definition stores names; moves `at` past it.
std::optional<std::u16string> NameAt(std::string_view definition, std::size_t& at, std::size_t end) {
  if (at + 2 > end) return std::nullopt;
  const std::size_t bytes = Le16(definition, at);
  if (bytes % 2 != 0 || at + 2 + bytes > end) return std::nullopt;
  std::u16string name;
  for (std::size_t i = 0; i < bytes; i += 2) name += static_cast<char16_t>(Le16(definition, at + 2 + i));
  at += 2 + bytes;
  return name;
}

bool SameName(const std::optional<std::u16string>& name, std::u16string_view wanted) {
  return name &&
         std::equal(name->begin(), name->end(), wanted.begin(), wanted.end(), [](char16_t a, char16_t b) {
           const auto lower = [](char16_t c) {
             return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
           };
           return lower(a) == lower(b);
         });
}

// The definition's fields that the writer keeps or changes, checked against
// the one shape it writes. The pointers to the maps of used pages are row
// pointers, read into `layout` as pages and rows.
void ReadDefinition(MapsLayout& layout, std::uint32_t& ownedRow, std::uint32_t& withRoomRow,
                    std::uint32_t& indexRow, std::uint32_t& longRow, std::uint32_t& longWithRoomRow) {
  const std::string_view page = layout.definition;
  const auto refuse = [](const char* why) { throw Refusal{why}; };
  if (page[0] != kDefinitionPage || Le32(page, kNextDefinitionPage) != 0)
    refuse("its table \"Maps\" has a definition of more than one page");
  if (page[kTableType] != kUserTable || Le16(page, kMaxColumns) != 2 || Le16(page, kColumns) != 2 ||
      Le16(page, kVariableColumns) != 1 || Le32(page, kLogicalIndexes) != 1 || Le32(page, kRealIndexes) != 1)
    refuse("its table \"Maps\" has fields or indexes other than Number, Data and the index Number");
  const std::size_t end = Le32(page, kDefinitionLength);
  if (end > kPageSize) refuse("its table \"Maps\" has a definition that does not fit its page");
  ownedRow = Le32(page, kOwnedMap);
  withRoomRow = Le32(page, kWithRoomMap);

  // The two columns: Number, a fixed Long Integer first in the row, and Data,
  // the one variable column.
  const std::size_t columns = kRealIndexCounts + kRealIndexCountSize;
  const std::size_t number = columns, data = columns + kColumnSize;
  const auto column = [&](std::size_t at, std::size_t field) { return Le16(page, at + field); };
  const bool numberFits = page[number] == kLongInteger && column(number, 5) == 0 && column(number, 9) == 0 &&
                          (static_cast<unsigned char>(page[number + 15]) & kFixedColumn) != 0 &&
                          column(number, 21) == 0 && column(number, 23) == 4;
  const bool dataFits = (page[data] == kOleObject || page[data] == kMemo) && column(data, 5) == 1 &&
                        column(data, 9) == 1 && column(data, 7) == 0 &&
                        (static_cast<unsigned char>(page[data + 15]) & kFixedColumn) == 0;
  std::size_t at = data + kColumnSize;
  const std::optional<std::u16string> numberName = NameAt(page, at, end);
  const std::optional<std::u16string> dataName = NameAt(page, at, end);
  if (!numberFits || !dataFits || !SameName(numberName, u"Number") || !SameName(dataName, u"Data"))
    refuse("its table \"Maps\" has fields other than a Long Integer Number and an OLE Object or Memo Data");
  layout.memo = page[data] == kMemo;

  // The one real index: on Number alone, ascending.
  if (at + kRealIndexSize + kLogicalIndexSize > end) refuse("its table \"Maps\" has a damaged definition");
  bool oneColumn = column(at, 4) == 0 && static_cast<unsigned char>(page[at + 6]) == kAscending;
  for (std::size_t key = 1; key < 10; ++key) oneColumn = oneColumn && column(at, 4 + 3 * key) == kNoColumn;
  indexRow = Le32(page, at + 34);
  layout.indexRootAt = at + 38;
  layout.indexCountAt = kRealIndexCounts + 4;
  at += kRealIndexSize;
  // The one logical index: that real index, no foreign key.
  const bool plainIndex = Le32(page, at + 8) == 0 && page[at + 23] != kForeignKey;
  at += kLogicalIndexSize;
  if (!oneColumn || !plainIndex || !SameName(NameAt(page, at, end), u"Number"))
    refuse("its table \"Maps\" has an index other than one on Number, ascending");

  // The maps of Data's long values, then the end of the list.
  if (at + 12 != end || Le16(page, at) != 1 || Le16(page, at + 10) != kNoColumn)
    refuse("its table \"Maps\" has a definition of another form");
  longRow = Le32(page, at + 2);
  longWithRoomRow = Le32(page, at + 6);
}

}  // namespace

Page ReadPage(const PositionalFile& file, std::string_view name, std::uint32_t page) {
  Page bytes = file.ReadAt(std::uint64_t{page} * kPageSize, kPageSize);
  if (bytes.size() != kPageSize) Raise(err::kDamaged, name);
  return bytes;
}

namespace {

// The row a map of used pages lies in.
MapRow MapRowAt(const PositionalFile& file, std::string_view name, std::uint32_t pointer) {
  MapRow map{pointer >> 8, pointer & 0xFF, {}};
  if (map.page * std::uint64_t{kPageSize} >= file.Size()) Raise(err::kDamaged, name);
  const Page page = ReadPage(file, name, map.page);
  const RowBytes row = RowOf(page, map.row);
  if (page[0] != kDataPage || !row.present || row.moved || row.bytes.size() < 5) Raise(err::kDamaged, name);
  map.bytes = std::string(row.bytes);
  return map;
}

std::set<std::uint32_t> PagesOf(const PositionalFile& file, std::string_view name, const MapRow& map,
                                std::set<std::uint32_t>& mapPages) {
  std::set<std::uint32_t> pages;
  const auto read = [&](std::uint32_t page) {
    return std::uint64_t{page} * kPageSize < file.Size() ? ReadPage(file, name, page) : Page{};
  };
  if (!PagesOfMap(map.bytes, read, pages, mapPages)) Raise(err::kDamaged, name);
  return pages;
}

// Number and Data of a row of the table, as its bytes hold them.
StoredRow CrackRow(std::string_view name, std::string_view row, std::uint32_t page, std::size_t number) {
  // Two columns: the column count, Number's 4 bytes, Data, the end of the
  // data, one offset, the count of offsets, and a one-byte null mask.
  constexpr std::size_t kLeast = 2 + 4 + 2 + 2 + 2 + 1;
  if (row.size() < kLeast || Le16(row, 0) != 2) Raise(err::kDamaged, name);
  const auto mask = static_cast<unsigned char>(row.back());
  if ((mask & 1) == 0) throw Refusal{"a row of its table \"Maps\" has no Number"};
  StoredRow stored{static_cast<std::int32_t>(Le32(row, 2)), page, number, std::nullopt};
  const std::size_t offsets = Le16(row, row.size() - 3);
  if (offsets > 1 || row.size() < kLeast - 2 + 2 * offsets) Raise(err::kDamaged, name);
  if (offsets == 0 || (mask & 2) == 0) return stored;
  const std::size_t endOfData = Le16(row, row.size() - 7);
  const std::size_t start = Le16(row, row.size() - 5);
  if (start != 6 || endOfData < start || endOfData > row.size() - 7) Raise(err::kDamaged, name);
  stored.data = std::string(row.substr(start, endOfData - start));
  return stored;
}

// The table's rows in stored order: page by page as its map lists them, row
// by row. A row that moved to another page is not written here.
std::vector<StoredRow> ReadRows(const PositionalFile& file, std::string_view name, const MapsLayout& layout) {
  std::vector<StoredRow> rows;
  for (const std::uint32_t number : layout.dataPages) {
    const Page page = ReadPage(file, name, number);
    const std::size_t count = RowOffsets(page).size();
    if (count == 0 && Le16(page, kRowCount) != 0) Raise(err::kDamaged, name);
    for (std::size_t row = 0; row < count; ++row) {
      const RowBytes bytes = RowOf(page, row);
      if ((Le16(page, kRowOffsets + 2 * row) & kRowDeleted) != 0) continue;
      if (!bytes.present) Raise(err::kDamaged, name);
      if (bytes.moved) throw Refusal{"a row of its table \"Maps\" has moved to another page"};
      rows.push_back(CrackRow(name, bytes.bytes, number, row));
    }
  }
  return rows;
}

// Every page the maps name is of its kind and the table's, no other page says
// it is the table's, and none is free or holds what the writer keeps; the
// table's pages are then `layout.tablePages`.
void AccountForPages(const PositionalFile& file, std::string_view name,
                     const std::set<std::uint32_t>& indexPages, const std::set<std::uint32_t>& mapPages,
                     MapsLayout& layout) {
  const std::uint32_t definitionPage = layout.definitionPage;
  const std::set<std::uint32_t> kept = {0,
                                        kFreePagesPage,
                                        definitionPage,
                                        layout.owned.page,
                                        layout.withRoom.page,
                                        layout.index.page,
                                        layout.longValues.page,
                                        layout.longValuesWithRoom.page};
  const auto owner = [&](const Page& page) { return Le32(page, kOwner); };
  for (std::uint32_t number = 0; number < layout.filePages; ++number) {
    const Page page = ReadPage(file, name, number);
    const bool data = layout.dataPages.contains(number), inIndex = indexPages.contains(number);
    const bool longValue = layout.longValuePages.contains(number), map = mapPages.contains(number);
    if (data + inIndex + longValue + map > 1) throw Refusal{"its table \"Maps\" lists a page twice"};
    bool fits = true;
    if (data) fits = page[0] == kDataPage && owner(page) == definitionPage;
    if (inIndex)
      fits = (page[0] == kIndexNodePage || page[0] == kIndexLeafPage) && owner(page) == definitionPage;
    if (longValue) fits = page[0] == kDataPage && page.compare(kOwner, 4, kLongValueOwner) == 0;
    if (map) fits = page[0] == kUsageMapPage;
    const bool claimed = (page[0] == kDataPage || page[0] == kIndexNodePage || page[0] == kIndexLeafPage) &&
                         owner(page) == definitionPage;
    if (!fits || (claimed && !data && !inIndex)) throw Refusal{"its pages cannot all be accounted for"};
    if (data || inIndex || longValue || map) {
      if (kept.contains(number) || layout.freeInFile.contains(number))
        throw Refusal{"its pages cannot all be accounted for"};
      layout.tablePages.insert(number);
    }
  }
}

}  // namespace

std::variant<WritableMaps, std::string> ReadWritableMaps(const PositionalFile& file, std::string_view name,
                                                         std::uint32_t definitionPage) {
  try {
    WritableMaps maps;
    MapsLayout& layout = maps.layout;
    layout.filePages = file.Size() / kPageSize;
    if (definitionPage <= kFreePagesPage || definitionPage >= layout.filePages) Raise(err::kDamaged, name);
    layout.definitionPage = definitionPage;
    layout.definition = ReadPage(file, name, definitionPage);
    std::uint32_t owned = 0, withRoom = 0, index = 0, longValues = 0, longWithRoom = 0;
    ReadDefinition(layout, owned, withRoom, index, longValues, longWithRoom);
    layout.owned = MapRowAt(file, name, owned);
    layout.withRoom = MapRowAt(file, name, withRoom);
    layout.index = MapRowAt(file, name, index);
    layout.longValues = MapRowAt(file, name, longValues);
    layout.longValuesWithRoom = MapRowAt(file, name, longWithRoom);
    layout.freePages = MapRowAt(file, name, RowPointer(kFreePagesPage, 0));
    if (layout.freePages.bytes[0] != kInlineMap) throw Refusal{"its map of free pages is of another form"};

    std::set<std::uint32_t> mapPages, unused;
    layout.dataPages = PagesOf(file, name, layout.owned, mapPages);
    const std::set<std::uint32_t> withRoomPages = PagesOf(file, name, layout.withRoom, mapPages);
    const std::set<std::uint32_t> indexPages = PagesOf(file, name, layout.index, mapPages);
    layout.longValuePages = PagesOf(file, name, layout.longValues, mapPages);
    const std::set<std::uint32_t> longWithRoomPages =
        PagesOf(file, name, layout.longValuesWithRoom, mapPages);
    for (const std::uint32_t page : PagesOf(file, name, layout.freePages, unused)) {
      if (page < layout.filePages) layout.freeInFile.insert(page);
    }

    AccountForPages(file, name, indexPages, mapPages, layout);
    for (const std::set<std::uint32_t>* pages : std::initializer_list<const std::set<std::uint32_t>*>{
             &layout.dataPages, &indexPages, &layout.longValuePages, &mapPages}) {
      if (!pages->empty() && *pages->rbegin() >= layout.filePages) Raise(err::kDamaged, name);
    }
    const auto within = [](const std::set<std::uint32_t>& part, const std::set<std::uint32_t>& whole) {
      return std::includes(whole.begin(), whole.end(), part.begin(), part.end());
    };
    const std::uint32_t root = Le32(layout.definition, layout.indexRootAt);
    if (!within(withRoomPages, layout.dataPages) || !within(longWithRoomPages, layout.longValuePages) ||
        !indexPages.contains(root))
      throw Refusal{"its pages cannot all be accounted for"};

    maps.rows = ReadRows(file, name, layout);
    if (maps.rows.size() != Le32(layout.definition, kTableRows)) Raise(err::kDamaged, name);
    return maps;
  } catch (const Refusal& refusal) {
    return refusal.why;
  }
}

std::string ReadLongValue(const PositionalFile& file, std::string_view name, const MapsLayout& layout,
                          std::string_view field) {
  if (field.empty()) return {};
  if (field.size() < kLongValueHeader) Raise(err::kDamaged, name);
  const std::uint32_t head = Le32(field, 0);
  const std::uint32_t kind = head & ~kLongValueLengthMask, length = head & kLongValueLengthMask;
  if (kind == kLongValueInline) {
    if (field.size() - kLongValueHeader != length) Raise(err::kDamaged, name);
    return std::string(field.substr(kLongValueHeader));
  }
  if ((kind != kLongValueOneRow && kind != 0) || field.size() != kLongValueHeader ||
      length > layout.filePages * kPageSize)
    Raise(err::kDamaged, name);
  std::string value;
  value.reserve(length);
  std::set<std::uint32_t> seen;
  for (std::uint32_t pointer = Le32(field, 4);;) {
    if (!layout.longValuePages.contains(pointer >> 8) || !seen.insert(pointer).second)
      Raise(err::kDamaged, name);
    const Page page = ReadPage(file, name, pointer >> 8);
    const RowBytes row = RowOf(page, pointer & 0xFF);
    if (!row.present || row.moved) Raise(err::kDamaged, name);
    if (kind == kLongValueOneRow) {
      value = row.bytes;
      break;
    }
    if (row.bytes.size() <= 4 || value.size() + row.bytes.size() - 4 > length) Raise(err::kDamaged, name);
    value.append(row.bytes.substr(4));
    pointer = Le32(row.bytes, 0);
    if (pointer == 0) break;
  }
  if (value.size() != length) Raise(err::kDamaged, name);
  return value;
}

}  // namespace corvald::engine::jet
