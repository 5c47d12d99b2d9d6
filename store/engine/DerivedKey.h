#pragma once

// The keys of encrypted databases, derived from their passwords once per
// process rather than once per connection.

#include <filesystem>
#include <string>
#include <string_view>

#include "store/engine/Sqlite.h"

namespace corvald::engine::detail {

// The key text for sqlite3_key that opens the encrypted database `native` with
// `passwordUtf8` on the new, not yet keyed connection `handle`: the raw key
// derived from the password and the salt in the file's first 16 bytes, as
// SQLCipher 3 derives it (PBKDF2-HMAC-SHA1 to 32 bytes, in the rounds the
// library is set to, 64,000 by default), in SQLCipher's x'...' form. The derivation is the costly
// part of opening a database, and a compacted copy keeps its source's salt, so
// the last key is kept and handed out again for the same password and salt.
// A file too short to hold a salt gets the password itself, so that SQLCipher
// reports it as it would any other. Throws std::bad_alloc when the derivation
// has no memory.
std::string KeyFor(sqlite3* handle, const std::filesystem::path& native, std::string_view passwordUtf8);

}  // namespace corvald::engine::detail
