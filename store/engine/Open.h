#pragma once

// Opening a SQLCipher database from a program path and its password.

#include <memory>
#include <string>
#include <string_view>

#include "store/engine/Sqlite.h"

namespace corvald::engine::detail {

// The password of a connect string such as ";pwd=brevola" (key "pwd" in any
// case); empty when it names none.
std::string PasswordFromConnect(std::string_view connect);

// Opens an existing database file (a program path) with its password and checks
// the password at once, before anything is written. Never creates the file.
//
// SQLCipher answers a wrong password and a file that is not a database alike, so
// the two are told apart by the file itself: an empty file, a file that starts
// with the plain "SQLite format 3" header, or one whose size is not a multiple
// of 1024 bytes (the smallest page size an encrypted database uses) is not a
// database; any other file that the password does not open is taken as one
// with a different password, since an encrypted database is indistinguishable
// from random bytes.
std::shared_ptr<Connection> OpenKeyed(std::string_view fileName, std::string_view password, bool readOnly);

}  // namespace corvald::engine::detail
