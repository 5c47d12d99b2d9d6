#include "platform/Failure.h"

namespace corvald {

std::string StandardDescription(int number) {
  switch (number) {
    case err::kOverflow:
      return "Overflow";
    case err::kOutOfMemory:
      return "Out of memory";
    case err::kSubscriptOutOfRange:
      return "Subscript out of range";
    case err::kTypeMismatch:
      return "Type mismatch";
    case err::kInternal:
      return "Internal error";
    case err::kBadFileName:
      return "Bad file name or number";
    case err::kFileNotFound:
      return "File not found";
    case err::kDeviceIo:
      return "Device I/O error";
    case err::kFileAlreadyExists:
      return "File already exists";
    case err::kDiskFull:
      return "Disk full";
    case err::kTooManyFiles:
      return "Too many files";
    case err::kPermissionDenied:
      return "Permission denied";
    case err::kPathFileAccess:
      return "Path/File access error";
    case err::kPathNotFound:
      return "Path not found";
    case err::kInvalidUseOfNull:
      return "Invalid use of Null";
    default:
      return "Application-defined or object-defined error";
  }
}

void Raise(int number) { throw Failure(number, StandardDescription(number)); }

}  // namespace corvald
