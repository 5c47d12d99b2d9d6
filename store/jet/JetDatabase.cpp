// Jet databases through libmdb. libmdb follows page numbers and lengths as the
// file gives them and passes over what it cannot read without a word, so the
// file's pages, row counts and long-value chains are checked here first, and
// the catalog is read here with only the fields needed.
#include "store/jet/JetDatabase.h"

// glib first: mdbtools.h includes it inside extern "C", where its C++ templates fail.
#include <glib.h>
#include <mdbtools.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <variant>
#include <vector>

#include "platform/AnsiCodePage.h"
#include "platform/Failure.h"
#include "platform/FileReplacement.h"
#include "platform/Files.h"
#include "store/jet/JetRewrite.h"
#include "store/jet/JetTable.h"
#include "store/jet/JetText.h"
#include "store/modConst.h"

namespace corvald::engine::jet {

namespace {

constexpr std::uint32_t kRowOffsetMask = 0x1FFF;
constexpr std::uint32_t kRowDeleted = 0x4000;
// A long value's header in its row: length and kind, then where its data lies.
constexpr int kLongValueHeader = MDB_MEMO_OVERHEAD;
constexpr std::uint32_t kLongValueInline = 0x80000000;
constexpr std::uint32_t kLongValueOnePage = 0x40000000;
constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFF;

std::uint16_t Le16(std::string_view bytes) {
  assert(bytes.size() >= 2);
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[0]) |
                                    static_cast<unsigned char>(bytes[1]) << 8);
}

std::uint32_t Le32(const unsigned char* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint32_t Le32(std::string_view bytes) {
  assert(bytes.size() >= 4);
  return Le32(reinterpret_cast<const unsigned char*>(bytes.data()));
}

std::string ReadStart(const std::filesystem::path& native, std::size_t size) {
  std::ifstream in(native, std::ios::binary);
  std::string start(size, '\0');
  in.read(start.data(), static_cast<std::streamsize>(size));
  start.resize(static_cast<std::size_t>(in.gcount()));
  return start;
}

std::u16string ToUtf16(std::string_view ansi) {
  std::u16string text;
  for (unsigned char byte : ansi) text += AnsiToUnicode(byte);
  return text;
}

}  // namespace

// A table as the file's catalog lists it.
struct TableEntry {
  std::string name;    // UTF-8
  std::uint32_t page;  // of its definition
};

