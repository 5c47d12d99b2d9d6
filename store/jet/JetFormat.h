#pragma once

// The Jet 4 page format as the writer and its reader see it: page kinds and
// offsets, little- and big-endian fields, maps of used pages, and the rows
// table of a data page.

#include <cassert>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace corvald::engine::jet::format {

inline constexpr std::size_t kPageSize = 4096;
using Page = std::string;  // kPageSize bytes

inline constexpr char kDataPage = 0x01;
inline constexpr char kDefinitionPage = 0x02;
inline constexpr char kIndexNodePage = 0x03;
inline constexpr char kIndexLeafPage = 0x04;
inline constexpr char kUsageMapPage = 0x05;

// Data and long-value pages: 01 01, free space, owner, 4 unknown bytes, the
// row count, then one offset a row; rows are packed from the page's end.
inline constexpr std::size_t kFreeSpace = 0x02;
inline constexpr std::size_t kOwner = 0x04;
inline constexpr std::string_view kLongValueOwner = "LVAL";
inline constexpr std::size_t kRowCount = 0x0C;
inline constexpr std::size_t kRowOffsets = 0x0E;
inline constexpr std::uint16_t kRowDeleted = 0x8000;
inline constexpr std::uint16_t kRowMoved = 0x4000;
inline constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
// A row number is one byte of a row pointer (page << 8 | row).
inline constexpr std::size_t kMaxRowsOnPage = 255;

// A long value's 12-byte header in its row: a length whose top bits say where
// the data lies, a row pointer, 4 unused bytes.
inline constexpr std::size_t kLongValueHeader = 12;
inline constexpr std::uint32_t kLongValueInline = 0x80000000;
inline constexpr std::uint32_t kLongValueOneRow = 0x40000000;
inline constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFF;
// What another Jet writer keeps inline, and the most one long-value row holds:
// a chained row carries a 4-byte pointer to the next before its part.
inline constexpr std::size_t kMaxInlineLongValue = 64;
inline constexpr std::size_t kMaxLongValueRow = kPageSize - kRowOffsets - 2 - 4;

// Index pages: free space, owner, then the neighbours at this level, the last
// child of a node page, the length of a prefix the entries share, the bitmap
// of where entries start, and the entries.
inline constexpr std::size_t kIndexPrevious = 0x0C;
inline constexpr std::size_t kIndexNext = 0x10;
inline constexpr std::size_t kIndexTail = 0x14;
inline constexpr std::size_t kIndexPrefixLength = 0x18;
inline constexpr std::size_t kIndexEntryBitmap = 0x1B;
inline constexpr std::size_t kIndexEntries = 0x1E0;

// Usage map pages (of a reference map): 05 01 00 00, then one bit a page.
inline constexpr std::size_t kUsageMapBits = 4;
inline constexpr std::uint32_t kPagesPerMapPage = (kPageSize - kUsageMapBits) * 8;
inline constexpr char kInlineMap = 0x00;
inline constexpr char kReferenceMap = 0x01;

inline std::uint16_t Le16(std::string_view bytes, std::size_t at) {
  assert(at + 2 <= bytes.size());
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
}

inline std::uint32_t Le32(std::string_view bytes, std::size_t at) {
  assert(at + 4 <= bytes.size());
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

inline void PutLe16(std::string& bytes, std::size_t at, std::uint16_t value) {
  assert(at + 2 <= bytes.size());
  bytes[at] = static_cast<char>(value);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

inline void PutLe32(std::string& bytes, std::size_t at, std::uint32_t value) {
  assert(at + 4 <= bytes.size());
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

inline void AppendLe16(std::string& bytes, std::uint16_t value) {
  bytes += static_cast<char>(value);
  bytes += static_cast<char>(value >> 8);
}

inline void AppendLe32(std::string& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i));
}

inline void AppendBe(std::string& bytes, std::uint32_t value, int size) {
  for (int i = size - 1; i >= 0; --i) bytes += static_cast<char>(value >> (8 * i));
}

inline std::uint32_t RowPointer(std::uint32_t page, std::uint32_t row) { return page << 8 | row; }

// The offsets of the rows of a data page, flags included; empty where the
// table of offsets does not fit in the page.
std::vector<std::uint16_t> RowOffsets(std::string_view page);

// The bytes of row `row` of a data page (flags stripped from its offset), or
// nothing where the row is deleted or its bounds lie outside the page.
// `moved` tells whether the row holds a pointer to where it moved.
struct RowBytes {
  std::string_view bytes;
  bool moved = false;
  bool present = false;
};
RowBytes RowOf(std::string_view page, std::size_t row);

// An empty data page of the given owner (a page number, or "LVAL").
Page EmptyDataPage(std::string_view owner);

// Adds a row to a data page made by EmptyDataPage when it fits, and returns its
// row number; false where the page has no room or no row number left.
bool AppendRow(Page& page, std::string_view row, std::size_t& rowNumber);

// The pages that a map of used pages (the map's row) lists, with the map
// pages of a reference map read through `readPage`, which returns an empty
// string for a page beyond the file. False where the row is of neither form or
// a map page is not one.
bool PagesOfMap(std::string_view row, const std::function<Page(std::uint32_t)>& readPage,
                std::set<std::uint32_t>& pages, std::set<std::uint32_t>& mapPages);

// The bitmap of an inline map of `bytes` bytes starting at `start` over
// `pages`, which it must cover.
std::string InlineBits(const std::set<std::uint32_t>& pages, std::uint32_t start, std::size_t bytes);

}  // namespace corvald::engine::jet::format
