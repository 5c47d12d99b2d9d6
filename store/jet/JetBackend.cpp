// A Jet database as Database sees it: the file read through libmdb, and
// rewritten whole when it is compacted or written.
#include "store/engine/Backend.h"
#include "store/jet/JetDatabase.h"

namespace corvald::engine::detail {

namespace {

class JetBackend final : public Backend {
 public:
  explicit JetBackend(std::shared_ptr<jet::File> file) : file_(std::move(file)) {}

  std::optional<std::string> TableName(std::string_view nameUtf8) const override {
    return jet::TableName(*file_, nameUtf8);
  }
  std::unique_ptr<RowSource> OpenRows(const std::string& table) override {
    return jet::OpenRows(file_, table);
  }
  std::optional<std::string> WhyNotUpdatable() const override { return jet::WhyNotWritten(*file_); }

  // Opened for writing, the file was checked for other programs' locks;
  // nothing else takes one.
  void HoldForCompaction() override {}

  // A file whose owner this process may not give the new file stays as it is.
  void Compact() override { jet::Compact(*file_); }

  void FinishWriting() override { jet::FinishWriting(*file_); }

 private:
  std::shared_ptr<jet::File> file_;
};

}  // namespace

std::shared_ptr<Backend> OpenJetBackend(std::string_view name, std::string_view password, bool readOnly) {
  return std::make_shared<JetBackend>(jet::Open(name, password, readOnly));
}

}  // namespace corvald::engine::detail