class File {
 public:
  File(MdbHandle* handle, std::string name, std::uintmax_t size, bool readOnly)
      : handle_(handle), name_(std::move(name)), pages_(size / handle->fmt->pg_size), readOnly_(readOnly) {}
  ~File() { mdb_close(handle_); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  MdbHandle* Handle() const { return handle_; }
  const std::string& Name() const { return name_; }
  std::uintmax_t Size() const { return pages_ * handle_->fmt->pg_size; }
  bool HasPage(std::uint32_t page) const { return page > 0 && page < pages_; }
  [[noreturn]] void RaiseDamaged() const { Raise(err::kDamaged, name_); }
  const std::vector<TableEntry>& Tables() const { return tables_; }
  void SetTables(std::vector<TableEntry> tables) { tables_ = std::move(tables); }

  // What the writer finds, read on first use: Maps' layout and rows, or why
  // it leaves the file alone.
  const std::variant<WritableMaps, std::string>& Writable();
  // The rewrite under way, started on first use; it holds Maps' rows from then on.
  Rewrite& Rewriting() {
    if (!rewrite_ && !StartRewrite()) {
      Raise(err::kEngineError, std::string(std::strerror(EPERM)) + " (" + name_ + ")");
    }
    return *rewrite_;
  }
  bool IsRewriting() const { return rewrite_ != nullptr; }
  // Commits the rewrite under way and reads the new file; Generation() then
  // tells the table readers that their rows moved.
  void Commit();
  // Rewrites the file with nothing changed; false where this process may not
  // give the new file its owner, with nothing done.
  bool Compact();
  unsigned Generation() const { return generation_; }

 private:
  // Starts a rewrite of Maps once no other program holds the file; false
  // where this process may not give the new file its owner.
  bool StartRewrite();
  void Reopen();

  MdbHandle* handle_;
  std::string name_;
  std::uintmax_t pages_;
  bool readOnly_;
  std::vector<TableEntry> tables_;
  std::optional<std::variant<WritableMaps, std::string>> writable_;
  std::unique_ptr<Rewrite> rewrite_;
  unsigned generation_ = 0;
};

namespace {

// The catalog table, which Jet keeps at a fixed page.
constexpr std::uint32_t kCatalogPage = 2;
constexpr std::uint16_t kCatalogTableType = 1;
// An object's Id holds the page of its definition in its low three bytes.
constexpr std::uint32_t kIdPageMask = 0x00FFFFFF;

// What libmdb needs to read the table whose definition is at `page`.
MdbCatalogEntry EntryOf(MdbHandle* mdb, const std::string& name, std::uint32_t page) {
  MdbCatalogEntry entry{};
  entry.mdb = mdb;
  entry.object_type = MDB_TABLE;
  entry.table_pg = page;
  std::snprintf(entry.object_name, sizeof entry.object_name, "%s", name.c_str());
  return entry;
}

// libmdb's definition of the table at `entry`, or nothing where there is none
// or where its map of used pages is empty: libmdb reads that map's first byte
// without a look at its length.
MdbTableDef* ReadTableDef(const File& file, MdbCatalogEntry* entry) {
  if (!file.HasPage(static_cast<std::uint32_t>(entry->table_pg))) return nullptr;
  MdbTableDef* table = mdb_read_table(entry);
  if (table != nullptr && table->map_sz == 0) {
    mdb_free_tabledef(table);
    return nullptr;
  }
  return table;
}

// The `size` bytes at `start` of libmdb's page buffer, where it places a
// field; fails where they do not lie within the page, as a damaged row's
// offsets may have them.
std::string_view PageBytes(const File& file, int start, int size) {
  const MdbHandle* mdb = file.Handle();
  if (start < 0 || size < 0 || size > mdb->fmt->pg_size - start) file.RaiseDamaged();
  return {reinterpret_cast<const char*>(mdb->pg_buf) + start, static_cast<std::size_t>(size)};
}

// The bytes of a field of the row libmdb read last.
std::string_view FieldBytes(const File& file, const MdbColumn* column) {
  return PageBytes(file, column->cur_value_start, column->cur_value_len);
}

MdbColumn* ColumnNamed(MdbTableDef* table, const char* name, int type) {
  for (guint i = 0; i < table->columns->len; ++i) {
    auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    if (g_ascii_strcasecmp(column->name, name) == 0 && column->col_type == type) return column;
  }
  return nullptr;
}

// The tables of the catalog, read with the three fields needed: libmdb's own
// catalog also parses every object's properties and reads past damaged ones.
// Fails with 3049 on a catalog that cannot be read whole.
std::vector<TableEntry> ReadTables(const File& file) {
  MdbHandle* mdb = file.Handle();
  MdbCatalogEntry catalog = EntryOf(mdb, "MSysObjects", kCatalogPage);
  MdbTableDef* table = ReadTableDef(file, &catalog);
  const std::unique_ptr<MdbTableDef, decltype(&mdb_free_tabledef)> owned(table, &mdb_free_tabledef);
  if (table == nullptr || mdb_read_columns(table) == nullptr) file.RaiseDamaged();
  MdbColumn* id = ColumnNamed(table, "Id", MDB_LONGINT);
  MdbColumn* name = ColumnNamed(table, "Name", MDB_TEXT);
  MdbColumn* type = ColumnNamed(table, "Type", MDB_INT);
  if (id == nullptr || name == nullptr || type == nullptr) file.RaiseDamaged();

  std::vector<TableEntry> tables;
  std::size_t rows = 0;
  mdb_rewind_table(table);
  for (; mdb_fetch_row(table) != 0; ++rows) {
    const std::string_view typeBytes = FieldBytes(file, type);
    if (typeBytes.size() != 2 || Le16(typeBytes) != kCatalogTableType) continue;
    const std::string_view idBytes = FieldBytes(file, id);
    const std::string_view stored = FieldBytes(file, name);
    std::optional<std::string> ansi = IS_JET3(mdb) ? std::string(stored) : Jet4TextToAnsi(stored);
    if (idBytes.size() != 4 || !ansi) file.RaiseDamaged();
    tables.push_back({AnsiToUtf8(*ansi), Le32(idBytes) & kIdPageMask});
  }
  // libmdb passes over rows and pages it cannot read.
  if (rows != table->num_rows) file.RaiseDamaged();
  return tables;
}

}  // namespace

Format FormatOfFile(std::string_view fileName) {
  return FormatOf(ReadStart(NativePath(fileName), kHeaderSize));
}

namespace {

const TableEntry* FindTable(const File& file, std::string_view name);

// Whether the writer can rewrite the file, or why not.
std::variant<WritableMaps, std::string> WritableMapsOf(const File& file, std::string_view header) {
  if (IS_JET3(file.Handle())) return std::string("it is a Jet 3 database");
  if (HasEncryptedPages(header, Format::kJet4)) return std::string("its pages are encrypted");
  // The file is written anew, and the new file must keep the owner and group.
  if (!MayTakeOwner(FileBehindLinks(NativePath(file.Name()))))
    return std::string("it belongs to another user or group, which a file written anew could not keep");
  const TableEntry* maps = FindTable(file, kMapsTable);
  if (maps == nullptr) return std::string("it has no table \"Maps\"");
  const PositionalFile source = PositionalFile::OpenForReading(NativePath(file.Name()));
  try {
    return ReadWritableMaps(source, file.Name(), maps->page);
  } catch (const Failure& failure) {
    // A damaged file is read as it is, for the reader to tell what it finds.
    if (failure.Number() != err::kDamaged) throw;
    return std::string("its pages cannot all be accounted for");
  }
}

}  // namespace

std::shared_ptr<File> Open(std::string_view fileName, std::string_view password, bool readOnly) {
  const std::filesystem::path native = NativePath(fileName);
  const std::string header = ReadStart(native, kHeaderSize);
  const Format format = FormatOf(header);
  if (format == Format::kAce) Raise(err::kOtherAccessFormat, fileName);
  assert(format == Format::kJet3 || format == Format::kJet4);
  if (header.size() < kHeaderSize) Raise(err::kDamaged, fileName);
  const std::u16string stored = PasswordOf(header, format);
  if (!stored.empty() && stored != ToUtf16(password)) Raise(err::kWrongPassword, fileName);
  if (!readOnly) CheckNotInUse(fileName);

  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(native, error);
  const std::uintmax_t pageSize = format == Format::kJet4 ? 4096 : 2048;
  if (error || size % pageSize != 0) Raise(err::kDamaged, fileName);
  MdbHandle* handle = mdb_open(native.c_str(), MDB_NOFLAGS);
  if (handle == nullptr) Raise(err::kDamaged, fileName);
  auto file = std::make_shared<File>(handle, std::string(fileName), size, readOnly);
  if (static_cast<std::uintmax_t>(handle->fmt->pg_size) != pageSize) file->RaiseDamaged();
  file->SetTables(ReadTables(*file));
  return file;
}

void File::Reopen() {
  const std::filesystem::path native = NativePath(name_);
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(native, error);
  MdbHandle* handle = mdb_open(native.c_str(), MDB_NOFLAGS);
  if (handle == nullptr || error) Raise(err::kDamaged, name_);
  mdb_close(handle_);
  handle_ = handle;
  pages_ = size / handle_->fmt->pg_size;
  ++generation_;
  SetTables(ReadTables(*this));
  writable_.reset();
}

void File::Commit() {
  assert(rewrite_);
  const std::unique_ptr<Rewrite> rewrite = std::move(rewrite_);
  rewrite->Commit();
  Reopen();
}

const std::variant<WritableMaps, std::string>& File::Writable() {
  if (!writable_) {
    writable_ = readOnly_ ? std::string("it was opened read-only")
                          : WritableMapsOf(*this, ReadStart(NativePath(name_), kHeaderSize));
  }
  return *writable_;
}

bool File::StartRewrite() {
  assert(!rewrite_);
  const auto* maps = std::get_if<WritableMaps>(&Writable());
  assert(maps != nullptr);
  CheckNotInUse(name_);
  rewrite_ = Rewrite::Start(FileBehindLinks(NativePath(name_)), name_, *maps);
  return rewrite_ != nullptr;
}

bool File::Compact() {
  if (!StartRewrite()) return false;
  Commit();
  return true;
}

namespace {

const TableEntry* FindTable(const File& file, std::string_view name) {
  const std::string wanted(name);
  for (const TableEntry& table : file.Tables()) {
    if (g_ascii_strcasecmp(table.name.c_str(), wanted.c_str()) == 0) return &table;
  }
  return nullptr;
}

// Where a row lies, and the key it sorts by once an index is set; a row added
// or given new data by the rewrite under way has that data in the side file.
struct RowPlace {
  std::uint32_t page;
  std::uint16_t row;
  std::optional<std::int32_t> key;
  std::optional<std::size_t> added = std::nullopt;
  bool rewritten = false;
};

class JetRows final : public detail::RowSource {
 public:
  JetRows(std::shared_ptr<File> file, const TableEntry& table)
      : file_(std::move(file)), name_(table.name), page_(table.page) {
    Load();
  }
  ~JetRows() override { Free(); }
  JetRows(const JetRows&) = delete;
  JetRows& operator=(const JetRows&) = delete;

