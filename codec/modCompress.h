#pragma once

// The map blob codec. A map blob is the 4-byte little-endian length of the map
// record, then the record as zlib's compress makes it at the default level. With
// the optional origSize argument the length travels in origSize instead and the
// value is the zlib stream alone (the bare stream).
//
// Each operation takes a byte string (std::string, one char per byte, NULs
// included) or a byte array and gives back the same kind. Input that holds no bytes
// gives the empty value ("" or an empty byte array); a value of any other kind is
// accepted and gives EmptyValue. Neither operation keeps state or changes its input.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace corvald {

using ByteArray = std::vector<std::uint8_t>;

// The result that holds nothing. Read as a string it is "", read as a byte array it
// has no elements.
struct EmptyValue {
  operator std::string() const { return {}; }
  operator ByteArray() const { return {}; }
};

// Any value that is neither a byte string nor a byte array: a number, nullptr, an
// array of another element type, an object. (A std::string_view is a string of no
// kind the codec owns; make it a std::string first.)
template <typename T>
concept OtherKind = std::same_as<std::remove_cvref_t<T>, std::nullptr_t> ||
    (!std::convertible_to<const T&, std::string_view> && !std::convertible_to<const T&, ByteArray>);

// The map blob of `data`. Raises err::kOverflow for input too large for the blob
// format and err::kOutOfMemory when memory runs out.
[[nodiscard]] std::string CompressData(const std::string& data);
[[nodiscard]] ByteArray CompressData(const ByteArray& data);

// The bare stream of `data`; stores the input length into origSize. For input that
// holds no bytes, origSize is left untouched.
[[nodiscard]] std::string CompressData(const std::string& data, std::int32_t& origSize);
[[nodiscard]] ByteArray CompressData(const ByteArray& data, std::int32_t& origSize);

// The map record of a map blob. The prefix sizes the result: a prefix smaller than
// the record gives its first bytes; a larger one gives the whole record as a string,
// and the record followed by zero bytes up to the prefix as a byte array. Raises
// err::kDamagedMapData for a blob shorter than 5 bytes, a prefix below 1 or a stream
// that zlib finds damaged, and err::kOutOfMemory when memory runs out.
[[nodiscard]] std::string UncompressData(const std::string& blob);
[[nodiscard]] ByteArray UncompressData(const ByteArray& blob);

// The same for a bare stream whose expansion length is origSize, rounded to the
// nearest integer with ties to even; err::kOverflow when it lies outside the signed
// 32-bit range. For input that holds no bytes, origSize is not looked at.
[[nodiscard]] std::string UncompressData(const std::string& blob, double origSize);
[[nodiscard]] ByteArray UncompressData(const ByteArray& blob, double origSize);

// How many bytes UncompressData gives for this blob at most: its prefix, or
// less where the stream could not expand that far; 0 for a blob of no bytes.
[[nodiscard]] std::size_t ExpandedSizeOf(const std::string& blob);

template <OtherKind T>
[[nodiscard]] EmptyValue CompressData(const T& /*data*/) {
  return {};
}

template <OtherKind T>
[[nodiscard]] EmptyValue CompressData(const T& /*data*/, std::int32_t& /*origSize*/) {
  return {};
}

template <OtherKind T>
[[nodiscard]] EmptyValue UncompressData(const T& /*blob*/) {
  return {};
}

template <OtherKind T>
[[nodiscard]] EmptyValue UncompressData(const T& /*blob*/, double /*origSize*/) {
  return {};
}

}  // namespace corvald
