#pragma once

// What the in-process tests share: failures by number, files, a temporary
// folder, what the program showed, and databases that the sqlcipher shell makes
// and reads, so that the engine is checked against a program nobody here wrote.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Failure.h"
#include "platform/UserInterface.h"
#include "store/modConst.h"

namespace corvald::test {

namespace fs = std::filesystem;

// The failure number that `action` raises, or 0 when it raises none.
template <typename Action>
int FailureNumberOf(Action&& action) {
  try {
    action();
  } catch (const Failure& failure) {
    return failure.Number();
  }
  return 0;
}

inline std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The entries of a folder by name with their bytes; a folder stands as "<folder>".
inline std::map<std::string, std::string> FolderFiles(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder))
    files[entry.path().filename()] = entry.is_directory() ? "<folder>" : FileBytes(entry.path());
  return files;
}

// Bytes that do not compress, the same for the same seed.
inline std::string RandomBytes(std::size_t size, std::uint32_t seed = 7) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

// A fresh temporary folder that is the current directory while the object lives.
class TempFolder {
 public:
  TempFolder() : previous_(fs::current_path()) {
    std::string pattern = (fs::temp_directory_path() / "corvald-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    fs::current_path(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
  fs::path previous_;
};

// The message boxes (answered at once) and the status texts shown while it lives.
struct Shown {
  Shown() {
    SetMessageBoxHandler([this](const std::string& text, MsgIcon icon) {
      boxes.push_back(text);
      icons.push_back(icon);
    });
    SetStatusListener([this](std::string_view text) {
      if (status.empty() || status.back() != text) status.emplace_back(text);
    });
  }
  ~Shown() {
    SetMessageBoxHandler({});
    SetStatusListener({});
  }
  Shown(const Shown&) = delete;
  Shown& operator=(const Shown&) = delete;
  std::vector<std::string> boxes;
  std::vector<MsgIcon> icons;
  std::vector<std::string> status;
};

// One row of "Maps"; no number stands for Null.
struct MapRow {
  std::optional<std::int64_t> number;
  std::string data;
  friend bool operator==(const MapRow&, const MapRow&) = default;
};

// X'...' for these bytes.
inline std::string BlobLiteral(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string literal = "X'";
  for (unsigned char byte : bytes) literal += {kDigits[byte >> 4], kDigits[byte & 15]};
  return literal + "'";
}

// What the sqlcipher shell prints for `sql` on `file`, keyed with `key` (none
// when empty); throws with its output when it reports an error.
inline std::string Shell(const fs::path& file, const std::string& sql,
                         const std::string& key = kServerPassword) {
  const fs::path script = fs::temp_directory_path() / ("corvald-shell-" + std::to_string(getpid()));
  std::ofstream(script) << (key.empty() ? "" : "PRAGMA key = '" + key + "';\n") << sql << "\n";
  const std::string command =
      "sqlcipher -batch -bail '" + file.string() + "' < '" + script.string() + "' 2>&1";
  FILE* shell = popen(command.c_str(), "r");
  std::string printed;
  for (char chunk[4096]; std::size_t got = std::fread(chunk, 1, sizeof chunk, shell);)
    printed.append(chunk, got);
  const int status = pclose(shell);
  fs::remove(script);
  if (status != 0 || printed.find("Error") != std::string::npos)
    throw std::runtime_error("sqlcipher: " + printed);
  return printed;
}

// A database made by the shell with `schema` and these rows of "Maps", in this order.
inline void MakeMaps(const fs::path& file, const std::vector<MapRow>& rows,
                     const std::string& schema = kMapsSchema, const std::string& key = kServerPassword) {
  std::string sql = schema + "BEGIN;\n";
  for (const MapRow& row : rows) {
    sql += "INSERT INTO Maps (Number, Data) VALUES (" + (row.number ? std::to_string(*row.number) : "NULL") +
           ", " + BlobLiteral(row.data) + ");\n";
  }
  Shell(file, sql + "COMMIT;", key);
}

// The rows of "Maps" as the shell reads them, in the order they were added.
inline std::vector<MapRow> ReadMaps(const fs::path& file, const std::string& key = kServerPassword) {
  std::istringstream lines(
      Shell(file, "SELECT quote(Number) || '|' || hex(Data) FROM Maps ORDER BY rowid;", key));
  std::vector<MapRow> rows;
  for (std::string line; std::getline(lines, line);) {
    if (line == "ok") continue;  // what PRAGMA key prints in some versions
    const std::size_t bar = line.find('|');
    MapRow row{line.starts_with("NULL") ? std::nullopt : std::optional(std::stoll(line)), ""};
    for (std::size_t i = bar + 1; i + 1 < line.size(); i += 2)
      row.data += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    rows.push_back(row);
  }
  return rows;
}

// A map record whose first 30 characters are `name` padded with blanks, then `rest`.
inline std::string NamedRecord(std::string name, std::string_view rest = "tiles") {
  name.resize(MAP_NAME_LEN, ' ');
  return name + std::string(rest);
}

}  // namespace corvald::test
