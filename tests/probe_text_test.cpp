// The probe's conversion of the driver's Windows-1252 texts into characters,
// which a Windows console is given (WriteConsoleW) whatever its code page,
// and into UTF-8 for Linux terminals. On Windows it is MultiByteToWideChar's
// code page 1252, elsewhere the probe's own table: both must agree.
#include <gtest/gtest.h>

#include "probe_text.h"

TEST(ProbeText, Windows1252ToCharacters) {
    EXPECT_EQ(probe::FromWindows1252("phm\xE8tre PHN130T,com12:"), L"phm\u00E8tre PHN130T,com12:");
    // The range where Windows-1252 differs from Latin-1, and Latin-1 itself.
    EXPECT_EQ(probe::FromWindows1252("\x80\x8A\x9C\x9F\xA0\xC9\xFF"),
              L"\u20AC\u0160\u0153\u0178\u00A0\u00C9\u00FF");
    EXPECT_EQ(probe::FromWindows1252(""), L"");
}

TEST(ProbeText, Utf8) {
    EXPECT_EQ(probe::Utf8(probe::FromWindows1252("phm\xE8tre \x80")),
              "phm\xC3\xA8tre \xE2\x82\xAC");
}
