#pragma once

// Replacing a file whole: a copy written aside under a name of its own, given
// the original's owner and mode, forced to disk and renamed over the original,
// so that the original's name always holds one complete file. Native paths;
// each returns 0 or the errno value of the step that failed.

#include <filesystem>

namespace corvald {

// The file that `native` names once symbolic links are followed; `native`
// itself when it names nothing.
std::filesystem::path FileBehindLinks(const std::filesystem::path& native);

// Creates the empty file `native` with the permission bits `mode`, less the
// umask; EEXIST when the name is taken.
int CreateNewFile(const std::filesystem::path& native, unsigned mode);

// Gives `copy` the owner and group of `original`; EPERM where this process
// may not give a file away.
int TakeOwner(const std::filesystem::path& copy, const std::filesystem::path& original);

// Whether this process may give a new file the owner and group of
// `original`: it is the superuser, or it owns `original` and belongs to its
// group. True where `original` cannot be looked at, for the step that uses
// it to tell why.
bool MayTakeOwner(const std::filesystem::path& original);

// Gives `copy` the permission bits of `original`.
int TakeMode(const std::filesystem::path& copy, const std::filesystem::path& original);

// Forces a file, or a folder's entries, to disk. A file system that cannot
// sync a folder (EINVAL) counts as done.
int SyncToDisk(const std::filesystem::path& native);

// Gives the file `from` the name `to` in one step, replacing what `to` named.
int ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes the new name `to` a second name of the file behind `from`; where the
// file system has no hard link between the two, `to` becomes a copy instead.
int LinkOrCopyFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace corvald