  // The definition read again after a rewrite replaced the file.
  void Load() {
    generation_ = file_->Generation();
    entry_ = EntryOf(file_->Handle(), name_, page_);
    table_ = ReadTableDef(*file_, &entry_);
    // mdb_read_indices answers with table_->indices, not with its result.
    if (table_ != nullptr && mdb_read_columns(table_) != nullptr) mdb_read_indices(table_);
    if (table_ == nullptr || table_->columns == nullptr || table_->indices == nullptr ||
        table_->columns->len != table_->num_cols) {
      Free();
      file_->RaiseDamaged();
    }
  }

  std::optional<std::size_t> ColumnOf(std::string_view name) const override {
    const std::string wanted(name);
    for (std::size_t i = 0; i < ColumnCount(); ++i) {
      if (g_ascii_strcasecmp(Column(i)->name, wanted.c_str()) == 0) return i;
    }
    return std::nullopt;
  }
  std::size_t ColumnCount() const override { return table_->num_cols; }

  void SetIndex(std::string_view name) override {
    const std::string wanted(name);
    const MdbIndex* index = nullptr;
    for (guint i = 0; i < table_->indices->len; ++i) {
      const auto* candidate = static_cast<const MdbIndex*>(g_ptr_array_index(table_->indices, i));
      if (g_ascii_strcasecmp(candidate->name, wanted.c_str()) == 0) index = candidate;
    }
    if (index == nullptr) Raise(err::kNotAnIndex, name);
    const int column = index->key_col_num[0] - 1;
    if (index->num_keys != 1 || index->key_col_order[0] != MDB_ASC || column < 0 ||
        column >= static_cast<int>(ColumnCount()) || Column(column)->col_type != MDB_LONGINT) {
      Raise(err::kEngineError, "the index '" + wanted + "' is not on one Long Integer field, ascending");
    }
    key_ = static_cast<std::size_t>(column);
    rows_.reset();
  }
  bool HasIndex() const override { return key_.has_value(); }

