#pragma once

#include <string>
#include <string_view>

namespace corvald::engine {

// Failures of the database engine layer. Each number has a description of its
// own; "|" in it stands for the item the failure is about (a file, a name, or the
// message of the underlying library).
namespace err {
inline constexpr int kEngineError = 3000;
inline constexpr int kInvalidArgument = 3001;
inline constexpr int kNotAnIndex = 3015;
inline constexpr int kNoCurrentIndex = 3019;
inline constexpr int kUpdateWithoutAddNewOrEdit = 3020;
inline constexpr int kNoCurrentRecord = 3021;
inline constexpr int kFileNotFound = 3024;
inline constexpr int kReadOnly = 3027;
inline constexpr int kWrongPassword = 3031;
inline constexpr int kDamaged = 3049;
inline constexpr int kCannotOpen = 3051;
inline constexpr int kRecordDeleted = 3167;
inline constexpr int kOtherAccessFormat = 3170;
inline constexpr int kDatabaseExists = 3204;
inline constexpr int kNotSupported = 3251;
inline constexpr int kLocked = 3260;
inline constexpr int kItemNotFound = 3265;
inline constexpr int kNotADatabase = 3343;
inline constexpr int kObjectClosed = 3420;
}  // namespace err

// The description of an engine failure, with `item` in place of "|".
std::string EngineDescription(int number, std::string_view item);

// Throws corvald::Failure(number, EngineDescription(number, item)).
[[noreturn]] void RaiseEngine(int number, std::string_view item = {});

}  // namespace corvald::engine
