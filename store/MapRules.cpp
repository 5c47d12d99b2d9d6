// The map name, the map file path and the map number in a map file's name.

#include "store/MapRules.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

#include "platform/Numbers.h"
#include "store/modConst.h"

namespace corvald {

namespace {

constexpr std::string_view kUnusableInFileNames = "\"*/:<>?\\|";

bool IsSkippedInNumbers(char c) { return c == ' ' || c == '\t' || c == '\n'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of `c` as a digit of `base` (8 or 16), or -1 when it is none.
int DigitValue(char c, int base) {
  int value = -1;
  if (IsDigit(c)) value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

// The number of decimal digits at the start of `text`.
std::size_t DigitCount(std::string_view text) {
  std::size_t count = 0;
  while (count < text.size() && IsDigit(text[count])) ++count;
  return count;
}

// The hexadecimal or octal integer whose digits start `digits`, up to the first
// character that is no digit of `base`. As the classic reading does, a value that
// fits 16 bits is a 16-bit integer (&HFFFF is -1, &H10000 is 65536) and a larger
// one a 32-bit integer (&HFFFFFFFF is -1). Leading zeros do not widen: &H0000FFFF
// is -1. A value beyond 32 bits is infinite, so that it overflows when rounded.
double RadixInteger(std::string_view digits, int base) {
  std::uint64_t value = 0;
  for (char c : digits) {
    const int digit = DigitValue(c, base);
    if (digit < 0) break;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (value > std::numeric_limits<std::uint32_t>::max()) return std::numeric_limits<double>::infinity();
  }
  if (value <= std::numeric_limits<std::uint16_t>::max()) return static_cast<std::int16_t>(value);
  return static_cast<std::int32_t>(value);
}

// The exponent at the start of `text`: a letter E or D (either case), an optional
// sign and digits; 0 when there is none. Saturates far beyond any exponent that
// could matter.
std::int64_t ExponentAt(std::string_view text) {
  if (text.empty() || std::string_view("EeDd").find(text[0]) == std::string_view::npos) return 0;
  text.remove_prefix(1);
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
  constexpr std::int64_t kSaturation = std::int64_t{1} << 50;
  std::int64_t exponent = 0;
  for (char c : text.substr(0, DigitCount(text))) exponent = std::min(exponent * 10 + (c - '0'), kSaturation);
  return negative ? -exponent : exponent;
}

// The leading decimal number of `text`: an optional sign, digits, an optional "."
// with digits, an optional exponent. Parsed with std::from_chars, so the value is
// the double nearest to the digits (a half stays exactly a half) whatever the
// locale. Magnitudes from 1e10 on read as infinite and those below 0.1 as 0: no
// 32-bit integer lies there, and from_chars then never meets an exponent beyond
// its range.
double LeadingDecimal(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
  const std::string_view integer = text.substr(0, DigitCount(text));
  text.remove_prefix(integer.size());
  std::string_view fraction;
  if (!text.empty() && text[0] == '.') {
    fraction = text.substr(1, DigitCount(text.substr(1)));
    text.remove_prefix(1 + fraction.size());
  }
  if (integer.empty() && fraction.empty()) return 0;
  const std::int64_t exponent = ExponentAt(text);

  // The power of ten of the first significant digit; with none the value is 0.
  std::int64_t magnitude = exponent;
  const std::size_t firstInInteger = integer.find_first_not_of('0');
  const std::size_t firstInFraction = fraction.find_first_not_of('0');
  if (firstInInteger != std::string_view::npos) {
    magnitude += static_cast<std::int64_t>(integer.size() - firstInInteger) - 1;
  } else if (firstInFraction != std::string_view::npos) {
    magnitude -= static_cast<std::int64_t>(firstInFraction) + 1;
  } else {
    return 0;
  }
  if (magnitude < -1) return 0;
  const double sign = negative ? -1.0 : 1.0;
  if (magnitude >= 10) return sign * std::numeric_limits<double>::infinity();

  std::string cleaned = integer.empty() ? std::string("0") : std::string(integer);
  cleaned += '.';
  cleaned += fraction.empty() ? std::string_view("0") : fraction;
  cleaned += 'e';
  cleaned += std::to_string(exponent);
  double value = 0;
  std::from_chars(cleaned.data(), cleaned.data() + cleaned.size(), value);
  return sign * value;
}

// The leading number of `text` as the classic BASIC reading takes it: blanks, tabs
// and line feeds are skipped wherever they stand; "&H" or "&O" (either case) first
// marks a hexadecimal or octal integer, anything else a decimal number. 0 when the
// text starts with no number.
double LeadingNumber(std::string_view text) {
  std::string compact;
  for (char c : text) {
    if (!IsSkippedInNumbers(c)) compact += c;
  }
  const std::string_view number = compact;
  if (number.size() >= 2 && number[0] == '&') {
    if (number[1] == 'H' || number[1] == 'h') return RadixInteger(number.substr(2), 16);
    if (number[1] == 'O' || number[1] == 'o') return RadixInteger(number.substr(2), 8);
  }
  return LeadingDecimal(number);
}

}  // namespace

std::string MapNameOf(std::string_view record) {
  const std::string_view head = record.substr(0, MAP_NAME_LEN);
  const std::size_t first = head.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = head.find_last_not_of(' ');
  return std::string(head.substr(first, last - first + 1));
}

std::string MapsFolderPath(std::string_view entry) {
  std::string path = kMapsFolder;
  path += '\\';
  path += entry;
  return path;
}

std::string MapFileName(std::int32_t number, std::string_view name) {
  std::string entry = "Map #";
  entry += std::to_string(number);
  entry += " - ";
  entry += name;
  entry += ".map4";
  return MapsFolderPath(entry);
}

std::string SanitizedMapName(std::string_view name) {
  std::string sanitized(name);
  for (char& c : sanitized) {
    if (kUnusableInFileNames.find(c) != std::string_view::npos) c = '_';
  }
  return sanitized;
}

std::int32_t MapNumberFromFileName(std::string_view fileName) {
  // The first five characters ("Map #") are passed over.
  constexpr std::size_t kNumberStart = 5;
  const std::size_t blank = fileName.find(' ', kNumberStart);
  if (blank == std::string_view::npos) return 0;
  return RoundToInt32(LeadingNumber(fileName.substr(kNumberStart, blank + 1)));
}

}  // namespace corvald
