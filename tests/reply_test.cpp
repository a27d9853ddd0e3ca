// Cutting a reading out of a reply line, and the rounding of the channel
// interface.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "reply.h"

namespace {

double Cut(const std::string &line, int32_t channel) {
    return CutReading(line.data(), line.size(), channel);
}

struct Case {
    const char *line;
    int32_t channel;
    double expected;
};

TEST(CutReading, MeterReplyTable) {
    const Case cases[] = {
        {"pH= 7.02", 0, 7.02},
        {"  7.02", 0, NOT_AVAILABLE}, // point at position 4: too far left
        {"", 0, NOT_AVAILABLE},       // time-out
        {"abcd12.5xyz", 1, 12.5},
        {"7.02-123", 0, NOT_AVAILABLE},
        {"123", 1, NOT_AVAILABLE}, // shorter than five characters
        {"1234", 1, NOT_AVAILABLE},
        {"12345", 1, 5.0}, // a window cut short by the end of the line
        {"mV: -123  pH:  7.02", 0, 7.02},
        {"mV: +045  pH: 14.00", 0, 14.0},
        {"mV: +045  pH: 14.00", 1, 45.0},
        {"mV: 12.5", 1, 12.5},
        {"xxxx1.2.", 0, NOT_AVAILABLE}, // a second point
        {"xxx 1/2", 1, NOT_AVAILABLE},  // a slash does not convert
        {"xxxx1/23", 1, NOT_AVAILABLE},
        {"xxxx .", 1, NOT_AVAILABLE}, // a lone point is no number
        {"xxxx .5", 1, 0.5},
        {"xxxx 5.", 1, 5.0},
        {"abcdefgh", 1, NOT_AVAILABLE},
        {"pH=12.345", 0, 12.34}, // two decimals at most: the window is five wide
    };
    for (const Case &c : cases)
        EXPECT_EQ(Cut(c.line, c.channel), c.expected)
            << "line '" << c.line << "' channel " << c.channel;
}

TEST(CutReading, OtherChannelsHaveNoValue) {
    for (int32_t channel : {-1, 2, 3, 1000, INT32_MIN, INT32_MAX})
        EXPECT_EQ(Cut("mV: -123  pH:  7.02", channel), NOT_AVAILABLE);
}

// A minus sign before every kept character of the window is the number's
// sign; one anywhere else is dropped.
TEST(CutReading, KeepsTheSignOfANegativeReading) {
    EXPECT_EQ(Cut("7.02-123", 1), -123.0);
    EXPECT_EQ(Cut("pHx-1.25", 0), -1.25);
    EXPECT_EQ(Cut("mV: -005  pH:  7.02", 1), -5.0);
    EXPECT_EQ(Cut("abcd- 12", 1), -12.0);
    EXPECT_EQ(Cut("abcd1-23", 1), 123.0);
    EXPECT_EQ(Cut("pH= 7.-2", 0), 7.2);
    EXPECT_EQ(Cut("abcd-", 1), NOT_AVAILABLE);
    const double zero = Cut("abcd-000", 1);
    EXPECT_EQ(zero, 0.0);
    EXPECT_FALSE(std::signbit(zero));
}

// Line feeds that opened a line are an earlier CR LF reply's, however late
// they came: the fixed places count from the first other byte. One after
// that is part of the line.
TEST(CutReading, LeadingLineFeedsAreNotPartOfTheReply) {
    EXPECT_EQ(Cut("\nmV: -123  pH:  7.02", 1), -123.0);
    EXPECT_EQ(Cut("\n\n\nmV: -123  pH:  7.02", 0), 7.02);
    EXPECT_EQ(Cut("\n\n", 1), NOT_AVAILABLE);
    EXPECT_EQ(Cut("m\nV: -123", 1), -12.0);
}

TEST(CutReading, ControlAndHighBytesAreDropped) {
    const std::string line("mV:\0+1\xff"
                           "2  pH:\x80 7.02",
                           18);
    EXPECT_EQ(Cut(line, 1), 12.0);
    EXPECT_EQ(Cut(std::string(5000, '9') + ".5", 0), 99.5);
    EXPECT_EQ(Cut(std::string(5000, '\0'), 1), NOT_AVAILABLE);
}

TEST(CutReading, ConversionIsCorrectlyRounded) {
    EXPECT_EQ(Cut("xxx 0.10", 0), 0.1);
    EXPECT_EQ(Cut("xxx99.99", 0), 99.99);
    EXPECT_EQ(Cut("xxxx.001", 1), 0.001);
    EXPECT_EQ(Cut("xxxx9999", 1), 9999.0);
}

int64_t Rounded(double x) {
    int64_t result = 12345;
    EXPECT_TRUE(RoundHalfEven(BitsOf(x), &result)) << x;
    return result;
}

TEST(RoundHalfEven, HalvesGoToEven) {
    EXPECT_EQ(Rounded(0.4), 0);
    EXPECT_EQ(Rounded(0.5), 0);
    EXPECT_EQ(Rounded(1.5), 2);
    EXPECT_EQ(Rounded(2.5), 2);
    EXPECT_EQ(Rounded(3.5), 4);
    EXPECT_EQ(Rounded(-2.5), -2);
    EXPECT_EQ(Rounded(-3.5), -4);
    EXPECT_EQ(Rounded(12.5), 12);
    EXPECT_EQ(Rounded(13.5), 14);
    EXPECT_EQ(Rounded(0.49999999999999994), 0);
    EXPECT_EQ(Rounded(0.5000000000000001), 1);
    EXPECT_EQ(Rounded(-0.0), 0);
    EXPECT_EQ(Rounded(1e-310), 0);
    EXPECT_EQ(Rounded(702.0000000000001), 702);
    EXPECT_EQ(Rounded(7.02 * 100), 702);
    EXPECT_EQ(Rounded(4503599627370495.5), 4503599627370496); // 2^52 - 0.5
    EXPECT_EQ(Rounded(4503599627370497.0), 4503599627370497);
}

TEST(RoundHalfEven, EdgesOfTheRange) {
    EXPECT_EQ(Rounded(-9223372036854775808.0), INT64_MIN);
    EXPECT_EQ(Rounded(9223372036854774784.0), 9223372036854774784); // largest double < 2^63
    int64_t untouched = 99;
    for (double x :
         {9223372036854775808.0, -9223372036854777856.0, 1e300, -1e300,
          std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::signaling_NaN()}) {
        EXPECT_FALSE(RoundHalfEven(BitsOf(x), &untouched)) << x;
        EXPECT_EQ(untouched, 99);
    }
}

} // namespace
