#pragma once

// A file read and written at byte offsets, as formats kept in fixed-size pages
// need; failures carry the classic file numbers.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Descriptor.h"

namespace corvald {

class PositionalFile {
 public:
  // An existing ordinary file, through symbolic links, for reading only.
  static PositionalFile OpenForReading(const std::filesystem::path& native);
  // An existing ordinary file, for reading and writing.
  static PositionalFile OpenForUpdate(const std::filesystem::path& native);

  // Up to `size` bytes from `offset`; fewer only at the end of the file.
  std::string ReadAt(std::uint64_t offset, std::size_t size) const;
  void WriteAt(std::uint64_t offset, std::string_view bytes);
  std::uint64_t Size() const;
  void Truncate(std::uint64_t size);
  // Forces the file's content to disk.
  void Sync();

 private:
  explicit PositionalFile(Descriptor fd) : fd_(std::move(fd)) {}
  Descriptor fd_;
};

// Whether another process holds a record lock (fcntl, as Samba and Wine give
// Windows' byte-range locks) on any byte of the file; false for a file that
// does not exist,
// true for one that cannot be read.
bool HasRecordLocks(const std::filesystem::path& native);

}  // namespace corvald