  bool ToFirst() override {
    Rows();
    return MoveTo(0);
  }
  bool ToNext() override { return MoveTo(position_ + 1); }
  bool ToFirstEqual(std::int64_t key) override {
    assert(key_);
    const std::vector<RowPlace>& rows = Rows();
    const auto found =
        std::lower_bound(rows.begin(), rows.end(), key,
                         [](const RowPlace& row, std::int64_t wanted) { return row.key < wanted; });
    const bool match = found != rows.end() && found->key == key;
    MoveTo(match ? static_cast<std::size_t>(found - rows.begin()) : rows.size());
    return match;
  }

  const Value& Field(std::size_t column) override {
    assert(rows_ && position_ < rows_->size() && column < ColumnCount());
    const RowPlace& place = (*rows_)[position_];
    if (place.rewritten) {
      // What the rewrite wrote stays in the side file until the commit.
      if (!key_ || column != *key_) Raise(err::kNotSupported);
      value_ = std::int64_t{*place.key};
      return value_;
    }
    if (!cached_ || *cached_ != column) {
      value_ = Read((*rows_)[position_], column);
      cached_ = column;
    }
    return value_;
  }
  Value TakeField(std::size_t column) override {
    Field(column);
    cached_.reset();
    return std::move(value_);
  }
  std::int64_t Count() override { return static_cast<std::int64_t>(Rows().size()); }

