#pragma once

// The one owner of an open file descriptor, which closes it when it goes away
// and hands it on only by moving, and what the file classes do alike with one.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

namespace corvald {

class Descriptor {
 public:
  Descriptor() = default;
  // Takes over `fd`; a negative one stands for none.
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor();

  int Get() const noexcept { return fd_; }
  bool IsOpen() const noexcept { return fd_ >= 0; }
  // Closes the descriptor now: 0, or the errno value of the close that
  // failed (EINTR counts as closed). Nothing happens when none is open.
  int Close() noexcept;

 private:
  int fd_ = -1;
};

// Opens `native` with the flags of open(2) (O_CLOEXEC added; a file created
// gets mode 0666 less the umask). A failed open raises its file failure;
// anything but an ordinary file, once open, fails with 75 and is left as it
// is. `size` gets the file's size.
Descriptor OpenOrdinaryFile(const std::filesystem::path& native, int flags, std::uint64_t& size);

// Up to `size` bytes of the file from `offset`; fewer only at its end.
std::string ReadAt(const Descriptor& file, std::uint64_t offset, std::size_t size);

}  // namespace corvald
