// Windows-1252's characters for the bytes 0x80 to 0x9F, and the conversions
// built on them.
#include "platform/AnsiCodePage.h"

#include <QList>
#include <array>

namespace corvald {

namespace {

// Bytes 0x80 to 0x9F; the rest map to the code point of the same value.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

char UnicodeToAnsi(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

char16_t AnsiToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHighControls[byte - 0x80];
  return byte;
}

QString FromAnsi(std::string_view bytes) {
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (unsigned char b : bytes) *out++ = QChar(AnsiToUnicode(b));
  return text;
}

std::string ToAnsi(const QString& text) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(text.size()));
  for (char32_t cp : text.toUcs4()) bytes.push_back(UnicodeToAnsi(cp));
  return bytes;
}

std::string AnsiToUtf8(std::string_view bytes) { return FromAnsi(bytes).toStdString(); }

bool IsUtf8(std::string_view bytes) {
  // Malformed sequences decode to U+FFFD, which does not encode back to them.
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString() == bytes;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  return ToAnsi(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

}  // namespace corvald
