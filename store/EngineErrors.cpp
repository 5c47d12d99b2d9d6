#include "store/EngineErrors.h"

#include "platform/Failure.h"

namespace corvald::engine {

namespace {

std::string_view DescriptionTemplate(int number) {
  switch (number) {
    case err::kEngineError:
      return "Database engine error: |";
    case err::kInvalidArgument:
      return "Invalid argument: |.";
    case err::kNotAnIndex:
      return "'|' is not an index of this table.";
    case err::kNoCurrentIndex:
      return "Seek needs a current index; none is set.";
    case err::kUpdateWithoutAddNewOrEdit:
      return "Update without AddNew or Edit.";
    case err::kNoCurrentRecord:
      return "No current record.";
    case err::kFileNotFound:
      return "Could not find the database file '|'.";
    case err::kReadOnly:
      return "Cannot update: the database '|' is open read-only.";
    case err::kWrongPassword:
      return "Wrong password for the database '|'.";
    case err::kDamaged:
      return "The database '|' is damaged.";
    case err::kCannotOpen:
      return "Cannot open the database file '|': it is not an ordinary file or access is denied.";
    case err::kRecordDeleted:
      return "The record has been deleted.";
    case err::kOtherAccessFormat:
      return "The file '|' is an Access database of a later format, which this program does not read.";
    case err::kDatabaseExists:
      return "The database '|' already exists.";
    case err::kNotSupported:
      return "Operation is not supported for this type of object.";
    case err::kLocked:
      return "The database '|' is locked by another user.";
    case err::kItemNotFound:
      return "Item '|' not found in this collection.";
    case err::kNotADatabase:
      return "The file '|' is not a password-protected database.";
    case err::kObjectClosed:
      return "The object is closed.";
    default:
      return "Database engine failure |.";
  }
}

}  // namespace

std::string EngineDescription(int number, std::string_view item) {
  std::string description;
  for (char c : DescriptionTemplate(number)) {
    if (c == '|') {
      description += item;
    } else {
      description += c;
    }
  }
  return description;
}

void RaiseEngine(int number, std::string_view item) {
  throw Failure(number, EngineDescription(number, item));
}

}  // namespace corvald::engine
