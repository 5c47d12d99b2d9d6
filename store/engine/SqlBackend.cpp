// A SQLCipher database as Database sees it: its tables and rows through one
// connection, which a compaction trades for a connection to the new file.
#include <cassert>

#include "store/engine/Backend.h"
#include "store/engine/Compaction.h"
#include "store/engine/Open.h"
#include "store/engine/TableShape.h"

namespace corvald::engine::detail {

namespace {

class SqlBackend final : public Backend {
 public:
  SqlBackend(std::shared_ptr<Connection> connection, std::string password)
      : connection_(std::move(connection)), password_(std::move(password)) {}

  std::optional<std::string> TableName(std::string_view nameUtf8) const override {
    return ExistingTableName(*connection_, nameUtf8);
  }
  std::unique_ptr<RowSource> OpenRows(const std::string& table) override {
    return OpenSqlRows(connection_, table);
  }
  std::optional<std::string> WhyNotUpdatable() const override { return std::nullopt; }

  void HoldForCompaction() override {
    SettleAndLock(*connection_);
    held_ = true;
  }

  void Compact() override {
    assert(held_);
    held_ = false;
    std::shared_ptr<Connection> locked = std::move(connection_);
    const std::string name = locked->FileName();
    // The compacted file is opened while the lock still holds the key, which
    // the copy shares; a file left as it was, once the lock is gone.
    if (!CompactInPlace(*locked)) locked.reset();
    connection_ = OpenKeyed(name, password_, false);
  }

  void FinishWriting() override { connection_->FinishWriting(); }

 private:
  std::shared_ptr<Connection> connection_;
  std::string password_;
  bool held_ = false;
};

}  // namespace

std::shared_ptr<Backend> OpenSqlBackend(std::string_view name, std::string_view password, bool readOnly) {
  return std::make_shared<SqlBackend>(OpenKeyed(name, password, readOnly), std::string(password));
}

}  // namespace corvald::engine::detail
