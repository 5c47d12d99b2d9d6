// The rewrite writes new values into the side file as they come; the rows
// themselves, and the values of rows left as they were, follow at the commit.
#include "store/jet/JetRewrite.h"

#include <algorithm>

#include "platform/Failure.h"
#include "platform/Files.h"
#include "store/engine/SideFile.h"

namespace corvald::engine::jet {

namespace fs = std::filesystem;

void CheckNotInUse(std::string_view file) {
  // Jet names its lock file after the database: "server.dat" has "server.ldb".
  fs::path locks = NativePath(file);
  locks.replace_extension(".ldb");
  fs::path behind = fs::weakly_canonical(NativePath(file));
  behind.replace_extension(".ldb");
  if (HasRecordLocks(locks) || HasRecordLocks(behind)) Raise(err::kLocked, file);
}

std::unique_ptr<Rewrite> Rewrite::Start(const fs::path& file, std::string name, WritableMaps maps) {
  RemoveAbandonedSideFiles(file);
  bool ownerGiven = false;
  fs::path side = CreateSideFile(file, name, ownerGiven);
  if (!ownerGiven) return nullptr;
  try {
    return std::unique_ptr<Rewrite>(new Rewrite(file, std::move(side), std::move(name), std::move(maps)));
  } catch (...) {
    std::error_code ignored;
    fs::remove(side, ignored);
    throw;
  }
}

Rewrite::Rewrite(fs::path file, fs::path side, std::string name, WritableMaps maps)
    : file_(std::move(file)),
      side_(std::move(side)),
      name_(std::move(name)),
      maps_(std::move(maps)),
      source_(PositionalFile::OpenForReading(file_)),
      target_(PositionalFile::OpenForUpdate(side_)),
      writer_(source_, name_, maps_.layout, target_) {}

Rewrite::~Rewrite() {
  if (spent_) return;
  std::error_code ignored;
  fs::remove(side_, ignored);
}

std::string Rewrite::AddValue(std::string_view stored) { return writer_.AddValue(stored); }

void Rewrite::Replace(std::uint32_t page, std::size_t row, std::string field) {
  replaced_[{page, row}] = std::move(field);
}

std::size_t Rewrite::Add(std::int32_t number, std::string field) {
  added_.emplace_back(number, std::move(field));
  return added_.size() - 1;
}

void Rewrite::ReplaceAdded(std::size_t added, std::string field) {
  added_.at(added).second = std::move(field);
}

void Rewrite::Commit() {
  assert(!spent_);
  spent_ = true;
  try {
    CheckNotInUse(name_);
    // Index order: Number, then stored order, rows added last.
    struct Item {
      std::int32_t number;
      const StoredRow* stored;
      const std::string* field;
    };
    std::vector<Item> items;
    items.reserve(maps_.rows.size() + added_.size());
    for (const StoredRow& row : maps_.rows) {
      const auto found = replaced_.find({row.page, row.row});
      items.push_back({row.number, &row, found == replaced_.end() ? nullptr : &found->second});
    }
    for (const auto& [number, field] : added_) items.push_back({number, nullptr, &field});
    std::stable_sort(items.begin(), items.end(),
                     [](const Item& a, const Item& b) { return a.number < b.number; });
    for (const Item& item : items) {
      if (item.field != nullptr) {
        writer_.AddRow(item.number, *item.field);
      } else if (item.stored->data) {
        writer_.AddRow(item.number,
                       writer_.AddValue(ReadLongValue(source_, name_, maps_.layout, *item.stored->data)));
      } else {
        writer_.AddRow(item.number, std::nullopt);
      }
    }
    writer_.Finish();
  } catch (...) {
    std::error_code ignored;
    fs::remove(side_, ignored);
    throw;
  }
  ReplaceWithSideFile(side_, file_);
}

}  // namespace corvald::engine::jet
