// The ways of renaming a file without replacing another, and the choice among them.

#include "platform/RenameNoReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace corvald::detail {

namespace {

// Whether a failure says that the file system lacks the operation rather than
// that this rename cannot be done.
bool Unsupported(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP; }

}  // namespace

int RenameByNoReplaceFlag(const std::filesystem::path& from, const std::filesystem::path& to) {
  return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

int RenameByLink(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (link(from.c_str(), to.c_str()) != 0) return errno;
  if (unlink(from.c_str()) == 0) return 0;
  const int error = errno;
  unlink(to.c_str());
  return error;
}

int RenameAfterCheck(const std::filesystem::path& from, const std::filesystem::path& to) {
  struct stat info {};
  if (lstat(to.c_str(), &info) == 0) return EEXIST;
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int RenameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  const int flagged = RenameByNoReplaceFlag(from, to);
  if (!Unsupported(flagged)) return flagged;
  const int linked = RenameByLink(from, to);
  if (linked != EPERM && linked != ENOTSUP) return linked;
  return RenameAfterCheck(from, to);
}

}  // namespace corvald::detail
