#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
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

}  // namespace corvald::test
