// The driver's texts (title, detail, channel names) are Windows-1252 bytes.
// These turn them into what a console shows.
#pragma once

#include <cstdio>
#include <string>

namespace probe {

// The characters of a Windows-1252 text; a byte Windows-1252 leaves
// undefined becomes U+FFFD (Windows: whatever MultiByteToWideChar gives it).
std::wstring FromWindows1252(const char *text);

// UTF-8 of the characters (all of them in the Basic Multilingual Plane).
std::string Utf8(const std::wstring &text);

// Writes a Windows-1252 text to stdout. On a Windows console it goes out as
// characters, so that "è" shows as such whatever the console's code page;
// redirected to a file or a pipe it keeps its bytes. Elsewhere it is written
// as UTF-8, what Linux terminals expect.
void PrintText(const char *text);

} // namespace probe
