#include <cstring>

#include "platform/AnsiCodePage.h"
#include "platform/Failure.h"
#include "platform/Files.h"

namespace corvald {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsForbiddenInName(unsigned char c) { return c < 0x20 || std::strchr("\"*:<>?|", c) != nullptr; }

}  // namespace

std::filesystem::path NativePath(std::string_view path) {
  if (path.empty() || IsSeparator(path.front())) Raise(err::kBadFileName);
  std::filesystem::path native;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::string_view part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    // Nothing the program builds may reach outside its folder.
    if (part == "..") Raise(err::kBadFileName);
    for (unsigned char c : part) {
      if (IsForbiddenInName(c)) Raise(err::kBadFileName);
    }
    native /= AnsiToUtf8(part);
  }
  return native.empty() ? std::filesystem::path(".") : native;
}

}  // namespace corvald
