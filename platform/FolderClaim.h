#pragma once

// A claim on a folder that the programs which ask for one honour between them:
// one holder at a time (flock on the folder itself, so no file is left behind).

#include <chrono>
#include <filesystem>
#include <optional>

#include "platform/Descriptor.h"

namespace corvald {

class FolderClaim {
 public:
  // Claims the folder, waiting up to `wait` for another holder to let go;
  // nothing when it stays held or the folder cannot be opened.
  static std::optional<FolderClaim> Take(const std::filesystem::path& folder, std::chrono::milliseconds wait);

 private:
  explicit FolderClaim(Descriptor folder) : folder_(std::move(folder)) {}
  Descriptor folder_;
};

}  // namespace corvald
