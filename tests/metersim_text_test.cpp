// The simulator's texts on their own: the escapes of the control file's reply key and of the
// query log, the bounds of its millisecond keys, and the reading line it sends, which its own
// check (the log's valid field) must accept over the whole pH range the driver decodes.
#include <gtest/gtest.h>

#include <string>

#include "meter_control.h"
#include "meter_replies.h"
#include "usb_adapter.h"

TEST(MetersimControl, EscapesRoundTripAsOneBlankFreeToken) {
    std::string every;
    for (int c = 0; c < 256; ++c)
        every += static_cast<char>(c);
    const std::string escaped = escape(every);
    for (char c : escaped)
        EXPECT_TRUE(c > ' ' && c < 0x7f) << "byte " << static_cast<int>(c) << " left in the log";
    EXPECT_EQ(unescape(escaped), every);
    EXPECT_EQ(escape("mV: +045\r\n"), "mV:\\x20+045\\r\\n");
    // Backslashes that start no escape stay as written.
    EXPECT_EQ(unescape("a\\qb\\x4\\xZZ\\"), "a\\qb\\x4\\xZZ\\");
    EXPECT_EQ(unescape("\\x0d\\X41\\x41"), "\r\\X41A");
}

TEST(MetersimControl, MillisecondsWithinBoundsOrUnchanged) {
    long ms = 7;
    EXPECT_TRUE(to_ms("0", kLongestMs, ms) && ms == 0);
    EXPECT_TRUE(to_ms("3600000", kLongestMs, ms) && ms == 3600000);
    EXPECT_TRUE(to_ms("255", kLongestLatencyMs, ms) && ms == 255);
    ms = 7;
    for (const char *bad : {"3600001", "-1", "1.5", "", "12x"})
        EXPECT_FALSE(to_ms(bad, kLongestMs, ms)) << bad;
    EXPECT_FALSE(to_ms("256", kLongestLatencyMs, ms));
    EXPECT_EQ(ms, 7);
    EXPECT_TRUE(is_fault("none") && is_fault("random") && !is_fault("") && !is_fault("Late"));
}

TEST(MetersimReply, ReadingLineOverTheDecodedRange) {
    for (double ph : {-9.99, 0.0, 7.02, 14.0, 99.99})
        for (long mv : {-999L, -1L, 0L, 45L, 999L}) {
            std::string line = default_reply(ph, mv);
            ASSERT_EQ(line.back(), '\r');
            line.pop_back();
            EXPECT_TRUE(reading_line(line)) << line;
            line[8] = line[9] = '\0'; // the nul fault
            EXPECT_TRUE(reading_line(line)) << ph << " " << mv;
        }
    EXPECT_EQ(default_reply(7.02, -123), "mV: -123  pH:  7.02\r");
    EXPECT_EQ(default_reply(14.0, 0), "mV: +000  pH: 14.00\r");
    // Beyond the range the point moves; a short, cut or altered line is no reading.
    EXPECT_FALSE(reading_line("mV: +000  pH:100.00"));
    EXPECT_FALSE(reading_line("mV: +000  pH:-10.00"));
    EXPECT_FALSE(reading_line("mV: +000  pH: 7.0"));
    EXPECT_FALSE(reading_line("mV: 0000  pH:  7.02"));
    EXPECT_FALSE(reading_line(std::string("mV: +000  pH:\0 7.02", 19)));
}

// The delivery a line ends in: a 40 ms adapter sends what it holds every 40 ms from the first
// byte, and a 14-byte FIFO hands over 14 bytes at once, the rest four characters after the last.
TEST(MetersimDelivery, AdapterBurstsAndFifoHandovers) {
    using std::chrono::milliseconds;
    const UsbAdapter::Clock::time_point t0{};
    const auto byteAt = [&](size_t k) {
        return t0 + std::chrono::nanoseconds(static_cast<long long>(k) * 10000000000LL / 2400);
    };
    UsbAdapter adapter, fifo;
    adapter.set_latency(40);
    fifo.set_fifo(14);
    for (size_t k = 0; k < 20; ++k) {
        EXPECT_EQ(adapter.take('x', byteAt(k)), t0 + milliseconds(k < 10 ? 40 : 80)) << k;
        const UsbAdapter::Clock::time_point handed = fifo.take('x', byteAt(k));
        if (k == 13) {
            EXPECT_EQ(handed, byteAt(13)); // the fourteenth byte fills it
        } else if (k > 13) {
            EXPECT_EQ(handed, byteAt(k) + std::chrono::nanoseconds(4 * 10000000000LL / 2400));
        }
    }
    fifo.release(byteAt(19) + milliseconds(16));
    EXPECT_EQ(fifo.ready().size(), 14u);
    fifo.release(byteAt(19) + milliseconds(17));
    EXPECT_EQ(fifo.ready().size(), 20u);
    EXPECT_FALSE(fifo.next_send());
}
