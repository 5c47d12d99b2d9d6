#pragma once

// The system's file errors turned into the program's classic file failures.

#include <filesystem>

namespace corvald {

// Raises the classic file failure for a failed system call on `native`.
// ENOENT is "path not found" when the folder of `native` is missing, else
// "file not found".
[[noreturn]] void RaiseFileError(int error, const std::filesystem::path& native);

}  // namespace corvald
