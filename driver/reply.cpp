#include "reply.h"

#include <cstring>

namespace {

bool KeptByFilter(char c) { return c >= '.' && c <= '9'; } // '.', '/', '0'...'9'

// The characters of the reply line from which the channel's value is cut.
std::string WindowOf(const std::string &line, int32_t channel) {
    if (channel == 0) {
        const size_t point = line.find('.'); // position point + 1
        if (point == std::string::npos || point + 1 <= 4)
            return std::string();
        return line.substr(point - 2, 5);
    }
    if (channel == 1 && line.size() >= 5)
        return line.substr(4, 4);
    return std::string();
}

// Reads "digits[.digits]", ".digits" or "digits." with at least one digit.
// The window is five characters at most, so the digits fit an int exactly
// and one division by an exact power of ten rounds correctly.
bool ConvertDecimal(const std::string &text, double *value) {
    static const double powers[] = {1.0, 10.0, 100.0, 1000.0, 10000.0, 100000.0};
    if (text.empty() || text.size() > 5)
        return false;
    long mantissa = 0;
    int digits = 0;
    int decimals = 0;
    bool seenPoint = false;
    for (char c : text) {
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

double CutReading(const std::string &line, int32_t channel) {
    if (channel < 0 || channel > 1)
        return NOT_AVAILABLE;
    std::string text;
    bool negative = false;
    for (char c : WindowOf(line, channel)) {
        if (KeptByFilter(c))
            text.push_back(c);
        else if (c == '-' && text.empty())
            negative = true;
    }
    double value;
    if (!ConvertDecimal(text, &value))
        return NOT_AVAILABLE;
    return negative && value != 0.0 ? -value : value;
}

bool RoundHalfEven(const double &x, int64_t *rounded) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
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
