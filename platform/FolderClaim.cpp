// Claims on folders through flock.
#include "platform/FolderClaim.h"

#include <fcntl.h>
#include <sys/file.h>

#include <thread>

namespace corvald {

std::optional<FolderClaim> FolderClaim::Take(const std::filesystem::path& folder,
                                             std::chrono::milliseconds wait) {
  Descriptor opened(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.IsOpen()) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (flock(opened.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return FolderClaim(std::move(opened));
}

}  // namespace corvald
