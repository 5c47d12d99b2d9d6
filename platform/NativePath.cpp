// Program paths turned into native ones, under Windows' file-name rules.
#include <cstring>

#include "platform/AnsiCodePage.h"
#include "platform/Failure.h"
#include "platform/Files.h"

namespace corvald {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsForbiddenInName(unsigned char c) { return c < 0x20 || std::strchr("\"*:<>?|", c) != nullptr; }

bool Exists(const std::filesystem::path& native) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(native, error));
}

// The native name of one part of a program path inside `folder`: its UTF-8
// form, or, for a file that a Windows program named in the code page's bytes,
// those bytes where only they exist.
std::filesystem::path NativeName(const std::filesystem::path& folder, std::string_view part) {
  std::string utf8 = AnsiToUtf8(part);
  if (!IsUtf8(part) && !Exists(folder / utf8) && Exists(folder / std::string(part))) return std::string(part);
  return utf8;
}

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
    native /= NativeName(native.empty() ? std::filesystem::path(".") : native, part);
  }
  return native.empty() ? std::filesystem::path(".") : native;
}

}  // namespace corvald
