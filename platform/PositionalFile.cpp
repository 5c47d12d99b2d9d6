// Positional reads and writes through pread and pwrite, and the record-lock
// probe through open file description locks, which see every process's locks.
#include "platform/PositionalFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <utility>

#include "platform/Failure.h"
#include "platform/FileErrors.h"

namespace corvald {

namespace {

int OpenOrdinary(const std::filesystem::path& native, int flags) {
  const int fd = open(native.c_str(), flags | O_CLOEXEC);
  if (fd < 0) RaiseFileError(errno, native);
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    Raise(err::kPathFileAccess);
  }
  return fd;
}

}  // namespace

PositionalFile PositionalFile::OpenForReading(const std::filesystem::path& native) {
  return PositionalFile(OpenOrdinary(native, O_RDONLY));
}

PositionalFile PositionalFile::OpenForUpdate(const std::filesystem::path& native) {
  return PositionalFile(OpenOrdinary(native, O_RDWR));
}

PositionalFile::PositionalFile(PositionalFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

PositionalFile& PositionalFile::operator=(PositionalFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

PositionalFile::~PositionalFile() {
  if (fd_ >= 0) close(fd_);
}

std::string PositionalFile::ReadAt(std::uint64_t offset, std::size_t size) const {
  assert(fd_ >= 0);
  std::string bytes(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = pread(fd_, bytes.data() + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(errno, {});
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  bytes.resize(done);
  return bytes;
}

void PositionalFile::WriteAt(std::uint64_t offset, std::string_view bytes) {
  assert(fd_ >= 0);
  while (!bytes.empty()) {
    const ssize_t written = pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(errno, {});
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
}

std::uint64_t PositionalFile::Size() const {
  assert(fd_ >= 0);
  struct stat info {};
  if (fstat(fd_, &info) != 0) RaiseFileError(errno, {});
  return static_cast<std::uint64_t>(info.st_size);
}

void PositionalFile::Truncate(std::uint64_t size) {
  assert(fd_ >= 0);
  if (ftruncate(fd_, static_cast<off_t>(size)) != 0) RaiseFileError(errno, {});
}

void PositionalFile::Sync() {
  assert(fd_ >= 0);
  if (fsync(fd_) != 0) RaiseFileError(errno, {});
}

bool HasRecordLocks(const std::filesystem::path& native) {
  const int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  // A lock file that cannot be read may well be in use.
  if (fd < 0) return errno != ENOENT;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;  // to the end of every offset, past the file's end too
  const bool locked = fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  close(fd);
  return locked;
}

}  // namespace corvald
