// Field values read as numbers and as text, with the classic failures.
#include <charconv>
#include <limits>

#include "platform/Failure.h"
#include "platform/Numbers.h"
#include "store/Engine.h"

namespace corvald::engine {

namespace {

double NumberInText(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  double number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error == std::errc::result_out_of_range) Raise(err::kOverflow);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) Raise(err::kTypeMismatch);
  return number;
}

}  // namespace

std::int32_t ToLong(const Value& value) {
  if (const auto* integer = std::get_if<std::int64_t>(&value)) {
    if (*integer < std::numeric_limits<std::int32_t>::min() ||
        *integer > std::numeric_limits<std::int32_t>::max()) {
      Raise(err::kOverflow);
    }
    return static_cast<std::int32_t>(*integer);
  }
  if (const auto* number = std::get_if<double>(&value)) return RoundToInt32(*number);
  if (const auto* text = std::get_if<std::string>(&value)) return RoundToInt32(NumberInText(*text));
  Raise(err::kInvalidUseOfNull);
}

std::string ToText(const Value& value) {
  if (const auto* integer = std::get_if<std::int64_t>(&value)) return std::to_string(*integer);
  if (const auto* number = std::get_if<double>(&value)) {
    char digits[64];
    const auto result = std::to_chars(digits, digits + sizeof digits, *number);
    return std::string(digits, result.ptr);
  }
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  Raise(err::kInvalidUseOfNull);
}

}  // namespace corvald::engine
