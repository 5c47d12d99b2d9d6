#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/Failure.h"
#include "platform/FileErrors.h"
#include "platform/Files.h"

namespace corvald {

namespace {

// Opens an ordinary file and tells its size. A named pipe or device fails
// with 75 rather than waiting for another program; nothing is done to what is
// not a plain file.
int OpenNative(std::string_view path, int flags, off_t& size) {
  const std::filesystem::path native = NativePath(path);
  const int fd = open(native.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) RaiseFileError(errno, native);
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    Raise(err::kPathFileAccess);
  }
  size = info.st_size;
  return fd;
}

}  // namespace

BinaryFile BinaryFile::OpenForWriting(std::string_view path) {
  // A symbolic link fails with 75 too: what is written lands in this file, not
  // wherever a link points.
  off_t size = 0;
  BinaryFile file(OpenNative(path, O_WRONLY | O_CREAT | O_NOFOLLOW, size));
  // Only a file with content is emptied: some file systems flush a file that
  // was truncated when it closes, which a new file need not pay for.
  if (size > 0 && ftruncate(file.fd_, 0) != 0) RaiseFileError(errno, {});
  return file;
}

BinaryFile BinaryFile::OpenForReading(std::string_view path) {
  off_t size = 0;
  return BinaryFile(OpenNative(path, O_RDONLY, size));
}

BinaryFile::BinaryFile(BinaryFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

BinaryFile::~BinaryFile() {
  if (fd_ >= 0) close(fd_);
}

void BinaryFile::Write(std::string_view bytes) {
  if (fd_ < 0) Raise(err::kBadFileName);
  while (!bytes.empty()) {
    const ssize_t written = write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(errno, {});
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::int64_t BinaryFile::Length() const {
  struct stat info {};
  if (fd_ < 0) Raise(err::kBadFileName);
  if (fstat(fd_, &info) != 0) RaiseFileError(errno, {});
  return info.st_size;
}

std::string BinaryFile::ReadAll() {
  std::string bytes(static_cast<std::size_t>(Length()), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
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

void BinaryFile::Close() {
  if (fd_ < 0) return;
  const int fd = std::exchange(fd_, -1);
  if (close(fd) != 0 && errno != EINTR) RaiseFileError(errno, {});
}

}  // namespace corvald
