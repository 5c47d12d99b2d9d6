#include "codec/modCompress.h"

#include <zlib.h>

#include <algorithm>
#include <new>
#include <span>

#include "codec/BlobSizes.h"
#include "platform/Failure.h"
#include "platform/Numbers.h"

namespace corvald {

namespace {

constexpr std::size_t kPrefixSize = 4;

using Bytes = std::span<const std::uint8_t>;

Bytes BytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

Bytes BytesOf(const ByteArray& bytes) { return bytes; }

Bytef* Writable(std::string& buffer, std::size_t offset) {
  return reinterpret_cast<Bytef*>(buffer.data()) + offset;
}

Bytef* Writable(ByteArray& buffer, std::size_t offset) { return buffer.data() + offset; }

[[noreturn]] void RaiseDamaged() { Raise(err::kDamagedMapData); }

// Resizes a buffer; new bytes are zeros.
template <typename Buffer>
void Resize(Buffer& buffer, std::size_t size) {
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
template <typename Buffer>
Buffer Compress(Bytes input, std::size_t headroom) {
  constexpr std::size_t kPiece = 1 << 20;
  const auto capacity = static_cast<std::size_t>(CompressCapacity(input.size()));
  Buffer output;
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

// The expansion of `input`, a zlib stream, sized by the claimed length. A
// string result holds what the stream expands to; a byte array always has the
// claimed length. A claim smaller than the record gives its first bytes, once
// the whole stream has proved sound; any damage raises err::kDamagedMapData.
template <typename Buffer>
Buffer Expand(Bytes input, std::int32_t claimed) {
  if (claimed < 1) RaiseDamaged();
  const auto claimedLength = static_cast<std::size_t>(claimed);
  // No room beyond what the stream could ever fill, whatever the claim.
  const std::size_t room = std::min(claimedLength, input.size() * kMaxDeflateRatio);
  Buffer output;
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
  if constexpr (std::is_same_v<Buffer, ByteArray>) {
    Resize(output, claimedLength);
  } else {
    output.resize(length);
  }
  return output;
}

std::int32_t PrefixOf(Bytes blob) {
  std::uint32_t value = 0;
  for (std::size_t i = kPrefixSize; i-- > 0;) value = (value << 8) | blob[i];
  return static_cast<std::int32_t>(value);
}

template <typename Buffer>
Buffer CompressBlob(const Buffer& data) {
  const Bytes input = BytesOf(data);
  if (input.empty()) return {};
  Buffer blob = Compress<Buffer>(input, kPrefixSize);
  const auto length = static_cast<std::uint32_t>(input.size());
  for (std::size_t i = 0; i < kPrefixSize; ++i) {
    blob[i] = static_cast<typename Buffer::value_type>((length >> (8 * i)) & 0xFF);
  }
  return blob;
}

template <typename Buffer>
Buffer CompressBare(const Buffer& data, std::int32_t& origSize) {
  const Bytes input = BytesOf(data);
  if (input.empty()) return {};
  Buffer stream = Compress<Buffer>(input, 0);
  origSize = static_cast<std::int32_t>(input.size());
  return stream;
}

template <typename Buffer>
Buffer UncompressBlob(const Buffer& blob) {
  const Bytes input = BytesOf(blob);
  if (input.empty()) return {};
  if (input.size() <= kPrefixSize) RaiseDamaged();
  return Expand<Buffer>(input.subspan(kPrefixSize), PrefixOf(input));
}

template <typename Buffer>
Buffer UncompressBare(const Buffer& stream, double origSize) {
  const Bytes input = BytesOf(stream);
  if (input.empty()) return {};
  return Expand<Buffer>(input, RoundToInt32(origSize));
}

}  // namespace

std::size_t ExpandedSizeOf(const std::string& blob) {
  const Bytes input = BytesOf(blob);
  if (input.size() <= kPrefixSize) return 0;
  const std::int32_t claimed = PrefixOf(input);
  if (claimed < 1) return 0;
  return std::min(static_cast<std::size_t>(claimed), (input.size() - kPrefixSize) * kMaxDeflateRatio);
}

std::string CompressData(const std::string& data) { return CompressBlob(data); }
ByteArray CompressData(const ByteArray& data) { return CompressBlob(data); }

std::string CompressData(const std::string& data, std::int32_t& origSize) {
  return CompressBare(data, origSize);
}
ByteArray CompressData(const ByteArray& data, std::int32_t& origSize) { return CompressBare(data, origSize); }

std::string UncompressData(const std::string& blob) { return UncompressBlob(blob); }
ByteArray UncompressData(const ByteArray& blob) { return UncompressBlob(blob); }

std::string UncompressData(const std::string& blob, double origSize) {
  return UncompressBare(blob, origSize);
}
ByteArray UncompressData(const ByteArray& blob, double origSize) { return UncompressBare(blob, origSize); }

}  // namespace corvald
