// The writer lays Maps out densely: rows in index order on data pages filled
// one after the other, long values inline up to 64 bytes, in one long-value
// row up to a row's size, else in a chain of rows of 4,072 bytes each, the
// index as leaves under at most one node page.
#include "store/jet/JetWriter.h"

#include <algorithm>
#include <map>

#include "platform/Failure.h"

namespace corvald::engine::jet {

using namespace format;

namespace {

constexpr std::size_t kChainPart = kMaxLongValueRow - 4;
constexpr std::size_t kLeafEntry = 1 + 4 + 4;       // key, row pointer
constexpr std::size_t kNodeEntry = kLeafEntry + 4;  // and the child page
constexpr std::size_t kIndexRoom = kPageSize - kIndexEntries;
constexpr std::size_t kNumberOfRows = 0x10;
constexpr std::size_t kCopyRun = 256;
// Long-value pages with room kept open for rows to come: enough for small
// values to fill the gaps that large ones leave, few enough to hold in memory.
constexpr std::size_t kOpenLongValuePages = 16;

std::string OwnerBytes(std::uint32_t page) {
  std::string owner;
  AppendLe32(owner, page);
  return owner;
}

// A Long Integer key as an index orders it: a flag byte for "present", then
// the value big-endian with its sign bit flipped.
void AppendKey(std::string& entry, std::int32_t number) {
  entry += '\x7F';
  AppendBe(entry, static_cast<std::uint32_t>(number) ^ 0x80000000u, 4);
}

void AppendPointer(std::string& entry, std::uint32_t pointer) {
  AppendBe(entry, pointer >> 8, 3);
  entry += static_cast<char>(pointer & 0xFF);
}

// An index page of `kind` holding `entries` (each `size` bytes), linked to its
// neighbours; the bitmap marks where each entry after the first starts and
// where the last one ends.
Page IndexPage(char kind, std::uint32_t owner, const std::string& entries, std::size_t size,
               std::uint32_t previous, std::uint32_t next, std::uint32_t tail) {
  assert(entries.size() <= kIndexRoom && entries.size() % size == 0);
  Page page(kPageSize, '\0');
  page[0] = kind;
  page[1] = 0x01;
  PutLe16(page, kFreeSpace, static_cast<std::uint16_t>(kIndexRoom - entries.size()));
  PutLe32(page, kOwner, owner);
  PutLe32(page, kIndexPrevious, previous);
  PutLe32(page, kIndexNext, next);
  PutLe32(page, kIndexTail, tail);
  PutLe16(page, kIndexPrefixLength, 0);
  for (std::size_t end = size; end <= entries.size(); end += size) {
    page[kIndexEntryBitmap + end / 8] = static_cast<char>(page[kIndexEntryBitmap + end / 8] | 1 << (end % 8));
  }
  page.replace(kIndexEntries, entries.size(), entries);
  return page;
}

// Replaces a row of a page in place with bytes of the same length.
void ReplaceRow(Page& page, std::size_t row, std::string_view bytes) {
  const RowBytes old = RowOf(page, row);
  assert(old.present && old.bytes.size() == bytes.size());
  page.replace(static_cast<std::size_t>(old.bytes.data() - page.data()), bytes.size(), bytes);
}

}  // namespace

TableWriter::TableWriter(const PositionalFile& source, std::string name, const MapsLayout& layout,
                         PositionalFile& target)
    : source_(source),
      name_(std::move(name)),
      layout_(layout),
      target_(target),
      reusable_(layout.tablePages),
      end_(static_cast<std::uint32_t>(layout.filePages)) {}

std::uint32_t TableWriter::Allocate() {
  std::uint32_t page = end_;
  if (!reusable_.empty()) {
    page = *reusable_.begin();
    reusable_.erase(reusable_.begin());
  } else {
    ++end_;
  }
  written_.insert(page);
  return page;
}

void TableWriter::Put(std::uint32_t page, std::string_view bytes) {
  assert(bytes.size() % kPageSize == 0);
  target_.WriteAt(std::uint64_t{page} * kPageSize, bytes);
}

std::uint32_t TableWriter::PlaceDataRow(std::string_view row) {
  std::size_t number = 0;
  if (!data_ || !AppendRow(data_->bytes, row, number)) {
    if (data_) Put(data_->number, data_->bytes);
    data_ = OpenPage{Allocate(), EmptyDataPage(OwnerBytes(layout_.definitionPage))};
    dataPages_.insert(data_->number);
    [[maybe_unused]] const bool fits = AppendRow(data_->bytes, row, number);
    assert(fits);
  }
  return RowPointer(data_->number, static_cast<std::uint32_t>(number));
}

std::uint32_t TableWriter::PlaceLongValueRow(std::string_view row) {
  std::size_t number = 0;
  for (OpenPage& open : longValues_) {
    if (AppendRow(open.bytes, row, number))
      return RowPointer(open.number, static_cast<std::uint32_t>(number));
  }
  if (longValues_.size() == kOpenLongValuePages) {
    const auto fullest = std::min_element(
        longValues_.begin(), longValues_.end(),
        [](const auto& a, const auto& b) { return Le16(a.bytes, kFreeSpace) < Le16(b.bytes, kFreeSpace); });
    Put(fullest->number, fullest->bytes);
    longValues_.erase(fullest);
  }
  OpenPage& open = longValues_.emplace_back(OpenPage{Allocate(), EmptyDataPage(kLongValueOwner)});
  longValuePages_.insert(open.number);
  [[maybe_unused]] const bool fits = AppendRow(open.bytes, row, number);
  assert(fits);
  return RowPointer(open.number, static_cast<std::uint32_t>(number));
}

std::string TableWriter::AddValue(std::string_view bytes) {
  assert(bytes.size() <= kLongValueLengthMask);
  const auto length = static_cast<std::uint32_t>(bytes.size());
  std::string field;
  if (bytes.size() <= kMaxInlineLongValue) {
    AppendLe32(field, length | kLongValueInline);
    field.append(8, '\0');
    field += bytes;
    return field;
  }
  if (bytes.size() <= kMaxLongValueRow) {
    AppendLe32(field, length | kLongValueOneRow);
    AppendLe32(field, PlaceLongValueRow(bytes));
    AppendLe32(field, 0);
    return field;
  }
  // The last part shares the open page; each whole part takes a page of its
  // own, whose number is known before the part before it is written.
  const std::size_t parts = (bytes.size() + kChainPart - 1) / kChainPart;
  std::string last(4, '\0');
  last += bytes.substr((parts - 1) * kChainPart);
  std::uint32_t next = PlaceLongValueRow(last);
  std::vector<std::uint32_t> pages(parts - 1);
  for (std::uint32_t& page : pages) {
    page = Allocate();
    longValuePages_.insert(page);
  }
  for (std::size_t part = parts - 1; part-- > 0;) {
    std::string row;
    AppendLe32(row, next);
    row += bytes.substr(part * kChainPart, kChainPart);
    Page page = EmptyDataPage(kLongValueOwner);
    std::size_t number = 0;
    [[maybe_unused]] const bool fits = AppendRow(page, row, number);
    assert(fits && number == 0);
    Put(pages[part], page);
    next = RowPointer(pages[part], 0);
  }
  AppendLe32(field, length);
  AppendLe32(field, next);
  AppendLe32(field, 0);
  return field;
}

void TableWriter::AddRow(std::int32_t number, const std::optional<std::string>& data) {
  assert(entries_.empty() || entries_.back().number <= number);
  std::string row;
  AppendLe16(row, 2);
  AppendLe32(row, static_cast<std::uint32_t>(number));
  const std::size_t start = row.size();
  if (data) row += *data;
  AppendLe16(row, static_cast<std::uint16_t>(row.size()));
  AppendLe16(row, static_cast<std::uint16_t>(start));
  AppendLe16(row, 1);
  row += static_cast<char>(data ? 0x03 : 0x01);
  entries_.push_back({number, PlaceDataRow(row)});
}

void TableWriter::WriteIndex() {
  const std::uint32_t owner = layout_.definitionPage;
  const std::size_t perLeaf = kIndexRoom / kLeafEntry;
  const std::size_t leaves = std::max<std::size_t>(1, (entries_.size() + perLeaf - 1) / perLeaf);
  if (leaves - 1 > kIndexRoom / kNodeEntry) {
    Raise(err::kEngineError, "the index of '" + name_ + "' would need more than two levels");
  }
  if (leaves > 1) {
    root_ = Allocate();
    indexPages_.insert(root_);
  }
  std::vector<std::uint32_t> pages(leaves);
  for (std::uint32_t& page : pages) {
    page = Allocate();
    indexPages_.insert(page);
  }
  if (leaves == 1) root_ = pages[0];
  std::string node;
  for (std::size_t leaf = 0; leaf < leaves; ++leaf) {
    std::string entries;
    const std::size_t first = leaf * perLeaf, last = std::min(entries_.size(), first + perLeaf);
    for (std::size_t i = first; i < last; ++i) {
      AppendKey(entries, entries_[i].number);
      AppendPointer(entries, entries_[i].pointer);
    }
    Put(pages[leaf], IndexPage(kIndexLeafPage, owner, entries, kLeafEntry, leaf > 0 ? pages[leaf - 1] : 0,
                               leaf + 1 < leaves ? pages[leaf + 1] : 0, 0));
    // A node names each child but the last by its last entry; the last is its tail.
    if (leaf + 1 < leaves) {
      node += entries.substr(entries.size() - kLeafEntry);
      AppendBe(node, pages[leaf], 4);
    }
  }
  if (leaves > 1) Put(root_, IndexPage(kIndexNodePage, owner, node, kNodeEntry, 0, 0, pages.back()));
}

std::string TableWriter::MapBytes(const MapRow& original, const std::set<std::uint32_t>& pages) {
  const std::size_t size = original.bytes.size();
  std::string map(size, '\0');
  const std::uint64_t span = 8 * std::uint64_t{size - 5};
  if (original.bytes[0] == kInlineMap) {
    const std::uint32_t start = pages.empty() || *pages.rbegin() < span ? 0 : *pages.begin();
    if (pages.empty() || *pages.rbegin() - start < span) {
      PutLe32(map, 1, start);
      map.replace(5, size - 5, InlineBits(pages, start, size - 5));
      return map;
    }
  }
  // A reference map: one map page for each stretch of pages that holds any.
  map[0] = kReferenceMap;
  const std::size_t slots = (size - 1) / 4;
  if (!pages.empty() && *pages.rbegin() / kPagesPerMapPage >= slots) {
    Raise(err::kEngineError, "'" + name_ + "' would grow past what a map of used pages covers");
  }
  for (std::size_t slot = 0; slot < slots; ++slot) {
    const auto first = static_cast<std::uint32_t>(slot * kPagesPerMapPage);
    std::set<std::uint32_t> part(pages.lower_bound(first), pages.lower_bound(first + kPagesPerMapPage));
    if (part.empty()) continue;
    Page page(kUsageMapBits, '\0');
    page[0] = kUsageMapPage;
    page[1] = 0x01;
    page += InlineBits(part, first, kPageSize - kUsageMapBits);
    const std::uint32_t number = Allocate();
    Put(number, page);
    PutLe32(map, 1 + 4 * slot, number);
  }
  return map;
}

std::string TableWriter::FreePagesMap(std::uint32_t end) const {
  // The map covers a stretch that reaches the file's end: pages past the
  // stretch count as free, pages before it as in use.
  const std::size_t size = layout_.freePages.bytes.size();
  const std::uint32_t span = static_cast<std::uint32_t>(8 * (size - 5));
  std::set<std::uint32_t> free;
  for (const std::set<std::uint32_t>* pages :
       std::initializer_list<const std::set<std::uint32_t>*>{&layout_.freeInFile, &reusable_}) {
    for (const std::uint32_t page : *pages) {
      if (page < end) free.insert(page);
    }
  }
  const std::uint32_t lowest = (end > span ? end - span + 7 : 0) / 8 * 8;
  const std::uint32_t wanted = (free.empty() ? end : std::min(*free.begin(), end)) / 8 * 8;
  const std::uint32_t start = std::max(lowest, wanted);
  for (std::uint32_t page = end; page < start + span; ++page) free.insert(page);
  std::erase_if(free, [&](std::uint32_t page) { return page < start; });
  std::string map(size, '\0');
  PutLe32(map, 1, start);
  map.replace(5, size - 5, InlineBits(free, start, size - 5));
  return map;
}

std::map<std::uint32_t, Page> TableWriter::PatchedPages() {
  // The maps of pages with room list the pages still open.
  std::set<std::uint32_t> dataWithRoom, longValuesWithRoom;
  if (data_) {
    Put(data_->number, data_->bytes);
    if (Le16(data_->bytes, kFreeSpace) > 0) dataWithRoom.insert(data_->number);
  }
  for (const OpenPage& open : longValues_) {
    Put(open.number, open.bytes);
    if (Le16(open.bytes, kFreeSpace) > 0) longValuesWithRoom.insert(open.number);
  }
  WriteIndex();

  std::map<std::uint32_t, Page> patched;
  Page& definition = patched[layout_.definitionPage] = layout_.definition;
  PutLe32(definition, kNumberOfRows, static_cast<std::uint32_t>(entries_.size()));
  std::uint32_t keys = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i)
    keys += i == 0 || entries_[i].number != entries_[i - 1].number;
  PutLe32(definition, layout_.indexCountAt, keys);
  PutLe32(definition, layout_.indexRootAt, root_);

