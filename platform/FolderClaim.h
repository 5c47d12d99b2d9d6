#pragma once

// A claim on a folder that the programs which ask for one honour between them:
// one holder at a time (flock on the folder itself, so no file is left behind).

#include <chrono>
#include <filesystem>
#include <optional>

namespace corvald {

class FolderClaim {
 public:
  // Claims the folder, waiting up to `wait` for another holder to let go;
  // nothing when it stays held or the folder cannot be opened.
  static std::optional<FolderClaim> Take(const std::filesystem::path& folder, std::chrono::milliseconds wait);

  FolderClaim(FolderClaim&& other) noexcept;
  FolderClaim& operator=(FolderClaim&& other) noexcept;
  FolderClaim(const FolderClaim&) = delete;
  FolderClaim& operator=(const FolderClaim&) = delete;
  ~FolderClaim();

 private:
  explicit FolderClaim(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace corvald
