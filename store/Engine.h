#pragma once

// The database engine that holds "server.dat": a small DAO-like object model
// (engine, workspace, database, table definition, table-type recordset) over an
// encrypted SQLite database, or over a Jet database, rewritten whole when it is
// written. File names are program paths (ANSI byte strings relative to the
// current directory); every failure is a corvald::Failure with a number of
// platform/Failure.h.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace corvald::engine {

// A field value: Null, an integer, a floating-point number, or text/blob bytes
// (a byte string in the ANSI code page).
using Value = std::variant<std::monostate, std::int64_t, double, std::string>;

// A value as a 32-bit integer: Null fails with 94, a value out of range with 6,
// text that is not a number with 13. Fractions round half to even.
std::int32_t ToLong(const Value& value);

// A value as text: Null fails with 94; bytes come back unchanged; numbers in
// their shortest decimal form.
std::string ToText(const Value& value);

namespace detail {
class Backend;
class RowSource;
}  // namespace detail

// A table-type recordset: walks the table's rows in the order of its current
// index (the index's columns, then the order in which rows were added), live, so
// that it sees the rows it added itself. Each Update is its own committed
// transaction.
class Recordset {
 public:
  explicit Recordset(std::unique_ptr<detail::RowSource> rows);
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // True before the first row / after the last one; both for an empty table.
  bool Bof() const;
  bool Eof() const;
  void MoveFirst();
  void MoveNext();

  // A field of the current row, or of the row being added or edited; the
  // reference holds until the recordset moves or changes.
  const Value& Field(std::string_view name) const;
  // The same value, moved out of the current row, so that a large value is
  // handed on without a copy; asking for the field again reads it anew.
  Value TakeField(std::string_view name);
  // Sets a field of the row being added or edited.
  void SetField(std::string_view name, Value value);

  // The exact number of rows in the table.
  std::int32_t RecordCount() const;

  // Makes the named index of the table current and moves to its first row. The
  // index must order by one column, ascending (3000 otherwise).
  void SetIndex(std::string_view name);
  // Finds the first row, in index order, whose first index column equals the key.
  // Precondition: the comparison is "=", the only one supported.
  void Seek(std::string_view comparison, std::int32_t key);
  bool NoMatch() const;

  void AddNew();
  void Edit();
  // Saves the row being added or edited. Precondition: type 1 (regular).
  void Update(int type = 1, bool force = false);
  void Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class TableDef {
 public:
  // `openRows` gives the rows of a new recordset.
  explicit TableDef(std::function<std::unique_ptr<detail::RowSource>()> openRows);
  // Precondition: type 1 (table), the only one supported.
  std::shared_ptr<Recordset> OpenRecordset(std::int32_t type);

 private:
  std::function<std::unique_ptr<detail::RowSource>()> openRows_;
};

// An open database, SQLCipher or Jet; the file closes when the database, its
// table definitions and their recordsets are all gone.
class Database {
 public:
  explicit Database(std::shared_ptr<detail::Backend> backend);
  std::shared_ptr<TableDef> TableDefs(std::string_view name);
  // Why the engine does not write this database (a Jet database of a form
  // its writer does not know, or one opened read-only), completing "this
  // program does not write it:"; nothing when it writes it.
  std::optional<std::string> WhyNotUpdatable() const;

  // Compaction in place, by the one program that has the database open for
  // writing, in two steps. HoldForCompaction keeps every other program from
  // the database until Compact is done: a SQLCipher database is settled and
  // locked (a database that another program keeps fails with 3260, and no file
  // changes); a Jet database was checked for other programs' locks when it was
  // opened. Compact then rewrites the file compacted under its name, and the
  // database reads the new file; a file that this process may not give the
  // new file's owner and group stays as it is, uncompacted. Only for a
  // database that the engine writes.
  void HoldForCompaction();
  void Compact();

  // After the last write of a command: the file alone holds every row, in
  // rollback-journal mode, with no side file (see Connection::FinishWriting);
  // a Jet database rewritten with them has replaced the old file.
  void FinishWriting();

 private:
  std::shared_ptr<detail::Backend> backend_;
};

class Workspace {
 public:
  // Opens shared, read-write or read-only. Precondition: options 0 (shared).
  // The connect string ";pwd=<password>" gives the database password. A Jet
  // database is told by its content; another Access format fails with 3170.
  std::shared_ptr<Database> OpenDatabase(std::string_view name, std::int16_t options, bool readOnly,
                                         std::string_view connect);
};

class DBEngine {
 public:
  // The default workspace. Precondition: index 0.
  std::shared_ptr<Workspace> Workspaces(std::int16_t index);

 private:
  std::shared_ptr<Workspace> defaultWorkspace_;
};

// The engine, created on first use; it lives for the run.
DBEngine& Engine();

}  // namespace corvald::engine
