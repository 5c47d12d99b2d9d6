// Side files: the rewritten copy of a database, which takes the database's
// name only once it is complete and on disk.
#include "store/engine/SideFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "platform/Failure.h"
#include "platform/FileReplacement.h"

namespace corvald::engine {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSideInfix = ".compacting.";

[[noreturn]] void RaiseSystem(int error, const fs::path& file) {
  Raise(err::kEngineError, std::string(std::strerror(error)) + " (" + file.filename().string() + ")");
}

void Check(int error, const fs::path& file) {
  if (error != 0) RaiseSystem(error, file);
}

}  // namespace

void RemoveAbandonedSideFiles(const fs::path& file) {
  const std::string prefix = file.filename().string() + std::string(kSideInfix);
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(file.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(prefix) && entry.is_regular_file(error)) fs::remove(entry.path(), error);
  }
}

fs::path CreateSideFile(const fs::path& file, std::string_view name, bool& ownerGiven) {
  // The exclusive create makes the name this call's alone, and a random name
  // is one no other program expects.
  std::random_device entropy;
  fs::path side;
  for (int attempt = 0; side.empty() && attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(entropy()));
    fs::path candidate = file;
    candidate += std::string(kSideInfix) + suffix;
    // For this process alone until it is complete.
    const int error = CreateNewFile(candidate, 0600);
    if (error == 0) side = candidate;
    if (error != 0 && error != EEXIST) break;
  }
  if (side.empty()) Raise(err::kCannotOpen, name);
  // Ownership first, while the file is empty: set-user and set-group bits go
  // with it, and the mode comes once it is written.
  const int error = TakeOwner(side, file);
  ownerGiven = error == 0;
  if (error != 0) {
    std::error_code ignored;
    fs::remove(side, ignored);
    if (error != EPERM) RaiseSystem(error, side);
    return {};
  }
  return side;
}

void ReplaceWithSideFile(const fs::path& side, const fs::path& file) {
  try {
    Check(TakeMode(side, file), side);
    Check(SyncToDisk(side), side);
    Check(ReplaceFile(side, file), file);
  } catch (...) {
    std::error_code ignored;
    fs::remove(side, ignored);
    throw;
  }
  // So that the rename lasts.
  Check(SyncToDisk(file.parent_path().empty() ? fs::path(".") : file.parent_path()), file.parent_path());
}

}  // namespace corvald::engine
