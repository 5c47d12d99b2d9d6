#pragma once

// The file system as the program uses it: program paths, the program's folder,
// folders, deleting and linking files, directory listings, and files read or
// written whole.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Descriptor.h"

namespace corvald {

// The program names files with ANSI byte strings relative to the current
// directory, Windows style: "Maps\Map #7 - Desert.map4". Both "\" and "/"
// separate folders. Windows' file-name rules hold on every platform, so that the
// program behaves and names its files alike everywhere.

// The native path of a program path. Fails with 52 (bad file name) for a name
// holding " * : < > ? | or a control character, and for a path that would reach
// outside the current directory (absolute, or through "..").
std::filesystem::path NativePath(std::string_view path);

// The folder that holds the program file, its name byte for byte as the system
// gives it (it need not be UTF-8). Fails with a file failure when the system
// cannot tell.
std::filesystem::path ProgramFolder();

void SetCurrentFolder(const std::filesystem::path& folder);

// Creates a folder; fails with 75 when something of that name exists already and
// with 76 when the folder it should go in does not exist.
void MkDir(std::string_view path);

// Deletes a file.
void Kill(std::string_view path);

// Makes `to` a second name of the file that `from` names (a symbolic link is
// followed), or a copy of it where the file system links no files; fails with
// 58 when `to` exists already.
void LinkOrCopy(std::string_view from, std::string_view to);

enum class EntryKinds { kFiles, kFilesAndFolders };

// The names in the folder of `pattern` that its last part matches ("*" any run
// of characters, "?" any one character, everything else itself), in ascending
// byte order. Hidden entries (names beginning with ".") never count; ordinary
// files always do, folders only with kFilesAndFolders. A pattern whose folder is
// missing or unusable yields nothing.
std::vector<std::string> ListEntries(std::string_view pattern, EntryKinds kinds);

// One file opened for raw binary reading or writing; closed by Close() or when it
// goes away. Failures carry the classic file numbers.
class BinaryFile {
 public:
  // Creates the file, or empties it when it exists. Anything but an ordinary
  // file, a symbolic link included, fails with 75 and is left as it is.
  static BinaryFile OpenForWriting(std::string_view path);
  // Opens an existing ordinary file, through symbolic links; anything else
  // fails with 75, without waiting for a pipe's writer.
  static BinaryFile OpenForReading(std::string_view path);

  void Write(std::string_view bytes);
  std::int64_t Length() const;
  // Reads the whole file from its first byte.
  std::string ReadAll();
  void Close();

 private:
  explicit BinaryFile(Descriptor fd) : fd_(std::move(fd)) {}
  Descriptor fd_;
};

}  // namespace corvald
