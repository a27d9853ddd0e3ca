// When the simulator's loop wakes to pass a meter's output on: never before now, so that the wait
// it computes stays a small duration, also after the pty took only part of a write; not at all
// while the pty is full. And what goes out by then. Run on a real pty whose slave is open.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "meter.h"
#include "meter_io.h"
#include "meter_pty.h"

namespace {

struct OpenMeter : ::testing::Test {
    void SetUp() override {
        open_pty(m);
        slave = open(m.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(slave, 0) << m.slave;
        m.connected = true;
    }
    void TearDown() override {
        if (slave >= 0)
            close(slave);
        close_meter(m);
    }
    // Waits up to a second for the slave to have bytes (the kernel moves them from the master
    // in its own time), then reads all it has; answers how many bytes that was. A kernel
    // slower than that fails the test; it cannot make a wrong count pass.
    size_t Drain() {
        pollfd p{slave, POLLIN, 0};
        poll(&p, 1, 1000);
        char buf[4096];
        size_t got = 0;
        for (ssize_t n; (n = read(slave, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);)
            got += n > 0 ? static_cast<size_t>(n) : 0;
        return got;
    }
    Meter m;
    int slave = -1;
};

TEST_F(OpenMeter, WakesNeverBeforeNowAfterAPartialWriteAndNotWhileFull) {
    const Clock::time_point now = Clock::now();
    // Far more than a pty holds, all due at once.
    const std::string bytes(1 << 20, 'x');
    m.out.push_back({now, bytes});
    send_due(m, now, true);
    ASSERT_FALSE(m.blocked);
    ASSERT_FALSE(m.adapter.ready().empty()) << "the pty took all of it";
    EXPECT_EQ(next_output(m, now, true), now) << "bytes the pty did not take are due now";

    for (int i = 0; i < 1000 && !m.blocked; ++i) // until the pty takes no more
        send_due(m, now, true);
    ASSERT_TRUE(m.blocked);
    EXPECT_EQ(next_output(m, now, true), Clock::time_point::max());

    size_t received = 0;
    for (size_t got = 1; got != 0 && received < bytes.size(); received += got) {
        got = Drain();
        send_due(m, Clock::now(), true);
    }
    EXPECT_EQ(received, bytes.size()) << "the rest went out once the pty had room";
    EXPECT_FALSE(m.blocked);
    EXPECT_EQ(next_output(m, now, true), Clock::time_point::max()) << "nothing left to send";
}

TEST_F(OpenMeter, WakesForTheLinesNextByteOrNowWhenItIsOverdue) {
    const Clock::time_point now = Clock::now();
    const Clock::time_point later = now + std::chrono::milliseconds(300);
    m.out.push_back({later, "mV: -123  pH:  7.02\r"});
    EXPECT_EQ(next_output(m, now, false), later);
    send_due(m, later + byte_offset(3, false), false); // bytes 0 to 3 went
    EXPECT_EQ(next_output(m, now, false), later + byte_offset(4, false));
    const Clock::time_point afterwards = later + std::chrono::seconds(1);
    EXPECT_EQ(next_output(m, afterwards, false), afterwards);
}

// However long ago a chunk was due (the pty was full for days, say), it goes out whole.
TEST_F(OpenMeter, AChunkDueLongAgoGoesOutWhole) {
    const Clock::time_point now = Clock::now();
    m.out.push_back({now - std::chrono::hours(24 * 200), "mV: -123\r"});
    send_due(m, now, false);
    EXPECT_TRUE(m.out.empty());
    EXPECT_EQ(Drain(), 9u);
}

} // namespace
