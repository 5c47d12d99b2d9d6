// The classic file failure for each errno value of a failed system call.
#include "platform/FileErrors.h"

#include <cerrno>

#include "platform/Failure.h"

namespace corvald {

namespace {

bool FolderOfExists(const std::filesystem::path& native) {
  std::error_code ignored;
  const std::filesystem::path folder = native.parent_path();
  return folder.empty() || std::filesystem::is_directory(folder, ignored);
}

}  // namespace

void RaiseFileError(int error, const std::filesystem::path& native) {
  switch (error) {
    case ENOENT:
      Raise(FolderOfExists(native) ? err::kFileNotFound : err::kPathNotFound);
    case ENOTDIR:
      Raise(err::kPathNotFound);
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      Raise(err::kPermissionDenied);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      Raise(err::kDiskFull);
    case ENAMETOOLONG:
      Raise(err::kBadFileName);
    case ENOMEM:
      Raise(err::kOutOfMemory);
    case EMFILE:
    case ENFILE:
      Raise(err::kTooManyFiles);
    case EIO:
      Raise(err::kDeviceIo);
    case EEXIST:
      Raise(err::kFileAlreadyExists);
    default:
      Raise(err::kPathFileAccess);
  }
}

}  // namespace corvald
