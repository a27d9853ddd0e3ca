// Cutting readings out of arbitrary reply lines, and rounding arbitrary
// doubles: the driver's results against a plain restatement of the rules.
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "reply.h"

namespace {

[[noreturn]] void Fail(const char *what, const std::string &line, int32_t channel, double got,
                       double want) {
    std::fprintf(stderr, "%s: channel %d, line of %zu bytes: got %.17g, want %.17g\n", what,
                 channel, line.size(), got, want);
    std::abort();
}

// The reading as the meter's reply layout defines it, written out the long
// way: leading line feeds left out, window, kept characters, sign, then the C
// library's own conversion.
double Reference(const std::string &received, int32_t channel) {
    const std::string line =
        received.substr(std::min(received.find_first_not_of('\n'), received.size()));
    std::string window;
    if (channel == 0) {
        const size_t point = line.find('.');
        if (point == std::string::npos || point < 4)
            return NOT_AVAILABLE;
        window = line.substr(point - 2, 5);
    } else if (channel == 1) {
        if (line.size() < 5)
            return NOT_AVAILABLE;
        window = line.substr(4, 4);
    } else {
        return NOT_AVAILABLE;
    }
    std::string kept;
    bool negative = false;
    for (char c : window) {
        if (std::strchr("./0123456789", c) != nullptr && c != '\0')
            kept += c;
        else if (c == '-' && kept.empty())
            negative = true;
    }
    size_t digits = 0, points = 0;
    for (char c : kept) {
        digits += c >= '0' && c <= '9';
        points += c == '.';
        if (c == '/')
            return NOT_AVAILABLE;
    }
    if (digits == 0 || points > 1)
        return NOT_AVAILABLE;
    const double value = std::strtod(kept.c_str(), nullptr);
    return negative && value != 0.0 ? -value : value;
}

void CheckCut(const std::string &line, int32_t channel) {
    const double got = CutReading(line.data(), line.size(), channel);
    if (got != NOT_AVAILABLE && !(std::isfinite(got) && std::fabs(got) <= 99999.0))
        Fail("reading out of range", line, channel, got, NOT_AVAILABLE);
    const double want = Reference(line, channel);
    if (std::memcmp(&got, &want, sizeof got) != 0) // also tells -0.0 from 0.0
        Fail("reading differs", line, channel, got, want);
}

void CheckRounding(const uint8_t *bytes) {
    double x;
    std::memcpy(&x, bytes, sizeof x);
    int64_t rounded = 12345;
    const bool ok = RoundHalfEven(BitsOf(x), &rounded);
    const bool fits = std::isfinite(x) && x >= -9223372036854775808.0 && x < 9223372036854775808.0;
    if (ok != fits) {
        std::fprintf(stderr, "RoundHalfEven(%.17g) said %d\n", x, ok);
        std::abort();
    }
    if (!ok) {
        if (rounded != 12345) {
            std::fprintf(stderr, "RoundHalfEven(%.17g) wrote a result it refused\n", x);
            std::abort();
        }
        return;
    }
    std::fesetround(FE_TONEAREST);
    const int64_t want = static_cast<int64_t>(std::nearbyint(x));
    if (rounded != want) {
        std::fprintf(stderr, "RoundHalfEven(%.17g) = %lld, want %lld\n", x,
                     static_cast<long long>(rounded), static_cast<long long>(want));
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string line(reinterpret_cast<const char *>(data), size);
    for (int32_t channel : {0, 1, 2, -1, INT32_MIN})
        CheckCut(line, channel);
    if (size >= 8)
        CheckRounding(data);
    return 0;
}
