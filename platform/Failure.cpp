// The table of failure numbers and their descriptions, and the one way an
// exception becomes a number and a description.
#include "platform/Failure.h"

#include <new>

namespace corvald {

namespace {

struct Entry {
  int number;
  // "|" stands for the item the failure is about.
  std::string_view description;
};

constexpr Entry kTable[] = {
    {err::kOverflow, "Overflow"},
    {err::kOutOfMemory, "Out of memory"},
    {err::kSubscriptOutOfRange, "Subscript out of range"},
    {err::kTypeMismatch, "Type mismatch"},
    {err::kInternal, "Internal error"},
    {err::kBadFileName, "Bad file name or number"},
    {err::kFileNotFound, "File not found"},
    {err::kDeviceIo, "Device I/O error"},
    {err::kFileAlreadyExists, "File already exists"},
    {err::kDiskFull, "Disk full"},
    {err::kTooManyFiles, "Too many files"},
    {err::kPermissionDenied, "Permission denied"},
    {err::kPathFileAccess, "Path/File access error"},
    {err::kPathNotFound, "Path not found"},
    {err::kInvalidUseOfNull, "Invalid use of Null"},
    {err::kDamagedMapData, "The map data is damaged"},
    {err::kEngineError, "Database engine error: |"},
    {err::kNotAnIndex, "'|' is not an index of this table."},
    {err::kNoCurrentIndex, "Seek needs a current index; none is set."},
    {err::kUpdateWithoutAddNewOrEdit, "Update without AddNew or Edit."},
    {err::kNoCurrentRecord, "No current record."},
    {err::kDatabaseNotFound, "Could not find the database file '|'."},
    {err::kReadOnly, "Cannot update: the database '|' is open read-only."},
    {err::kWrongPassword, "Wrong password for the database '|'."},
    {err::kDamaged, "The database '|' is damaged."},
    {err::kCannotOpen, "Cannot open the database file '|': it is not an ordinary file or access is denied."},
    {err::kRecordDeleted, "The record has been deleted."},
    {err::kOtherAccessFormat,
     "The file '|' is an Access database of a later format, which this program does not read."},
    {err::kNotSupported, "Operation is not supported for this type of object."},
    {err::kLocked, "The database '|' is locked by another user."},
    {err::kItemNotFound, "Item '|' not found in this collection."},
    {err::kNotADatabase, "The file '|' is not a password-protected database."},
    {err::kObjectClosed, "The object is closed."},
};

std::string_view DescriptionTemplate(int number) {
  for (const Entry& entry : kTable) {
    if (entry.number == number) return entry.description;
  }
  return "Application-defined or object-defined error";
}

}  // namespace

std::string StandardDescription(int number, std::string_view item) {
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

void Raise(int number, std::string_view item) { throw Failure(number, StandardDescription(number, item)); }

NumberedFailure CurrentFailure() {
  try {
    throw;
  } catch (const Failure& failure) {
    return {failure.Number(), failure.Description()};
  } catch (const std::bad_alloc&) {
    return {err::kOutOfMemory, StandardDescription(err::kOutOfMemory)};
  } catch (const std::exception& error) {
    return {err::kInternal, error.what()};
  } catch (...) {
    return {err::kInternal, StandardDescription(err::kInternal)};
  }
}

}  // namespace corvald
