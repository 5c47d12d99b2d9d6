#pragma once

// The text of a Jet 4 Memo value as the program's byte strings hold text.

#include <optional>
#include <string>
#include <string_view>

namespace corvald::engine::jet {

// The stored bytes of a Jet 4 text, UCS-2 little-endian or, after the marker
// FF FE, in Jet's compressed form, turned into ANSI bytes one character each
// (characters outside the code page become "?"). Nothing when the bytes end
// inside a character.
std::optional<std::string> Jet4TextToAnsi(std::string_view stored);

// ANSI bytes as Jet 4 stores text, uncompressed: one UCS-2 little-endian
// character a byte.
std::string AnsiToJet4Text(std::string_view ansi);

}  // namespace corvald::engine::jet
