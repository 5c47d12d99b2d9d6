// Jet 4 keeps text as UCS-2. Its compressed form starts with FF FE and holds
// one byte per character (the high byte 0); a 0 byte switches between that and
// two bytes per character.
#include "store/jet/JetText.h"

#include <cstdint>

#include "platform/AnsiCodePage.h"

namespace corvald::engine::jet {

namespace {

constexpr std::string_view kCompressedMarker = "\xFF\xFE";

char16_t UnitAt(std::string_view bytes, std::size_t at) {
  const auto low = static_cast<std::uint8_t>(bytes[at]);
  const auto high = static_cast<std::uint8_t>(bytes[at + 1]);
  return static_cast<char16_t>(low | high << 8);
}

}  // namespace

std::optional<std::string> Jet4TextToAnsi(std::string_view stored) {
  std::string text;
  if (!stored.starts_with(kCompressedMarker)) {
    if (stored.size() % 2 != 0) return std::nullopt;
    text.resize(stored.size() / 2);
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = UnicodeToAnsi(UnitAt(stored, 2 * i));
    return text;
  }
  text.reserve(stored.size());
  bool compressed = true;
  for (std::size_t at = kCompressedMarker.size(); at < stored.size();) {
    if (stored[at] == 0) {
      compressed = !compressed;
      ++at;
    } else if (compressed) {
      text += UnicodeToAnsi(static_cast<std::uint8_t>(stored[at++]));
    } else {
      if (at + 1 >= stored.size()) return std::nullopt;
      text += UnicodeToAnsi(UnitAt(stored, at));
      at += 2;
    }
  }
  return text;
}

std::string AnsiToJet4Text(std::string_view ansi) {
  std::string stored;
  stored.reserve(2 * ansi.size());
  for (const unsigned char byte : ansi) {
    const char16_t unit = AnsiToUnicode(byte);
    stored += static_cast<char>(unit & 0xFF);
    stored += static_cast<char>(unit >> 8);
  }
  return stored;
}

}  // namespace corvald::engine::jet
