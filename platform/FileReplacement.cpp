// The system calls behind replacing a file whole.
#include "platform/FileReplacement.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/Descriptor.h"

namespace corvald {

namespace {

// Copies the whole content of `from` into the new file `to`, made with
// `from`'s mode; a partial copy is removed.
int CopyFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  const Descriptor source(open(from.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (!source.IsOpen() || fstat(source.Get(), &info) != 0) return errno;
  const Descriptor target(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777));
  if (!target.IsOpen()) return errno;
  for (off_t done = 0; done < info.st_size;) {
    const ssize_t sent =
        sendfile(target.Get(), source.Get(), &done, static_cast<std::size_t>(info.st_size - done));
    if (sent <= 0) {
      const int error = sent == 0 ? EIO : errno;
      unlink(to.c_str());
      return error;
    }
  }
  return 0;
}

}  // namespace

std::filesystem::path FileBehindLinks(const std::filesystem::path& native) {
  std::error_code error;
  std::filesystem::path target = std::filesystem::canonical(native, error);
  return error ? native : target;
}

int CreateNewFile(const std::filesystem::path& native, unsigned mode) {
  const Descriptor file(open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  return file.IsOpen() ? 0 : errno;
}

int TakeOwner(const std::filesystem::path& copy, const std::filesystem::path& original) {
  struct stat info {};
  if (stat(original.c_str(), &info) != 0) return errno;
  return chown(copy.c_str(), info.st_uid, info.st_gid) == 0 ? 0 : errno;
}

bool MayTakeOwner(const std::filesystem::path& original) {
  struct stat info {};
  if (stat(original.c_str(), &info) != 0 || geteuid() == 0) return true;
  if (info.st_uid != geteuid()) return false;
  if (info.st_gid == getegid()) return true;
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
  const int count = getgroups(static_cast<int>(groups.size()), groups.data());
  groups.resize(static_cast<std::size_t>(std::max(count, 0)));
  return std::ranges::find(groups, info.st_gid) != groups.end();
}

int TakeMode(const std::filesystem::path& copy, const std::filesystem::path& original) {
  struct stat info {};
  if (stat(original.c_str(), &info) != 0) return errno;
  return chmod(copy.c_str(), info.st_mode & 07777) == 0 ? 0 : errno;
}

int SyncToDisk(const std::filesystem::path& native) {
  const Descriptor file(open(native.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.IsOpen()) return errno;
  if (fsync(file.Get()) == 0) return 0;
  const int error = errno;
  return error == EINVAL && std::filesystem::is_directory(native) ? 0 : error;
}

int ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int LinkOrCopyFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  const int error = errno;
  if (error != EXDEV && error != EPERM && error != ENOTSUP && error != EMLINK) return error;
  return CopyFile(from, to);
}

}  // namespace corvald
