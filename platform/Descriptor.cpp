// Closing the descriptor that a Descriptor owns, opening ordinary files and
// positional reads.
#include "platform/Descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Failure.h"
#include "platform/FileErrors.h"

namespace corvald {

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Descriptor::~Descriptor() { Close(); }

int Descriptor::Close() noexcept {
  if (fd_ < 0) return 0;
  const int fd = std::exchange(fd_, -1);
  return close(fd) == 0 || errno == EINTR ? 0 : errno;
}

Descriptor OpenOrdinaryFile(const std::filesystem::path& native, int flags, std::uint64_t& size) {
  Descriptor file(open(native.c_str(), flags | O_CLOEXEC, 0666));
  if (!file.IsOpen()) RaiseFileError(errno, native);
  struct stat info {};
  if (fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) Raise(err::kPathFileAccess);
  size = static_cast<std::uint64_t>(info.st_size);
  return file;
}

std::string ReadAt(const Descriptor& file, std::uint64_t offset, std::size_t size) {
  std::string bytes(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got =
        pread(file.Get(), bytes.data() + done, size - done, static_cast<off_t>(offset + done));
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

}  // namespace corvald
