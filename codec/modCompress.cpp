// Map blobs made and expanded through zlib's streams, with room sized as
// zlib's compress sizes it and expansion bounded by what a stream can hold.
#include "codec/modCompress.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <span>

#include "codec/BlobSizes.h"
#include "platform/Failure.h"

namespace corvald {

namespace {

constexpr std::size_t kPrefixSize = 4;

using Bytes = std::span<const std::uint8_t>;

Bytes BytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

Bytef* Writable(std::string& buffer, std::size_t offset) {
  return reinterpret_cast<Bytef*>(buffer.data()) + offset;
}

[[noreturn]] void RaiseDamaged() { Raise(err::kDamagedMapData); }

// Resizes a buffer; new bytes are zeros.
void Resize(std::string& buffer, std::size_t size) {
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc&) {
    Raise(err::kOutOfMemory);
  } catch (const std::length_error&) {
    Raise(err::kOutOfMemory);
  }
}

// The zlib stream of `input`, after `headroom` bytes left for the length
// prefix, exactly as zlib's compress makes it at the default level. The
// buffer has compress's room, but the stream is written into it a piece at a
// time, so that memory holds only as much of it as the stream fills. Raises
// err::kOutOfMemory when zlib or the buffer has none.
std::string Compress(Bytes input, std::size_t headroom) {
  constexpr std::size_t kPiece = 1 << 20;
  const auto capacity = static_cast<std::size_t>(CompressCapacity(input.size()));
  std::string output;
  try {
    output.reserve(headroom + capacity);
  } catch (const std::bad_alloc&) {
    Raise(err::kOutOfMemory);
  }
  output.resize(headroom);
  z_stream stream{};
  if (deflateInit(&stream, Z_DEFAULT_COMPRESSION) != Z_OK) Raise(err::kOutOfMemory);
  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  // The capacity always holds the whole stream, so deflate can fail only for want of memory.
  int status = Z_OK;
  while (status == Z_OK && output.size() < headroom + capacity) {
    const std::size_t done = output.size();
    const std::size_t piece = std::min(kPiece, headroom + capacity - done);
    output.resize(done + piece);
    stream.next_out = Writable(output, done);
    stream.avail_out = static_cast<uInt>(piece);
    status = deflate(&stream, Z_FINISH);
    output.resize(done + piece - stream.avail_out);
  }
  deflateEnd(&stream);
  if (status != Z_STREAM_END) Raise(err::kOutOfMemory);
  // Room left unused goes too, where it is much: a blob may wait a while
  // before it is stored. Shrinking copies, so a stream that hardly shrank
  // keeps its buffer.
  if (output.capacity() - output.size() > output.size() / 4) output.shrink_to_fit();
  return output;
}

// Whether the rest of a stream whose expansion filled its buffer is sound: it
// is expanded into scratch room and thrown away, so that a damaged stream is
// not taken for a record longer than its claim.
bool RestIsSound(z_stream& stream) {
  unsigned char scratch[1 << 14];
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = scratch;
    stream.avail_out = sizeof scratch;
    status = inflate(&stream, Z_NO_FLUSH);
  }
  return status == Z_STREAM_END;
}

// The expansion of `input`, a zlib stream, sized by the claimed length: what
// the stream expands to, or its first bytes for a claim smaller than the
// record, once the whole stream has proved sound; any damage raises
// err::kDamagedMapData.
std::string Expand(Bytes input, std::int32_t claimed) {
  if (claimed < 1) RaiseDamaged();
  const auto claimedLength = static_cast<std::size_t>(claimed);
  // No room beyond what the stream could ever fill, whatever the claim.
  const std::size_t room = std::min(claimedLength, input.size() * kMaxDeflateRatio);
  std::string output;
  Resize(output, room);
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) Raise(err::kOutOfMemory);
  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = Writable(output, 0);
  stream.avail_out = static_cast<uInt>(room);
  const int status = inflate(&stream, Z_FINISH);
  const std::size_t length = room - stream.avail_out;
  // With the buffer full before the stream's end, the claim was smaller than
  // the record; with room left, the stream was cut short.
  const bool sound =
      status == Z_STREAM_END || (status == Z_BUF_ERROR && length == room && RestIsSound(stream));
  inflateEnd(&stream);
  if (status == Z_MEM_ERROR) Raise(err::kOutOfMemory);
  if (!sound) RaiseDamaged();
  output.resize(length);
  return output;
}

std::int32_t PrefixOf(Bytes blob) {
  std::uint32_t value = 0;
  for (std::size_t i = kPrefixSize; i-- > 0;) value = (value << 8) | blob[i];
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::size_t ExpandedSizeOf(const std::string& blob) {
  const Bytes input = BytesOf(blob);
  if (input.size() <= kPrefixSize) return 0;
  const std::int32_t claimed = PrefixOf(input);
  if (claimed < 1) return 0;
  return std::min(static_cast<std::size_t>(claimed), (input.size() - kPrefixSize) * kMaxDeflateRatio);
}

std::string CompressData(const std::string& data) {
  const Bytes input = BytesOf(data);
  if (input.empty()) return {};
  std::string blob = Compress(input, kPrefixSize);
  const auto length = static_cast<std::uint32_t>(input.size());
  for (std::size_t i = 0; i < kPrefixSize; ++i) blob[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return blob;
}

std::string UncompressData(const std::string& blob) {
  const Bytes input = BytesOf(blob);
  if (input.empty()) return {};
  if (input.size() <= kPrefixSize) RaiseDamaged();
  return Expand(input.subspan(kPrefixSize), PrefixOf(input));
}

}  // namespace corvald
