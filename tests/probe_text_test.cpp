// The probe's conversion of the driver's Windows-1252 texts into characters,
// which a Windows console is given (WriteConsoleW) whatever its code page,
// and into UTF-8 for Linux terminals. On Windows it is MultiByteToWideChar's
// code page 1252, elsewhere the probe's own table: both must agree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "probe_text.h"

namespace {

std::wstring Characters(const char *bytes) {
    const size_t count = std::strlen(bytes);
    std::wstring characters(count + 1, L'#'); // one more: nothing is written past count
    probe::FromWindows1252(bytes, count, &characters[0]);
    EXPECT_EQ(characters[count], L'#');
    characters.resize(count);
    return characters;
}

std::string Utf8(const std::wstring &characters) {
    std::string out(3 * characters.size() + 1, '#');
    const size_t length = probe::Utf8(characters.data(), characters.size(), &out[0]);
    EXPECT_LE(length, 3 * characters.size());
    out.resize(length);
    return out;
}

} // namespace

TEST(ProbeText, Windows1252ToCharacters) {
    EXPECT_EQ(Characters("phm\xE8tre PHN130T,com12:"), L"phm\u00E8tre PHN130T,com12:");
    // The range where Windows-1252 differs from Latin-1, and Latin-1 itself.
    EXPECT_EQ(Characters("\x80\x8A\x9C\x9F\xA0\xC9\xFF"),
              L"\u20AC\u0160\u0153\u0178\u00A0\u00C9\u00FF");
    EXPECT_EQ(Characters(""), L"");
}

TEST(ProbeText, Utf8) {
    // One, two and three bytes a character, at the edges of each length.
    EXPECT_EQ(Utf8(Characters("phm\xE8tre \x80")), "phm\xC3\xA8tre \xE2\x82\xAC");
    EXPECT_EQ(Utf8(L"\u007F\u0080\u07FF\u0800\uFFFD"),
              "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBD");
    EXPECT_EQ(Utf8(L""), "");
}
