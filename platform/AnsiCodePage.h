#pragma once

// The ANSI code page of the program's byte strings, and their conversions to
// and from Unicode text and UTF-8.

#include <QString>
#include <string>
#include <string_view>

namespace corvald {

// The program's strings are byte strings in the ANSI code page, Windows-1252.
// Every one of the 256 bytes stands for exactly one character; the five bytes
// that Windows-1252 leaves undefined stand for the C1 controls of the same
// value, as Windows converts them.

char16_t AnsiToUnicode(unsigned char byte);

// The byte of a character; characters outside the code page become "?".
char UnicodeToAnsi(char32_t cp);

QString FromAnsi(std::string_view bytes);

// Characters outside the code page become "?".
std::string ToAnsi(const QString& text);

// The UTF-8 form of a byte string, for native file names.
std::string AnsiToUtf8(std::string_view bytes);

// Whether the bytes are well-formed UTF-8.
bool IsUtf8(std::string_view bytes);

// Inverse of AnsiToUtf8; characters outside the code page become "?".
std::string Utf8ToAnsi(std::string_view utf8);

}  // namespace corvald
