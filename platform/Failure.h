#pragma once

#include <stdexcept>
#include <string>

namespace corvald {

// Every failure in the program carries a number and a description, so that the
// reports can show both. Numbers below 1000 are the classic run-time numbers;
// the database engine uses numbers of its own (store/EngineErrors.h).
class Failure : public std::runtime_error {
 public:
  Failure(int number, const std::string& description) : std::runtime_error(description), number_(number) {}

  int Number() const noexcept { return number_; }
  std::string Description() const { return what(); }

 private:
  int number_;
};

namespace err {
inline constexpr int kOverflow = 6;
inline constexpr int kOutOfMemory = 7;
inline constexpr int kSubscriptOutOfRange = 9;
inline constexpr int kTypeMismatch = 13;
inline constexpr int kInternal = 51;
inline constexpr int kBadFileName = 52;
inline constexpr int kFileNotFound = 53;
inline constexpr int kDeviceIo = 57;
inline constexpr int kFileAlreadyExists = 58;
inline constexpr int kDiskFull = 61;
inline constexpr int kTooManyFiles = 67;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kPathFileAccess = 75;
inline constexpr int kPathNotFound = 76;
inline constexpr int kInvalidUseOfNull = 94;
}  // namespace err

// The classic descriptions of the numbers above.
std::string StandardDescription(int number);

// Throws Failure(number, StandardDescription(number)).
[[noreturn]] void Raise(int number);

}  // namespace corvald
