// Data page rows and maps of used pages, read and made.
#include "store/jet/JetFormat.h"

namespace corvald::engine::jet::format {

std::vector<std::uint16_t> RowOffsets(std::string_view page) {
  assert(page.size() == kPageSize);
  const std::size_t count = Le16(page, kRowCount);
  if (kRowOffsets + 2 * count > kPageSize) return {};
  std::vector<std::uint16_t> offsets(count);
  for (std::size_t i = 0; i < count; ++i) offsets[i] = Le16(page, kRowOffsets + 2 * i);
  return offsets;
}

RowBytes RowOf(std::string_view page, std::size_t row) {
  const std::vector<std::uint16_t> offsets = RowOffsets(page);
  if (row >= offsets.size() || (offsets[row] & kRowDeleted) != 0) return {};
  // A row ends where the one before it (in the page, the row stored earlier and
  // not deleted or otherwise) starts; the first ends at the page's end.
  const std::size_t start = offsets[row] & kRowOffsetMask;
  std::size_t end = kPageSize;
  for (std::size_t earlier = 0; earlier < row; ++earlier) {
    const std::size_t other = offsets[earlier] & kRowOffsetMask;
    if (other > start && other < end) end = other;
  }
  const std::size_t tableEnd = kRowOffsets + 2 * offsets.size();
  if (start < tableEnd || start >= end) return {};
  return {page.substr(start, end - start), (offsets[row] & kRowMoved) != 0, true};
}

Page EmptyDataPage(std::string_view owner) {
  Page page(kPageSize, '\0');
  page[0] = kDataPage;
  page[1] = 0x01;
  PutLe16(page, kFreeSpace, static_cast<std::uint16_t>(kPageSize - kRowOffsets));
  assert(owner.size() == 4);
  page.replace(kOwner, 4, owner);
  return page;
}

bool AppendRow(Page& page, std::string_view row, std::size_t& rowNumber) {
  const std::size_t count = Le16(page, kRowCount);
  const std::size_t free = Le16(page, kFreeSpace);
  if (count == kMaxRowsOnPage || row.size() + 2 > free) return false;
  const std::size_t end = count == 0 ? kPageSize : Le16(page, kRowOffsets + 2 * (count - 1));
  const std::size_t start = end - row.size();
  page.replace(start, row.size(), row);
  PutLe16(page, kRowOffsets + 2 * count, static_cast<std::uint16_t>(start));
  PutLe16(page, kRowCount, static_cast<std::uint16_t>(count + 1));
  PutLe16(page, kFreeSpace, static_cast<std::uint16_t>(free - row.size() - 2));
  rowNumber = count;
  return true;
}

bool PagesOfMap(std::string_view row, const std::function<Page(std::uint32_t)>& readPage,
                std::set<std::uint32_t>& pages, std::set<std::uint32_t>& mapPages) {
  if (row.empty()) return false;
  const auto addBits = [&pages](std::string_view bits, std::uint64_t first) {
    for (std::size_t i = 0; i < bits.size(); ++i) {
      const auto byte = static_cast<unsigned char>(bits[i]);
      for (int bit = 0; bit < 8; ++bit) {
        if ((byte >> bit & 1) != 0) pages.insert(static_cast<std::uint32_t>(first + 8 * i + bit));
      }
    }
  };
  if (row[0] == kInlineMap) {
    if (row.size() < 5) return false;
    addBits(row.substr(5), Le32(row, 1));
    return true;
  }
  if (row[0] != kReferenceMap) return false;
  for (std::size_t slot = 0; 1 + 4 * slot + 4 <= row.size(); ++slot) {
    const std::uint32_t mapPage = Le32(row, 1 + 4 * slot);
    if (mapPage == 0) continue;
    const Page page = readPage(mapPage);
    if (page.size() != kPageSize || page[0] != kUsageMapPage) return false;
    mapPages.insert(mapPage);
    addBits(std::string_view(page).substr(kUsageMapBits), std::uint64_t{slot} * kPagesPerMapPage);
  }
  return true;
}

std::string InlineBits(const std::set<std::uint32_t>& pages, std::uint32_t start, std::size_t bytes) {
  std::string bits(bytes, '\0');
  for (const std::uint32_t page : pages) {
    assert(page >= start && page - start < 8 * bytes);
    bits[(page - start) / 8] = static_cast<char>(bits[(page - start) / 8] | 1 << ((page - start) % 8));
  }
  return bits;
}

}  // namespace corvald::engine::jet::format
