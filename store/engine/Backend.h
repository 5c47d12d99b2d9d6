#pragma once

// What an open database reads and writes through, one kind for each file
// format that "server.dat" may have, and the one place that tells the formats
// apart.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "store/engine/RowSource.h"

namespace corvald::engine::detail {

// The operations of Database (store/Engine.h) on one file format.
class Backend {
 public:
  virtual ~Backend() = default;

  // The table called `nameUtf8` as the file spells its name, found without
  // regard to case, or nothing.
  virtual std::optional<std::string> TableName(std::string_view nameUtf8) const = 0;
  // The rows of a table that TableName named.
  virtual std::unique_ptr<RowSource> OpenRows(const std::string& table) = 0;
  virtual std::optional<std::string> WhyNotUpdatable() const = 0;
  virtual void HoldForCompaction() = 0;
  virtual void Compact() = 0;
  virtual void FinishWriting() = 0;
};

// Opens the file `name` (a program path) as the format its first bytes show:
// an Access header makes it a Jet database (an Access format other than Jet 3
// and Jet 4 fails with 3170), anything else, a file that cannot be read
// included, a SQLCipher one.
std::shared_ptr<Backend> OpenBackend(std::string_view name, std::string_view password, bool readOnly);

// Each format opened as OpenKeyed (Open.h) and jet::Open (jet/JetDatabase.h) open it.
std::shared_ptr<Backend> OpenSqlBackend(std::string_view name, std::string_view password, bool readOnly);
std::shared_ptr<Backend> OpenJetBackend(std::string_view name, std::string_view password, bool readOnly);

}  // namespace corvald::engine::detail
