#pragma once

// The map blob codec. A map blob is the 4-byte little-endian length of the map
// record, then the record as zlib's compress makes it at the default level.
//
// Each operation takes a byte string (std::string, one char per byte, NULs
// included). Input that holds no bytes gives the empty string. Neither
// operation keeps state or changes its input.

#include <cstddef>
#include <string>

namespace corvald {

// The map blob of `data`. Raises err::kOverflow for input too large for the blob
// format and err::kOutOfMemory when memory runs out.
[[nodiscard]] std::string CompressData(const std::string& data);

// The map record of a map blob. The prefix sizes the result: a prefix smaller
// than the record gives its first bytes; a larger one gives the whole record.
// Raises err::kDamagedMapData for a blob shorter than 5 bytes, a prefix below 1
// or a stream that zlib finds damaged, and err::kOutOfMemory when memory runs
// out.
[[nodiscard]] std::string UncompressData(const std::string& blob);

// How many bytes UncompressData gives for this blob at most: its prefix, or
// less where the stream could not expand that far; 0 for a blob of no bytes.
[[nodiscard]] std::size_t ExpandedSizeOf(const std::string& blob);

}  // namespace corvald
