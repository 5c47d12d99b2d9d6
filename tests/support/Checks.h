#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>

#include "platform/Failure.h"

namespace corvald::test {

// The failure number that `action` raises, or 0 when it raises none.
template <typename Action>
int FailureNumberOf(Action&& action) {
  try {
    action();
  } catch (const Failure& failure) {
    return failure.Number();
  }
  return 0;
}

// A file's bytes; empty when it cannot be read.
inline std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The entries of a folder by name with their bytes; a folder stands as "<folder>".
inline std::map<std::string, std::string> FolderFiles(const std::filesystem::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    files[entry.path().filename()] = entry.is_directory() ? "<folder>" : FileBytes(entry.path());
  return files;
}

// Bytes that do not compress, the same for the same seed.
inline std::string RandomBytes(std::size_t size, std::uint32_t seed = 7) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

}  // namespace corvald::test
