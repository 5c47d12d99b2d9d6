// A map file opened for raw binary reading or writing, with the classic file
// failures.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Failure.h"
#include "platform/FileErrors.h"
#include "platform/Files.h"

namespace corvald {

namespace {

// An ordinary file that a program path names. A named pipe or device fails
// with 75 rather than waiting for another program; nothing is done to what is
// not a plain file.
Descriptor OpenNative(std::string_view path, int flags, std::uint64_t& size) {
  return OpenOrdinaryFile(NativePath(path), flags | O_NONBLOCK, size);
}

}  // namespace

BinaryFile BinaryFile::OpenForWriting(std::string_view path) {
  // A symbolic link fails with 75 too: what is written lands in this file, not
  // wherever a link points.
  std::uint64_t size = 0;
  BinaryFile file(OpenNative(path, O_WRONLY | O_CREAT | O_NOFOLLOW, size));
  // Only a file with content is emptied: some file systems flush a file that
  // was truncated when it closes, which a new file need not pay for.
  if (size > 0 && ftruncate(file.fd_.Get(), 0) != 0) RaiseFileError(errno, {});
  return file;
}

BinaryFile BinaryFile::OpenForReading(std::string_view path) {
  std::uint64_t size = 0;
  return BinaryFile(OpenNative(path, O_RDONLY, size));
}

void BinaryFile::Write(std::string_view bytes) {
  if (!fd_.IsOpen()) Raise(err::kBadFileName);
  while (!bytes.empty()) {
    const ssize_t written = write(fd_.Get(), bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(errno, {});
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::int64_t BinaryFile::Length() const {
  struct stat info {};
  if (!fd_.IsOpen()) Raise(err::kBadFileName);
  if (fstat(fd_.Get(), &info) != 0) RaiseFileError(errno, {});
  return info.st_size;
}

std::string BinaryFile::ReadAll() { return ReadAt(fd_, 0, static_cast<std::size_t>(Length())); }

void BinaryFile::Close() {
  if (const int error = fd_.Close(); error != 0) RaiseFileError(error, {});
}

}  // namespace corvald
