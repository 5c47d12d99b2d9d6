#pragma once

// The first page of an Access database file: which format it is, and the
// database password that Jet keeps there and checks on open.

#include <cstddef>
#include <string>
#include <string_view>

namespace corvald::engine::jet {

enum class Format {
  kOther,  // not an Access database
  kJet3,   // Access 97
  kJet4,   // Access 2000 to 2003
  kAce,    // Access 2007 and later ("Standard ACE DB"), not read here
};

// How many of a file's first bytes FormatOf and PasswordOf read.
inline constexpr std::size_t kHeaderSize = 0x18 + 128;

// The format that a file's first bytes show; kOther for fewer than 0x15 bytes.
Format FormatOf(std::string_view start);

// The database password of a Jet 3 or Jet 4 header (at least kHeaderSize
// bytes), as UTF-16 code units up to the first NUL; empty when it has none.
// Jet 3 passwords are bytes of the ANSI code page.
std::u16string PasswordOf(std::string_view header, Format format);

// Whether a Jet 3 or Jet 4 header (at least kHeaderSize bytes) holds a key
// for its pages, which are then encrypted.
bool HasEncryptedPages(std::string_view header, Format format);

}  // namespace corvald::engine::jet
