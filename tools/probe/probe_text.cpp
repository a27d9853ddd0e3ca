#include "probe_text.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace probe {

std::wstring FromWindows1252(const char *text) {
#if defined(_WIN32)
    const int size = MultiByteToWideChar(1252, 0, text, -1, nullptr, 0);
    if (size <= 1)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(1252, 0, text, -1, &wide[0], size);
    wide.resize(static_cast<size_t>(size - 1)); // without the terminating zero
    return wide;
#else
    // 0x80 ... 0x9F; 0 where Windows-1252 has no character. The other bytes
    // are their own code points (ASCII and Latin-1).
    static const unsigned short High[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::wstring wide;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c; ++c) {
        unsigned code = *c;
        if (code >= 0x80 && code < 0xA0)
            code = High[code - 0x80] != 0 ? High[code - 0x80] : 0xFFFD;
        wide += static_cast<wchar_t>(code);
    }
    return wide;
#endif
}

std::string Utf8(const std::wstring &text) {
    std::string out;
    for (const wchar_t c : text) {
        const unsigned code = static_cast<unsigned>(c) & 0xFFFF;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

void PrintText(const char *text) {
#if defined(_WIN32)
    // A console is told characters (WriteConsoleW); its code page, 850 or 437
    // on most machines, would show the byte 0xE8 as another letter. A file
    // or a pipe has no console mode and gets the bytes unchanged.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode)) {
        const std::wstring wide = FromWindows1252(text);
        std::fflush(stdout); // what printf buffered goes first
        DWORD written = 0;
        WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::fputs(text, stdout);
#else
    std::fputs(Utf8(FromWindows1252(text)).c_str(), stdout);
#endif
}

} // namespace probe
