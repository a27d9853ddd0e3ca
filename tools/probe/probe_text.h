// The driver's texts (title, detail, channel names) are Windows-1252 bytes.
// These turn them into what a console shows.
#pragma once

#include <stddef.h>

namespace probe {

// The characters of count Windows-1252 bytes into characters[count]: one
// each, as every character of Windows-1252 is in the Basic Multilingual
// Plane. A byte Windows-1252 leaves undefined becomes U+FFFD (Windows:
// whatever MultiByteToWideChar gives it).
void FromWindows1252(const char *bytes, size_t count, wchar_t *characters);

// UTF-8 of count characters (all of them in the Basic Multilingual Plane)
// into out, which has room for 3 * count bytes; returns the bytes written.
size_t Utf8(const wchar_t *characters, size_t count, char *out);

// Writes a Windows-1252 text to stdout. On a Windows console it goes out as
// characters, so that "è" shows as such whatever the console's code page;
// redirected to a file or a pipe it keeps its bytes. Elsewhere it is written
// as UTF-8, what Linux terminals expect.
void PrintText(const char *text);

} // namespace probe
