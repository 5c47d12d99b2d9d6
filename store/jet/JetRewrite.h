#pragma once

// A rewrite of a Jet 4 file under way: the side file it goes into, the values
// written there so far, and the changes to Maps' rows, which the file shows
// once the rewrite is committed.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/PositionalFile.h"
#include "store/jet/JetTable.h"
#include "store/jet/JetWriter.h"

namespace corvald::engine::jet {

class Rewrite {
 public:
  // Starts rewriting `file` (a native path, links followed) whose Maps is
  // `maps`; nothing, with no side file left, where this process may not give
  // the new file the original's owner. Side files that killed rewrites left
  // are removed first.
  static std::unique_ptr<Rewrite> Start(const std::filesystem::path& file, std::string name,
                                        WritableMaps maps);
  ~Rewrite();
  Rewrite(const Rewrite&) = delete;
  Rewrite& operator=(const Rewrite&) = delete;

  // Writes Data's value (stored bytes) to the side file now and returns its field.
  std::string AddValue(std::string_view stored);
  // Gives the stored row at `page`, `row` a new Data field.
  void Replace(std::uint32_t page, std::size_t row, std::string field);
  // Adds a row after the others of its number; returns its place among the
  // added rows, for ReplaceAdded.
  std::size_t Add(std::int32_t number, std::string field);
  void ReplaceAdded(std::size_t added, std::string field);

  // Writes every other row and page, forces the side file to disk and renames
  // it over the file, then syncs the folder. Fails with 3260 where another
  // program holds a lock in the file's lock file, with the file as it was. A
  // failure removes the side file; the rewrite is spent either way.
  void Commit();

 private:
  Rewrite(std::filesystem::path file, std::filesystem::path side, std::string name, WritableMaps maps);

  std::filesystem::path file_, side_;
  std::string name_;
  WritableMaps maps_;
  PositionalFile source_, target_;
  TableWriter writer_;
  std::map<std::pair<std::uint32_t, std::size_t>, std::string> replaced_;
  std::vector<std::pair<std::int32_t, std::string>> added_;
  bool spent_ = false;
};

// Fails with 3260 where another program holds a record lock in the lock file
// that Jet keeps beside `file` (a program path) while it has the file open.
void CheckNotInUse(std::string_view file);

}  // namespace corvald::engine::jet
