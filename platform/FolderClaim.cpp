// Claims on folders through flock.
#include "platform/FolderClaim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <thread>
#include <utility>

namespace corvald {

std::optional<FolderClaim> FolderClaim::Take(const std::filesystem::path& folder,
                                             std::chrono::milliseconds wait) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      close(fd);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return FolderClaim(fd);
}

FolderClaim::FolderClaim(FolderClaim&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderClaim& FolderClaim::operator=(FolderClaim&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FolderClaim::~FolderClaim() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace corvald
