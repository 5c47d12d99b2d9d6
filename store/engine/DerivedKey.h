#pragma once

// The keys of encrypted databases, derived from their passwords once per run
// rather than once per connection, and wiped once no connection holds them.

#include <filesystem>
#include <string_view>

#include "store/engine/Sqlite.h"

namespace corvald::engine::detail {

// Keys the new connection with the raw key for `passwordUtf8` and the salt in
// the first 16 bytes of its file, as SQLCipher 3 derives it (PBKDF2-HMAC-SHA1
// to 32 bytes, in the rounds the library is set to, 64,000 by default). The
// derivation is the costly part of opening a database, and a compacted copy
// keeps its source's salt, so the key is kept, in one buffer, for as long as a
// connection holds it, and handed to the next connection for the same
// password and salt; the buffer is wiped when the last holder closes. A file
// too short to hold a salt gets the password itself, so that SQLCipher reports
// it as it would any other. Fails as sqlite3_key fails; throws std::bad_alloc
// when the derivation has no memory.
void ApplyKey(Connection& connection, std::string_view passwordUtf8);

// A connection that held the key has closed.
void ReleaseKey();

}  // namespace corvald::engine::detail
