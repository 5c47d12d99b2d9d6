// Positional reads and writes through pread and pwrite, and the record-lock
// probe through open file description locks, which see every process's locks.
#include "platform/PositionalFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>

#include "platform/FileErrors.h"

namespace corvald {

PositionalFile PositionalFile::OpenForReading(const std::filesystem::path& native) {
  std::uint64_t size = 0;
  return PositionalFile(OpenOrdinaryFile(native, O_RDONLY, size));
}

PositionalFile PositionalFile::OpenForUpdate(const std::filesystem::path& native) {
  std::uint64_t size = 0;
  return PositionalFile(OpenOrdinaryFile(native, O_RDWR, size));
}

std::string PositionalFile::ReadAt(std::uint64_t offset, std::size_t size) const {
  assert(fd_.IsOpen());
  return corvald::ReadAt(fd_, offset, size);
}

void PositionalFile::WriteAt(std::uint64_t offset, std::string_view bytes) {
  assert(fd_.IsOpen());
  while (!bytes.empty()) {
    const ssize_t written = pwrite(fd_.Get(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(errno, {});
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
}

std::uint64_t PositionalFile::Size() const {
  assert(fd_.IsOpen());
  struct stat info {};
  if (fstat(fd_.Get(), &info) != 0) RaiseFileError(errno, {});
  return static_cast<std::uint64_t>(info.st_size);
}

void PositionalFile::Truncate(std::uint64_t size) {
  assert(fd_.IsOpen());
  if (ftruncate(fd_.Get(), static_cast<off_t>(size)) != 0) RaiseFileError(errno, {});
}

void PositionalFile::Sync() {
  assert(fd_.IsOpen());
  if (fsync(fd_.Get()) != 0) RaiseFileError(errno, {});
}

bool HasRecordLocks(const std::filesystem::path& native) {
  const Descriptor file(open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  // A lock file that cannot be read may well be in use.
  if (!file.IsOpen()) return errno != ENOENT;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;  // to the end of every offset, past the file's end too
  return fcntl(file.Get(), F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

}  // namespace corvald