  // Writes go to the rewrite of the table Maps, which holds a Number and a
  // Data; the file shows them once the rewrite is committed.
  void Insert(const std::vector<std::size_t>& columns,
              const std::vector<std::optional<Value>>& values) override {
    const std::size_t number = WritableColumn(kNumberField), data = WritableColumn(kDataField);
    if (!key_ || *key_ != number || columns.size() != 2 || !values[number] || !values[data])
      Raise(err::kNotSupported);
    const std::int32_t key = ToLong(*values[number]);
    const std::string field = StoredData(*values[data]);
    std::vector<RowPlace>& rows = Rows();
    const std::size_t added = file_->Rewriting().Add(key, field);
    const auto after =
        std::upper_bound(rows.begin(), rows.end(), key,
                         [](std::int32_t wanted, const RowPlace& row) { return wanted < row.key; });
    const bool beforeCurrent =
        position_ < rows.size() && after <= rows.begin() + static_cast<std::ptrdiff_t>(position_);
    rows.insert(after, RowPlace{0, 0, key, added, true});
    if (beforeCurrent) ++position_;
  }
  void UpdateCurrent(const std::vector<std::size_t>& columns,
                     const std::vector<std::optional<Value>>& values) override {
    const std::size_t data = WritableColumn(kDataField);
    if (columns.size() != 1 || columns[0] != data) Raise(err::kNotSupported);
    assert(rows_ && position_ < rows_->size());
    RowPlace& place = (*rows_)[position_];
    const std::string field = StoredData(*values[data]);
    if (place.added) {
      file_->Rewriting().ReplaceAdded(*place.added, field);
    } else {
      file_->Rewriting().Replace(place.page, place.row, field);
    }
    place.rewritten = true;
    cached_.reset();
  }

 private:
  // The definition with its columns and indexes.
  void Free() {
    mdb_free_tabledef(table_);
    table_ = nullptr;
  }

  // The position of a field of the table the writer writes; 3027 for any
  // other table, or where the file is not written.
  std::size_t WritableColumn(const char* name) {
    if (g_ascii_strcasecmp(name_.c_str(), kMapsTable) != 0 ||
        std::holds_alternative<std::string>(file_->Writable()))
      Raise(err::kReadOnly, file_->Name());
    const std::optional<std::size_t> column = ColumnOf(name);
    assert(column);
    return *column;
  }

  // A Data value as the field's own type stores it, written to the side file.
  // A blob goes to the side file as the row holds it, without a copy.
  std::string StoredData(const Value& value) {
    const std::string* blob = std::get_if<std::string>(&value);
    const std::string text = blob != nullptr ? std::string() : ToText(value);
    const std::string_view bytes = blob != nullptr ? std::string_view(*blob) : std::string_view(text);
    const bool memo = std::get<WritableMaps>(file_->Writable()).layout.memo;
    return file_->Rewriting().AddValue(memo ? std::string_view(AnsiToJet4Text(bytes)) : bytes);
  }

