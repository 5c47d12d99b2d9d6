#include "tests/support/DatabaseFixture.h"

#include <sqlcipher/sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "tests/support/ChildProcess.h"

namespace corvald::test {

namespace {

constexpr int kQuickRounds = 2;
constexpr int kStandardRounds = 64000;

// The rounds the shell is told to use; 0 for SQLCipher's own default.
int shellRounds = 0;

// Sets the rounds of key derivation for every keyed connection this process opens from now on.
void SetDefaultRounds(int rounds) {
  sqlite3* scratch = nullptr;
  sqlite3_open(":memory:", &scratch);
  std::string sql = "PRAGMA cipher_default_kdf_iter = ";
  sql += std::to_string(rounds);
  const int rc = sqlite3_exec(scratch, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(scratch);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot set the key derivation rounds");
}

std::string ShellQuoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string SqlQuoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string InsertStatements(const std::vector<MapRow>& rows) {
  std::string sql;
  for (const MapRow& row : rows) {
    sql += "INSERT INTO Maps (Number, Data) VALUES (" + (row.number ? std::to_string(*row.number) : "NULL") +
           ", " + BlobLiteral(row.data) + ");\n";
  }
  return sql;
}

std::string BytesOfHex(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}

}  // namespace

std::string RunSqlcipherShell(const std::string& file, std::string_view key, std::string_view sql) {
  const auto scratch = std::filesystem::temp_directory_path() / ("corvald-shell-" + std::to_string(getpid()));
  const auto input = scratch.string() + ".sql";
  const auto output = scratch.string() + ".out";
  {
    std::ofstream script(input, std::ios::binary | std::ios::trunc);
    if (!key.empty()) script << "PRAGMA key = " << SqlQuoted(key) << ";\n";
    if (!key.empty() && shellRounds != 0) script << "PRAGMA kdf_iter = " << shellRounds << ";\n";
    script << sql << "\n";
  }
  const std::string command = "sqlcipher -batch -bail " + ShellQuoted(file) + " < " + ShellQuoted(input) +
                              " > " + ShellQuoted(output) + " 2>&1";
  const int status = std::system(command.c_str());
  std::string printed = ReadWhole(output);
  std::filesystem::remove(input);
  std::filesystem::remove(output);
  if (status != 0 || printed.find("Error") != std::string::npos) {
    throw std::runtime_error("sqlcipher shell failed: " + printed);
  }
  return printed;
}

std::string BlobLiteral(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string literal = "X'";
  for (unsigned char byte : bytes) {
    literal += kDigits[byte >> 4];
    literal += kDigits[byte & 15];
  }
  return literal + "'";
}

void MakeMapsDatabase(const std::string& file, std::string_view key, const std::vector<MapRow>& rows,
                      std::string_view schema) {
  std::string sql(schema);
  sql += "BEGIN;\n";
  sql += InsertStatements(rows);
  sql += "COMMIT;\n";
  RunSqlcipherShell(file, key, sql);
}

std::vector<MapRow> ReadMapsWithShell(const std::string& file, std::string_view key) {
  std::istringstream lines(
      RunSqlcipherShell(file, key, "SELECT quote(Number) || '|' || hex(Data) FROM Maps ORDER BY rowid;"));
  std::vector<MapRow> rows;
  for (std::string line; std::getline(lines, line);) {
    if (line == "ok") continue;  // what PRAGMA key prints in some versions
    const std::size_t bar = line.find('|');
    const std::string number = line.substr(0, bar);
    rows.push_back({number == "NULL" ? std::nullopt : std::optional<std::int64_t>(std::stoll(number)),
                    BytesOfHex(line.substr(bar + 1))});
  }
  return rows;
}

void DamagePage(const std::string& file, int page) {
  std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp((page - 1) * 1024 + 512);
  out.write("damaged!damaged!", 16);
  if (!out) throw std::runtime_error("cannot damage " + file);
}

QuickKeyDerivation::QuickKeyDerivation() {
  SetDefaultRounds(kQuickRounds);
  shellRounds = kQuickRounds;
}

QuickKeyDerivation::~QuickKeyDerivation() {
  shellRounds = 0;
  SetDefaultRounds(kStandardRounds);
}

sqlite3* OpenWithSqlite(const std::string& file, std::string_view key) {
  sqlite3* connection = nullptr;
  if (sqlite3_open_v2(file.c_str(), &connection, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      (!key.empty() && sqlite3_key(connection, key.data(), static_cast<int>(key.size())) != SQLITE_OK)) {
    throw std::runtime_error("cannot open " + file + ": " + sqlite3_errmsg(connection));
  }
  return connection;
}

void RunWithSqlite(sqlite3* connection, std::string_view sql) {
  char* message = nullptr;
  if (sqlite3_exec(connection, std::string(sql).c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message != nullptr ? message : "unknown error";
    sqlite3_free(message);
    throw std::runtime_error("SQLite failed: " + text);
  }
}

void LeaveInterruptedWriter(const std::string& file, std::string_view key, bool writeAheadLog,
                            const std::vector<MapRow>& committed, const std::vector<MapRow>& interrupted) {
  const int status = RunInChild([&] {
    sqlite3* connection = OpenWithSqlite(file, key);
    RunWithSqlite(connection, "PRAGMA cache_size = 1;");
    if (writeAheadLog) RunWithSqlite(connection, "PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;");
    RunWithSqlite(connection, InsertStatements(committed));
    RunWithSqlite(connection, "BEGIN;");
    RunWithSqlite(connection, InsertStatements(interrupted));
    _exit(0);
  });
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("the writer failed");
}

}  // namespace corvald::test
