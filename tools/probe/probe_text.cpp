#include "probe_text.h"

#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace probe {

void FromWindows1252(const char *bytes, size_t count, wchar_t *characters) {
#if defined(_WIN32)
    if (count > 0)
        MultiByteToWideChar(1252, 0, bytes, static_cast<int>(count), characters,
                            static_cast<int>(count));
#else
    // 0x80 ... 0x9F; 0 where Windows-1252 has no character. The other bytes
    // are their own code points (ASCII and Latin-1).
    static const unsigned short High[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    const unsigned char *byte = reinterpret_cast<const unsigned char *>(bytes);
    for (size_t i = 0; i < count; ++i) {
        unsigned code = byte[i];
        if (code >= 0x80 && code < 0xA0)
            code = High[code - 0x80] != 0 ? High[code - 0x80] : 0xFFFD;
        characters[i] = static_cast<wchar_t>(code);
    }
#endif
}

size_t Utf8(const wchar_t *characters, size_t count, char *out) {
    size_t length = 0;
    for (size_t i = 0; i < count; ++i) {
        const unsigned code = static_cast<unsigned>(characters[i]) & 0xFFFF;
        if (code < 0x80) {
            out[length++] = static_cast<char>(code);
        } else if (code < 0x800) {
            out[length++] = static_cast<char>(0xC0 | (code >> 6));
            out[length++] = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out[length++] = static_cast<char>(0xE0 | (code >> 12));
            out[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out[length++] = static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return length;
}

void PrintText(const char *text) {
#if defined(_WIN32)
    // A console is told characters (WriteConsoleW); its code page, 850 or 437
    // on most machines, would show the byte 0xE8 as another letter. A file
    // or a pipe has no console mode and gets the bytes unchanged.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) {
        fputs(text, stdout);
        return;
    }
    fflush(stdout); // what printf buffered goes first
#endif
    // A piece at a time: a Windows-1252 byte is one character, so the text
    // can be cut anywhere.
    const size_t Piece = 256;
    wchar_t characters[Piece];
    for (size_t left = strlen(text); left > 0;) {
        const size_t count = left < Piece ? left : Piece;
        FromWindows1252(text, count, characters);
#if defined(_WIN32)
        DWORD written = 0;
        WriteConsoleW(output, characters, static_cast<DWORD>(count), &written, nullptr);
#else
        char utf8[3 * Piece];
        fwrite(utf8, 1, Utf8(characters, count, utf8), stdout);
#endif
        text += count;
        left -= count;
    }
}

} // namespace probe
