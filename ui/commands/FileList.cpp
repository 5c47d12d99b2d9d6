// Enumerating a folder as the main window's file list does.
#include "ui/commands/FileList.h"

#include <algorithm>
#include <filesystem>

#include "platform/FileErrors.h"
#include "platform/Files.h"

namespace corvald {

namespace {

unsigned char FoldedCase(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

// Letters compared without their case first; only names equal that way fall
// back to their bytes.
bool ComesBefore(std::string_view a, std::string_view b) {
  const auto folded = std::mismatch(a.begin(), a.end(), b.begin(), b.end(),
                                    [](char x, char y) { return FoldedCase(x) == FoldedCase(y); });
  if (folded.first != a.end() && folded.second != b.end()) {
    return FoldedCase(*folded.first) < FoldedCase(*folded.second);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

// The listing of a folder that cannot be opened would just be empty; the file
// list needs the reason instead.
void CheckFolderOpens(std::string_view folder) {
  const std::filesystem::path native = NativePath(folder);
  std::error_code error;
  std::filesystem::directory_iterator probe(native, error);
  if (error) RaiseFileError(error.value(), native);
}

}  // namespace

std::vector<std::string> FileListOf(std::string_view folder) {
  CheckFolderOpens(folder);
  std::vector<std::string> names = ListEntries(std::string(folder) + "\\*", EntryKinds::kFiles);
  std::sort(names.begin(), names.end(), ComesBefore);
  return names;
}

}  // namespace corvald
