// Jet scrambles its header from offset 0x18 with RC4 under a fixed key; Jet 4
// also masks the password with the database's creation date.
#include "store/jet/JetHeader.h"

#include <array>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/AnsiCodePage.h"

namespace corvald::engine::jet {

namespace {

constexpr std::string_view kMagic("\x00\x01\x00\x00", 4);
constexpr std::string_view kJetName = "Standard Jet DB";
constexpr std::string_view kAceName = "Standard ACE DB";
constexpr std::size_t kVersionOffset = 0x14;

constexpr std::size_t kScrambledOffset = 0x18;
constexpr std::array<std::uint8_t, 4> kScrambleKey = {0xC7, 0xDA, 0x39, 0x6B};
constexpr std::size_t kPasswordOffset = 0x42;
constexpr std::size_t kCreationDateOffset = 0x72;

// RC4 over `bytes` in place.
void Rc4(std::uint8_t* bytes, std::size_t size) {
  std::array<std::uint8_t, 256> s;
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i);
  std::uint8_t j = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    j = static_cast<std::uint8_t>(j + s[i] + kScrambleKey[i % kScrambleKey.size()]);
    std::swap(s[i], s[j]);
  }
  std::uint8_t a = 0, b = 0;
  for (std::size_t k = 0; k < size; ++k) {
    b = static_cast<std::uint8_t>(b + s[++a]);
    std::swap(s[a], s[b]);
    bytes[k] ^= s[static_cast<std::uint8_t>(s[a] + s[b])];
  }
}

// The creation date (a double) as Jet takes it for the mask: its whole part as
// a 32-bit integer, little-endian; 0 where it does not fit.
std::array<std::uint8_t, 4> DateMask(const std::uint8_t* date) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | date[i];
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  const bool fits = std::isfinite(value) && value > std::numeric_limits<std::int32_t>::min() - 1.0 &&
                    value < std::numeric_limits<std::int32_t>::max() + 1.0;
  const auto whole = static_cast<std::uint32_t>(fits ? static_cast<std::int32_t>(value) : 0);
  return {static_cast<std::uint8_t>(whole), static_cast<std::uint8_t>(whole >> 8),
          static_cast<std::uint8_t>(whole >> 16), static_cast<std::uint8_t>(whole >> 24)};
}

}  // namespace

Format FormatOf(std::string_view start) {
  if (start.size() <= kVersionOffset || !start.starts_with(kMagic)) return Format::kOther;
  const std::string_view name = start.substr(kMagic.size(), kJetName.size());
  if (name == kAceName) return Format::kAce;
  if (name != kJetName) return Format::kOther;
  switch (start[kVersionOffset]) {
    case 0:
      return Format::kJet3;
    case 1:
      return Format::kJet4;
    default:
      return Format::kAce;
  }
}

namespace {

std::array<std::uint8_t, kHeaderSize> Unscrambled(std::string_view header, Format format) {
  assert(format == Format::kJet3 || format == Format::kJet4);
  assert(header.size() >= kHeaderSize);
  std::array<std::uint8_t, kHeaderSize> plain;
  std::memcpy(plain.data(), header.data(), plain.size());
  Rc4(plain.data() + kScrambledOffset, format == Format::kJet4 ? 128 : 126);
  return plain;
}

}  // namespace

bool HasEncryptedPages(std::string_view header, Format format) {
  constexpr std::size_t kPageKeyOffset = 0x3E;
  const std::array<std::uint8_t, kHeaderSize> plain = Unscrambled(header, format);
  return (plain[kPageKeyOffset] | plain[kPageKeyOffset + 1] | plain[kPageKeyOffset + 2] |
          plain[kPageKeyOffset + 3]) != 0;
}

std::u16string PasswordOf(std::string_view header, Format format) {
  const bool jet4 = format == Format::kJet4;
  const std::array<std::uint8_t, kHeaderSize> plain = Unscrambled(header, format);

  std::u16string password;
  if (jet4) {
    const std::array<std::uint8_t, 4> mask = DateMask(plain.data() + kCreationDateOffset);
    for (std::size_t i = 0; i < 40; i += 2) {
      const std::size_t at = kPasswordOffset + i;
      const auto unit =
          static_cast<char16_t>((plain[at] ^ mask[i % 4]) | (plain[at + 1] ^ mask[(i + 1) % 4]) << 8);
      if (unit == 0) break;
      password += unit;
    }
  } else {
    for (std::size_t i = 0; i < 20 && plain[kPasswordOffset + i] != 0; ++i) {
      password += AnsiToUnicode(plain[kPasswordOffset + i]);
    }
  }
  return password;
}

}  // namespace corvald::engine::jet
