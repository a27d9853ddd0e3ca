#include "reply.h"

#include <string.h>

namespace {

bool KeptByFilter(char c) { return c >= '.' && c <= '9'; } // '.', '/', '0'...'9'

// A stretch of a reply line: `length` characters from `bytes`.
struct Window {
    const char *bytes;
    size_t length;
};

// The characters of the reply line from which the channel's value is cut.
Window WindowOf(const char *line, size_t length, int32_t channel) {
    if (channel == 0) {
        const char *point = static_cast<const char *>(memchr(line, '.', length));
        const size_t position = point == nullptr ? 0 : static_cast<size_t>(point - line) + 1;
        if (position <= 4)
            return Window{line, 0};
        const size_t first = position - 3; // two characters before the point
        return Window{line + first, length - first < 5 ? length - first : 5};
    }
    if (channel == 1 && length >= 5)
        return Window{line + 4, length - 4 < 4 ? length - 4 : 4};
    return Window{line, 0};
}

// Reads "digits[.digits]", ".digits" or "digits." with at least one digit.
// The window is five characters at most, so the digits fit an int exactly
// and one division by an exact power of ten rounds correctly.
bool ConvertDecimal(const char *text, size_t length, double *value) {
    static const double powers[] = {1.0, 10.0, 100.0, 1000.0, 10000.0, 100000.0};
    if (length == 0 || length > 5)
        return false;
    long mantissa = 0;
    int digits = 0;
    int decimals = 0;
    bool seenPoint = false;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (c == '.') {
            if (seenPoint)
                return false;
            seenPoint = true;
        } else if (c >= '0' && c <= '9') {
            mantissa = mantissa * 10 + (c - '0');
            ++digits;
            if (seenPoint)
                ++decimals;
        } else {
            return false;
        }
    }
    if (digits == 0)
        return false;
    *value = static_cast<double>(mantissa) / powers[decimals];
    return true;
}

} // namespace

double CutReading(const char *line, size_t length, int32_t channel) {
    if (channel < 0 || channel > 1)
        return NOT_AVAILABLE;
    while (length > 0 && *line == '\n') {
        ++line;
        --length;
    }
    const Window window = WindowOf(line, length, channel);
    char text[5];
    size_t kept = 0;
    bool negative = false;
    for (size_t i = 0; i < window.length; ++i) {
        const char c = window.bytes[i];
        if (KeptByFilter(c))
            text[kept++] = c;
        else if (c == '-' && kept == 0)
            negative = true;
    }
    double value;
    if (!ConvertDecimal(text, kept, &value))
        return NOT_AVAILABLE;
    return negative && value != 0.0 ? -value : value;
}

bool RoundHalfEven(uint64_t bits, int64_t *rounded) {
    const bool negative = (bits >> 63) != 0;
    const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
    if (exponent == 0x7FF)
        return false; // infinite or not a number
    if (exponent < 1022) {
        *rounded = 0; // |x| < 0.5, zeros and subnormals included
        return true;
    }
    // x = significand * 2^shift, the significand with its implicit bit.
    const uint64_t significand = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const int shift = exponent - 1075;
    uint64_t magnitude;
    if (shift >= 11) {
        // |x| >= 2^63: only -2^63 itself fits.
        if (!negative || shift > 11 || significand != (uint64_t{1} << 52))
            return false;
        *rounded = INT64_MIN;
        return true;
    }
    if (shift >= 0) {
        magnitude = significand << shift;
    } else {
        const int dropped = -shift; // 1 ... 53
        magnitude = significand >> dropped;
        const uint64_t remainder = significand & ((uint64_t{1} << dropped) - 1);
        const uint64_t half = uint64_t{1} << (dropped - 1);
        if (remainder > half || (remainder == half && (magnitude & 1) != 0))
            ++magnitude;
    }
    *rounded = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}
