#pragma once

// The program's failures and their one table of numbers and descriptions:
// every failure carries a number and a description, so that the reports can
// show both.

#include <stdexcept>
#include <string>
#include <string_view>

namespace corvald {

class Failure : public std::runtime_error {
 public:
  Failure(int number, const std::string& description) : std::runtime_error(description), number_(number) {}

  int Number() const noexcept { return number_; }
  std::string Description() const { return what(); }

 private:
  int number_;
};

// Numbers below 1000 are the classic run-time numbers, 1010 the codec's, and
// those from 3000 on the database engine's.
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
// A blob that zlib finds damaged or that lies outside the blob format.
inline constexpr int kDamagedMapData = 1010;
inline constexpr int kEngineError = 3000;
inline constexpr int kNotAnIndex = 3015;
inline constexpr int kNoCurrentIndex = 3019;
inline constexpr int kUpdateWithoutAddNewOrEdit = 3020;
inline constexpr int kNoCurrentRecord = 3021;
inline constexpr int kDatabaseNotFound = 3024;
inline constexpr int kReadOnly = 3027;
inline constexpr int kWrongPassword = 3031;
inline constexpr int kDamaged = 3049;
inline constexpr int kCannotOpen = 3051;
inline constexpr int kRecordDeleted = 3167;
inline constexpr int kOtherAccessFormat = 3170;
inline constexpr int kNotSupported = 3251;
inline constexpr int kLocked = 3260;
inline constexpr int kItemNotFound = 3265;
inline constexpr int kNotADatabase = 3343;
inline constexpr int kObjectClosed = 3420;
}  // namespace err

// The description of a number above, with `item` (a file, a name, or the
// message of an underlying library) where the failure names what it is about.
std::string StandardDescription(int number, std::string_view item = {});

// Throws Failure(number, StandardDescription(number, item)).
[[noreturn]] void Raise(int number, std::string_view item = {});

// What a report shows of a failure: its number and its description.
struct NumberedFailure {
  int number;
  std::string description;
};

// The number and description of the exception being handled (call it inside a
// catch block): a Failure's own, 7 for memory that ran out, 51 with the text
// of another standard exception, 51 for anything else.
NumberedFailure CurrentFailure();

}  // namespace corvald