  const auto patch = [&](const MapRow& row, const std::string& bytes) {
    auto [at, added] = patched.try_emplace(row.page);
    if (added) at->second = ReadPage(source_, name_, row.page);
    ReplaceRow(at->second, row.row, bytes);
  };
  patch(layout_.owned, MapBytes(layout_.owned, dataPages_));
  patch(layout_.withRoom, MapBytes(layout_.withRoom, dataWithRoom));
  patch(layout_.index, MapBytes(layout_.index, indexPages_));
  patch(layout_.longValues, MapBytes(layout_.longValues, longValuePages_));
  patch(layout_.longValuesWithRoom, MapBytes(layout_.longValuesWithRoom, longValuesWithRoom));
  // Last, once every page is allocated: the file ends after its last page in use.
  patch(layout_.freePages, FreePagesMap(EndOfFile()));
  return patched;
}

std::uint32_t TableWriter::EndOfFile() const {
  const std::uint32_t end = written_.empty() ? 0 : *written_.rbegin() + 1;
  for (std::uint32_t page = static_cast<std::uint32_t>(layout_.filePages); page-- > end;) {
    if (!layout_.tablePages.contains(page) && !layout_.freeInFile.contains(page)) return page + 1;
  }
  return end;
}

void TableWriter::Finish() {
  const std::map<std::uint32_t, Page> patched = PatchedPages();
  const std::uint32_t end = EndOfFile();
  for (std::uint32_t page = 0; page < end;) {
    if (written_.contains(page)) {
      ++page;
    } else if (const auto found = patched.find(page); found != patched.end()) {
      Put(page, found->second);
      ++page;
    } else if (page >= layout_.filePages || layout_.tablePages.contains(page)) {
      Put(page, Page(kPageSize, '\0'));
      ++page;
    } else {
      // A run of pages copied as they stand.
      std::uint32_t run = 1;
      while (run < kCopyRun && page + run < std::min<std::uint64_t>(end, layout_.filePages) &&
             !layout_.tablePages.contains(page + run) && !patched.contains(page + run) &&
             !written_.contains(page + run)) {
        ++run;
      }
      const std::string pages = source_.ReadAt(std::uint64_t{page} * kPageSize, run * kPageSize);
      if (pages.size() != run * kPageSize) Raise(err::kDamaged, name_);
      Put(page, pages);
      page += run;
    }
  }
  target_.Truncate(std::uint64_t{end} * kPageSize);
}

}  // namespace corvald::engine::jet
