#include "tests/support/DatabaseFixture.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace corvald::test {

namespace {

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
  for (const MapRow& row : rows) {
    sql += "INSERT INTO Maps (Number, Data) VALUES (" + (row.number ? std::to_string(*row.number) : "NULL") +
           ", " + BlobLiteral(row.data) + ");\n";
  }
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

}  // namespace corvald::test
