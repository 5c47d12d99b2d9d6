#pragma once

// Renaming a file without ever replacing one that has the new name, in the ways
// that file systems allow it. Each returns 0 on success or the errno value of
// the step that failed (EEXIST when the new name is taken).

#include <filesystem>

namespace corvald::detail {

// The system's own rename that refuses to replace (renameat2 with
// RENAME_NOREPLACE); EINVAL, ENOSYS or ENOTSUP where the file system does not
// offer it.
int RenameByNoReplaceFlag(const std::filesystem::path& from, const std::filesystem::path& to);

// A hard link under the new name, then the old name removed; the link is taken
// back when the old name cannot be removed. EPERM or ENOTSUP where the file
// system has no hard links.
int RenameByLink(const std::filesystem::path& from, const std::filesystem::path& to);

// A check that the new name is free, then a plain rename: for file systems that
// offer neither of the above. Another process may take the name in between.
int RenameAfterCheck(const std::filesystem::path& from, const std::filesystem::path& to);

// The first of the three ways that the file system supports.
int RenameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace corvald::detail
