// The program's folder, folders, deleting and linking files, and directory
// listings by pattern, on program paths.
#include "platform/Files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/AnsiCodePage.h"
#include "platform/Failure.h"
#include "platform/FileErrors.h"
#include "platform/FileReplacement.h"

namespace corvald {

namespace {

// "*" matches any run of characters, "?" any one character.
bool MatchesPattern(std::string_view name, std::string_view pattern) {
  std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++n, ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++, starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1, n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool Counts(const std::filesystem::path& native, EntryKinds kinds) {
  struct stat info {};
  if (stat(native.c_str(), &info) != 0) return false;
  return S_ISREG(info.st_mode) || (kinds == EntryKinds::kFilesAndFolders && S_ISDIR(info.st_mode));
}

}  // namespace

std::filesystem::path ProgramFolder() {
  // The system's link to the running program file carries the folder's name as
  // raw bytes, whatever their encoding.
  const std::filesystem::path self("/proc/self/exe");
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink(self, error);
  if (error) RaiseFileError(error.value(), self);
  return program.parent_path();
}

void SetCurrentFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::current_path(folder, error);
  if (error) RaiseFileError(error.value(), folder);
}

void MkDir(std::string_view path) {
  const std::filesystem::path native = NativePath(path);
  if (mkdir(native.c_str(), 0777) == 0) return;
  if (errno == EEXIST) Raise(err::kPathFileAccess);
  RaiseFileError(errno, native);
}

void Kill(std::string_view path) {
  const std::filesystem::path native = NativePath(path);
  if (unlink(native.c_str()) != 0) RaiseFileError(errno, native);
}

void LinkOrCopy(std::string_view from, std::string_view to) {
  const std::filesystem::path nativeFrom = NativePath(from);
  const std::filesystem::path nativeTo = NativePath(to);
  const int error = LinkOrCopyFile(nativeFrom, nativeTo);
  if (error != 0) RaiseFileError(error, error == EEXIST ? nativeTo : nativeFrom);
}

std::vector<std::string> ListEntries(std::string_view pattern, EntryKinds kinds) {
  const std::size_t cut = pattern.find_last_of("\\/");
  const std::string_view folder =
      cut == std::string_view::npos ? std::string_view(".") : pattern.substr(0, cut);
  const std::string_view namePattern = cut == std::string_view::npos ? pattern : pattern.substr(cut + 1);

  std::vector<std::string> names;
  // A name holding a character that no file name may hold matches nothing.
  if (namePattern.find_first_of("\"<>|:") != std::string_view::npos) return names;
  std::filesystem::path nativeFolder;
  try {
    nativeFolder = NativePath(folder.empty() ? std::string_view(".") : folder);
  } catch (const Failure&) {
    return names;
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(nativeFolder.c_str()), closedir);
  if (!dir) return names;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view nativeName = entry->d_name;
    if (nativeName.front() == '.') continue;
    // A name that a Windows program wrote in the code page's bytes is taken as
    // it stands; NativePath finds it again under those bytes.
    std::string name = IsUtf8(nativeName) ? Utf8ToAnsi(nativeName) : std::string(nativeName);
    if (MatchesPattern(name, namePattern) && Counts(nativeFolder / nativeName, kinds)) {
      names.push_back(std::move(name));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace corvald