  MdbColumn* Column(std::size_t column) const {
    return static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, column));
  }
  MdbHandle* Mdb() const { return file_->Handle(); }

  bool MoveTo(std::size_t position) {
    position_ = position;
    cached_.reset();
    value_ = {};
    return position_ < rows_->size();
  }

  // Every row's place, and its key once an index is set, in one pass over the
  // table's data pages that reads no long value; sorted by key, rows of equal
  // key in their stored order. Fails on a table whose usage map libmdb cannot
  // follow: its page-by-page fallback names the page after the one it read.
  std::vector<RowPlace>& Rows() {
    if (generation_ != file_->Generation()) {
      Free();
      rows_.reset();
      Load();
    }
    if (rows_) return *rows_;
    std::vector<RowPlace> rows;
    std::optional<std::uint32_t> checkedPage;
    mdb_rewind_table(table_);
    while (mdb_fetch_row(table_) != 0) {
      if (checkedPage != table_->cur_phys_pg) {
        if (!IsPageInBuffer(table_->cur_phys_pg)) file_->RaiseDamaged();
        checkedPage = table_->cur_phys_pg;
      }
      RowPlace place{table_->cur_phys_pg, static_cast<std::uint16_t>(table_->cur_row - 1), std::nullopt};
      if (key_) {
        const std::string_view key = FieldBytes(*file_, Column(*key_));
        if (key.size() == 4) {
          place.key = static_cast<std::int32_t>(Le32(key));
        } else if (!key.empty()) {
          file_->RaiseDamaged();
        }
      }
      rows.push_back(place);
    }
    // libmdb passes over rows and pages it cannot read.
    if (rows.size() != table_->num_rows) file_->RaiseDamaged();
    if (key_) {
      std::stable_sort(rows.begin(), rows.end(),
                       [](const RowPlace& a, const RowPlace& b) { return a.key < b.key; });
    }
    rows_ = std::move(rows);
    return *rows_;
  }

  // Whether `page` of the file holds what libmdb has in its page buffer.
  bool IsPageInBuffer(std::uint32_t page) const {
    MdbHandle* mdb = Mdb();
    return file_->HasPage(page) && mdb_read_alt_pg(mdb, page) == mdb->fmt->pg_size &&
           std::memcmp(mdb->alt_pg_buf, mdb->pg_buf, mdb->fmt->pg_size) == 0;
  }

  // A field of the row at `place`, read afresh from its page.
  Value Read(const RowPlace& place, std::size_t column) {
    MdbHandle* mdb = Mdb();
    int start = 0;
    size_t size = 0;
    if (mdb_read_pg(mdb, place.page) != mdb->fmt->pg_size ||
        mdb_find_row(mdb, place.row, &start, &size) != 0 || size == 0 || (start & kRowDeleted) != 0) {
      file_->RaiseDamaged();
    }
    std::vector<MdbField> fields(ColumnCount());
    const int count = mdb_crack_row(table_, static_cast<int>(start & kRowOffsetMask), size, fields.data());
    if (count < 0) file_->RaiseDamaged();
    const auto field = std::find_if(fields.begin(), fields.end(), [column](const MdbField& f) {
      return f.colnum == static_cast<int>(column);
    });
    if (field == fields.end()) file_->RaiseDamaged();
    const std::string_view bytes = PageBytes(*file_, field->start, field->siz);
    if (field->is_null) return std::monostate{};

    MdbColumn* col = Column(column);
    switch (col->col_type) {
      case MDB_LONGINT:
        if (bytes.size() != 4) file_->RaiseDamaged();
        return std::int64_t{static_cast<std::int32_t>(Le32(bytes))};
      case MDB_OLE:
        return LongValue(col, field->start, field->siz);
      case MDB_MEMO: {
        if (IS_JET3(mdb)) return LongValue(col, field->start, field->siz);
        std::optional<std::string> text = Jet4TextToAnsi(LongValue(col, field->start, field->siz));
        if (!text) file_->RaiseDamaged();
        return std::move(*text);
      }
      default:
        Raise(err::kEngineError, "the field '" + std::string(col->name) + "' is of a type not read");
    }
  }

