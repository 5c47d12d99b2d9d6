#pragma once

// The sizes that bound the codec's buffers: compress's room for an input, and
// how far a zlib stream can expand at most.

#include <cstddef>
#include <cstdint>

namespace corvald {

// Room that CompressData gives zlib's compress for n input bytes: n + n * 0.01 + 12
// in double arithmetic, in that order, rounded to the nearest integer with ties to
// even. Raises err::kOverflow when the room would not fit a signed 32-bit integer
// (from 2,126,221,422 input bytes on).
std::int32_t CompressCapacity(std::size_t n);

// Deflate codes a run of 258 bytes in at least 2 bits, so a zlib stream can never
// expand to more than this many bytes per stream byte.
inline constexpr std::size_t kMaxDeflateRatio = 1032;

}  // namespace corvald