  // Follows a long value's chain of pages as far as its header's length, each
  // page checked against the file, before libmdb reads it; fails on a chain
  // that ends early, goes on too long or comes back on itself.
  void CheckChain(std::uint32_t kind, std::uint32_t pageRow, std::uint32_t length) const {
    std::set<std::uint32_t> seen;
    std::uint64_t total = 0;
    while (true) {
      void* page = nullptr;
      int start = 0;
      size_t size = 0;
      if (!file_->HasPage(pageRow >> 8) || !seen.insert(pageRow).second ||
          mdb_find_pg_row(Mdb(), static_cast<int>(pageRow), &page, &start, &size) != 0) {
        file_->RaiseDamaged();
      }
      if (kind == kLongValueOnePage) {
        total = size;
        break;
      }
      if (size <= 4) file_->RaiseDamaged();
      total += size - 4;
      if (total > length) file_->RaiseDamaged();
      pageRow = Le32(static_cast<const unsigned char*>(page) + start);
      if (pageRow == 0) break;
    }
    if (total != length) file_->RaiseDamaged();
  }

  // The bytes of an OLE Object or Memo value whose header lies at `start` of
  // the current page, `size` bytes with what follows it in the row.
  std::string LongValue(MdbColumn* col, int start, int size) {
    if (size == 0) return {};
    MdbHandle* mdb = Mdb();
    if (size < kLongValueHeader) file_->RaiseDamaged();
    const unsigned char* header = mdb->pg_buf + start;
    const std::uint32_t kind = Le32(header) & ~kLongValueLengthMask;
    const std::uint32_t length = Le32(header) & kLongValueLengthMask;
    if (kind == kLongValueInline) {
      if (static_cast<std::uint32_t>(size - kLongValueHeader) != length) file_->RaiseDamaged();
    } else if (kind == kLongValueOnePage || kind == 0) {
      if (length > file_->Size()) file_->RaiseDamaged();
      CheckChain(kind, Le32(header + 4), length);
    } else {
      file_->RaiseDamaged();
    }

    // libmdb reads the header from the bound buffer and copies each page's part there.
    std::vector<unsigned char> bound(MDB_PGSIZE);
    std::memcpy(bound.data(), header, kLongValueHeader);
    col->bind_ptr = bound.data();
    col->cur_value_start = start;
    col->cur_value_len = size;
    std::size_t read = 0;
    const std::unique_ptr<char, decltype(&std::free)> bytes(
        static_cast<char*>(mdb_ole_read_full(mdb, col, &read)), &std::free);
    col->bind_ptr = nullptr;
    if (bytes == nullptr || read != length) file_->RaiseDamaged();
    return std::string(bytes.get(), read);
  }

  std::shared_ptr<File> file_;
  std::string name_;
  std::uint32_t page_;
  unsigned generation_ = 0;
  MdbCatalogEntry entry_{};  // libmdb's table definition points at it
  MdbTableDef* table_ = nullptr;
  std::optional<std::size_t> key_;
  std::optional<std::vector<RowPlace>> rows_;
  std::size_t position_ = 0;
  std::optional<std::size_t> cached_;
  Value value_;
};

}  // namespace

std::optional<std::string> WhyNotWritten(File& file) {
  if (const auto* why = std::get_if<std::string>(&file.Writable())) return *why;
  return std::nullopt;
}

bool Compact(File& file) { return file.Compact(); }

void FinishWriting(File& file) {
  if (file.IsRewriting()) file.Commit();
}

std::optional<std::string> TableName(const File& file, std::string_view name) {
  const TableEntry* entry = FindTable(file, name);
  if (entry == nullptr) return std::nullopt;
  return entry->name;
}

std::unique_ptr<detail::RowSource> OpenRows(std::shared_ptr<File> file, const std::string& table) {
  const TableEntry* entry = FindTable(*file, table);
  assert(entry != nullptr);
  return std::make_unique<JetRows>(std::move(file), *entry);
}

}  // namespace corvald::engine::jet
