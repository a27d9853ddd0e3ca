// Line assembly against a scripted byte source and a clock that the test
// moves: a one-second wait or a wrap of the tick counter costs no real time.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "counter_ms.h"
#include "line_assembly.h"

namespace {

// Bytes arrive at given ticks; every poll of the clock advances it by one
// millisecond, like a busy loop on a fast machine.
struct ScriptedLine {
    std::deque<std::pair<uint32_t, char>> arrivals; // (tick, byte), in order
    std::string queue;                              // arrived, not yet read
    uint32_t now = 0;
    unsigned polls = 0;
    uint32_t backAt = UINT32_MAX; // the tick at which the clock steps back once
    uint32_t backBy = 0;
    uint32_t step = 1; // ms each look at the clock takes
};
ScriptedLine *script;

void Arrive() {
    while (!script->arrivals.empty() && script->arrivals.front().first <= script->now) {
        script->queue.push_back(script->arrivals.front().second);
        script->arrivals.pop_front();
    }
}
uint32_t Ticks() {
    ++script->polls;
    if (script->now == script->backAt) {
        script->now -= script->backBy;
        script->backAt = UINT32_MAX;
    }
    const uint32_t now = script->now;
    script->now += script->step;
    return now;
}
uint16_t Waiting() {
    Arrive();
    return static_cast<uint16_t>(script->queue.size());
}
bool ReadOne(char *byte, uint32_t) {
    if (script->queue.empty())
        return false;
    *byte = script->queue.front();
    script->queue.erase(0, 1);
    return true;
}
void Purge() {
    Arrive();
    script->queue.clear();
}
// A read that sleeps until a byte comes in, waitMs at most, as the ports do.
bool SleepForAByte(char *byte, uint32_t waitMs) {
    if (waitMs > 0 && Waiting() == 0) {
        const uint32_t wake = script->arrivals.empty()
                                  ? script->now + waitMs
                                  : std::min(script->now + waitMs, script->arrivals.front().first);
        script->now = std::max(script->now, wake);
    }
    return Waiting() > 0 && ReadOne(byte, 0);
}

std::string Assemble(LineSource &source, uint16_t timeoutMs, uint16_t capacity = 256) {
    char line[256];
    return std::string(line, AssembleLine(source, timeoutMs, line, capacity));
}

// The quiet time, the late window and the pause that ends a late reply.
const StaleInputTimes Times = {10, 250, 100};

class LineAssembly : public ::testing::Test {
  protected:
    void SetUp() override { script = &line; }
    // A line that a reply has shown to hand each byte over as it comes.
    LineSource source = {Ticks, Waiting, ReadOne, Purge, 0, false, 0, false, 4167, 60, 0};
    void Send(uint32_t at, const std::string &bytes, uint32_t spacing = 0) {
        for (char c : bytes) {
            line.arrivals.emplace_back(at, c);
            at += spacing;
        }
    }
    std::string Take(uint16_t timeoutMs = 1000) { return Assemble(source, timeoutMs); }
    ScriptedLine line;
};

TEST_F(LineAssembly, LineFeedAfterTheCarriageReturnOpensTheNextLine) {
    Send(0, "7.00 123\r\n");
    EXPECT_EQ(Take(), "7.00 123");
    EXPECT_EQ(line.queue, "\n");
    Send(line.now, "7.01 124\r");
    EXPECT_EQ(Take(), "\n7.01 124");
}

TEST_F(LineAssembly, BareCarriageReturnEndsAtOnce) {
    Send(0, "\r");
    EXPECT_EQ(Take(), "");
    EXPECT_LT(line.now, 5u);
}

TEST_F(LineAssembly, NothingReceivedTimesOutJustAfterTheLimit) {
    EXPECT_EQ(Take(), "");
    EXPECT_GT(line.now, 1000u);
    EXPECT_LT(line.now, 1010u);
}

TEST_F(LineAssembly, PartialLineIsDroppedAtTheTimeOut) {
    Send(10, "mV: -1", 4);
    Send(1500, "23\r");
    EXPECT_EQ(Take(), "");
    EXPECT_EQ(line.queue, "");
    EXPECT_EQ(Take(), "23"); // the rest of the late line opens the next one
}

TEST_F(LineAssembly, TwoLinesBackToBackAreTakenOneByOne) {
    Send(0, "first\rsecond\r");
    EXPECT_EQ(Take(), "first");
    EXPECT_EQ(line.queue, "second\r");
    EXPECT_EQ(Take(), "second");
}

// A line longer than the buffer is taken off the port whole but none of it
// is kept: a cut of its first part could pass for a reading.
TEST_F(LineAssembly, LineLongerThanTheBufferComesBackEmpty) {
    Send(0, std::string(8, 'x') + "\r" + std::string(9, 'y') + "\rnext\r");
    EXPECT_EQ(Assemble(source, 1000, 8), "xxxxxxxx");
    EXPECT_EQ(Assemble(source, 1000, 8), "");
    EXPECT_EQ(Take(), "next");
}

TEST_F(LineAssembly, TickCounterWrapDuringTheWait) {
    line.now = 0xFFFFFF00u;
    EXPECT_EQ(Take(), "");
    // Just over 1000 ms elapsed (each poll moves the clock by a tick or two).
    EXPECT_GE(line.now - 0xFFFFFF00u, 1002u);
    EXPECT_LE(line.now - 0xFFFFFF00u, 1004u);
}

TEST_F(LineAssembly, LineSpreadOverTheWholeWaitStillCounts) {
    Send(100, "mV: -123  pH:  7.02\r", 45); // CR at 100 + 19 * 45 = 955 ms
    EXPECT_EQ(Take(), "mV: -123  pH:  7.02");
}

// A stream that never ends its line: the wait ends at the limit, and what
// was queued by then is taken in, nothing more.
TEST_F(LineAssembly, EndlessStreamWithoutCarriageReturnStopsAtTheLimit) {
    for (uint32_t t = 0; t < 20000; t += 2)
        Send(t, "ab");
    EXPECT_EQ(Take(), "");
    EXPECT_LT(line.now, 1010u + 1100u); // the time-out plus one tick per queued byte
    EXPECT_FALSE(line.arrivals.empty());
}

TEST_F(LineAssembly, AFailedReadAppendsNothing) {
    // The port says a byte waits but the read fails: nothing is made up.
    LineSource liar = {Ticks,
                       [] { return uint16_t{1}; },
                       [](char *, uint32_t) { return false; },
                       Purge,
                       0,
                       false,
                       0,
                       false,
                       4167,
                       60,
                       0};
    EXPECT_EQ(Assemble(liar, 50), "");
}

// A source that can sleep is never asked to sleep past the time-out, and its
// sleep ends when a byte comes in.
TEST_F(LineAssembly, SleepsBetweenBytesWithinTheTimeOut) {
    static uint32_t longestWait;
    longestWait = 0;
    source.readByte = [](char *byte, uint32_t waitMs) {
        longestWait = std::max(longestWait, waitMs);
        return SleepForAByte(byte, waitMs);
    };
    Send(300, "7.02\r", 4);
    EXPECT_EQ(Take(), "7.02");
    EXPECT_LT(line.polls, 40u);
    EXPECT_LE(longestWait, 1001u);
    EXPECT_EQ(Take(), "");
    EXPECT_GT(line.now, 300u + 16u + 1000u);
    EXPECT_LE(line.now, 300u + 16u + 1005u);
}

// The reader was kept off the processor while its reply came in: the bytes
// queued by the time it runs again are its answer; later ones are not.
TEST_F(LineAssembly, ReplyQueuedWhileTheReaderSleptPastTheTimeOutCounts) {
    Send(100, "mV: -123\r");
    source.readByte = [](char *byte, uint32_t waitMs) {
        if (waitMs > 0)
            script->now += 1500; // descheduled
        return ReadOne(byte, 0);
    };
    EXPECT_EQ(Take(), "mV: -123");
    Send(line.now + 2000, "late\r"); // comes only after the reader woke up
    EXPECT_EQ(Take(), "");
}

TEST_F(LineAssembly, StaleInputStillOnTheWireIsDropped) {
    Send(0, "mV: -123\r");
    Send(14, "\n"); // the line feed of a CR LF reply, a few ticks behind
    EXPECT_EQ(Take(), "mV: -123");
    DropStaleInput(source, Times, 1000);
    EXPECT_EQ(line.queue, "");
    EXPECT_TRUE(line.arrivals.empty());
    EXPECT_GE(line.now, 24u); // quiet for 10 ms after the line feed
}

TEST_F(LineAssembly, QuietLineIsClearedWithoutWaiting) {
    DropStaleInput(source, Times, 1000); // nothing ever heard
    EXPECT_LT(line.now, 3u);
    Send(line.now, "x\r");
    Take();
    line.now += 50;
    Send(line.now, "noise");
    const uint32_t start = line.now;
    DropStaleInput(source, Times, 1000);
    EXPECT_EQ(line.queue, "");
    EXPECT_LT(line.now - start, 15u);
}

TEST_F(LineAssembly, LineThatNeverFallsSilentIsGivenUpOnAtTheTimeOut) {
    for (uint32_t t = 0; t < 3000; t += 4)
        Send(t, "z");
    DropStaleInput(source, Times, 1000);
    EXPECT_GT(line.now, 1000u);
    EXPECT_LT(line.now, 1010u);
}

// After a reading that got no line in time, a reply that begins up to the
// late window after the time-out is dropped before the next query, however
// it trickles in; the next query then gets its own answer. Only the part of
// the window still to come is waited for.
TEST_F(LineAssembly, LateReplyAfterAMissedLineIsDroppedNotTakenNext) {
    for (const uint32_t late : {0u, 20u, 100u, 200u, 250u}) {
        line = ScriptedLine();
        source.heardAny = source.missedLine = false;
        EXPECT_EQ(Take(), "");
        const uint32_t missedAt = line.now;
        Send(missedAt + late, "pH 7.02 -123\r\n", 4); // 4 ms a byte, as at 2400 baud
        DropStaleInput(source, Times, 1000);
        EXPECT_TRUE(line.arrivals.empty()) << late << " ms late: still to come after the drop";
        EXPECT_EQ(line.queue, "") << late << " ms late";
        EXPECT_LE(line.now, missedAt + std::max(260u, late + 4 * 14 + 12)) << late << " ms late";
        Send(line.now, "pH 4.01 +170\r");
        EXPECT_EQ(Take(), "pH 4.01 +170") << late << " ms late";
    }
}

// A late reply that a USB adapter delivers in bursts, 16 or 40 ms apart
// (longer than the quiet time), and that goes on past the late window: it is
// dropped up to its carriage return, never left to open the next answer. One
// without a carriage return is given up on after the longer pause.
TEST_F(LineAssembly, LateReplyInBurstsIsDroppedWhole) {
    for (const uint32_t pause : {16u, 40u}) {
        line = ScriptedLine();
        source.heardAny = source.missedLine = false;
        EXPECT_EQ(Take(), "");
        const uint32_t missedAt = line.now;
        const std::string reply = "mV: +300  pH:  3.00\r";
        for (size_t i = 0; i < reply.size(); i += 4)
            Send(missedAt + 200 + static_cast<uint32_t>(i / 4 + 1) * pause, reply.substr(i, 4));
        DropStaleInput(source, Times, 1000);
        EXPECT_TRUE(line.arrivals.empty()) << pause << " ms bursts: the tail still to come";
        Send(line.now, "mV: +301  pH:  3.01\r");
        EXPECT_EQ(Take(), "mV: +301  pH:  3.01") << pause << " ms bursts";
    }
    EXPECT_EQ(Take(), "");
    const uint32_t missedAt = line.now;
    Send(missedAt + 240, "mV: +3"); // cut short
    DropStaleInput(source, Times, 1000);
    EXPECT_GE(line.now, missedAt + 240 + 100);
    EXPECT_LE(line.now, missedAt + 240 + 104);
}

TEST_F(LineAssembly, LateWindowCostsNothingOnceOverOrAfterALine) {
    EXPECT_EQ(Take(), "");
    line.now += 300; // the host paused after the failed reading
    uint32_t start = line.now;
    DropStaleInput(source, Times, 1000);
    EXPECT_LT(line.now - start, 3u);

    Send(line.now, "7.02\r"); // a prompt answer: no window at all
    EXPECT_EQ(Take(), "7.02");
    line.now += 20;
    start = line.now;
    DropStaleInput(source, Times, 1000);
    EXPECT_LT(line.now - start, 3u);

    // The window's limit: a reply that begins after it is an answer to the
    // next query as far as any driver can tell.
    EXPECT_EQ(Take(), "");
    const uint32_t missedAt = line.now;
    DropStaleInput(source, Times, 1000);
    EXPECT_GE(line.now, missedAt + 259);
    EXPECT_LE(line.now, missedAt + 262);
    Send(missedAt + 300, "7.03\r");
    EXPECT_EQ(Take(), "7.03");
}

// A line awaited without a query (a channel without a value) neither opens
// a late window nor closes one a query left: whatever line it took, even one
// of that query's own late reply's bytes, the rest may still come.
TEST_F(LineAssembly, LineAwaitedWithoutQueryLeavesTheLateWindowAsItWas) {
    char bytes[16];
    EXPECT_EQ(AssembleAnswer(source, false, 1000, bytes, sizeof bytes), 0u);
    uint32_t start = line.now;
    DropStaleInput(source, Times, 1000);
    EXPECT_LT(line.now - start, 3u);

    EXPECT_EQ(AssembleAnswer(source, true, 1000, bytes, sizeof bytes), 0u);
    const uint32_t missedAt = line.now;
    Send(missedAt + 5, "x\r");
    Send(missedAt + 200, "pH 3.00\r", 4); // the query's late reply
    EXPECT_EQ(AssembleAnswer(source, false, 1000, bytes, sizeof bytes), 1u);
    DropStaleInput(source, Times, 1000);
    EXPECT_GE(line.now, missedAt + 259);
    Send(line.now, "pH 7.03\r");
    EXPECT_EQ(Take(), "pH 7.03");
}

// A counter that steps back (the performance counter read on another core
// of some multi-core XP machines) takes no time off a wait: the reading
// keeps its whole time-out, the quiet time and the late window their whole
// length, however early in them the step comes.
TEST_F(LineAssembly, ClockSteppingBackShortensNoWait) {
    line.now = 100;
    line.backAt = 101; // the poll just after the start reads 99
    line.backBy = 2;
    Send(600, "7.02\r");
    EXPECT_EQ(Take(), "7.02");

    Send(line.now, "x\r");
    Send(line.now + 5, "\n"); // the line feed, still on the wire
    EXPECT_EQ(Take(), "x");
    line.backAt = line.now;
    line.backBy = 3; // behind the line's last byte
    DropStaleInput(source, Times, 1000);
    EXPECT_TRUE(line.arrivals.empty());

    EXPECT_EQ(Take(), "");
    const uint32_t missedAt = line.now;
    line.backAt = line.now;
    line.backBy = 3;                      // behind the miss
    Send(missedAt + 200, "pH 3.00\r", 4); // late, inside the window
    DropStaleInput(source, Times, 1000);
    EXPECT_GE(line.now, missedAt + 258);
    Send(line.now, "pH 7.03\r");
    EXPECT_EQ(Take(), "pH 7.03");
}

// How bytes that leave the meter reach the driver: each as it comes; through
// a USB adapter whose latency timer starts with the first byte it gets while
// idle and sends what it holds every latencyMs; or through a UART FIFO that
// hands over 14 bytes at a time, or what it holds after four quiet
// characters.
struct Delivery {
    const char *name;
    uint32_t latencyMs; // 0: no adapter
    bool fifo;
};
const uint64_t CharacterUs = 4167;

// When bytes leaving at leaveUs (in order) reach the driver, in ms ticks.
std::vector<uint32_t> Arrivals(const Delivery &d, const std::vector<uint64_t> &leaveUs) {
    std::vector<uint32_t> at;
    size_t held = 0; // bytes waiting in the adapter or the FIFO
    const auto handOver = [&](uint64_t us) {
        for (; held > 0; --held)
            at.push_back(static_cast<uint32_t>((us + 999) / 1000));
    };
    uint64_t tick = 0, lastIn = 0;
    for (const uint64_t leave : leaveUs) {
        if (d.latencyMs > 0) {
            for (; tick != 0 && tick < leave; tick += d.latencyMs * 1000)
                if (held == 0)
                    tick = 0 - d.latencyMs * 1000; // stopped: the next byte starts it
                else
                    handOver(tick);
            if (tick == 0)
                tick = leave + d.latencyMs * 1000;
        } else if (d.fifo && held > 0 && lastIn + 4 * CharacterUs < leave) {
            handOver(lastIn + 4 * CharacterUs);
        }
        ++held;
        lastIn = leave;
        if (d.latencyMs == 0 && (!d.fifo || held == 14))
            handOver(leave);
    }
    handOver(d.latencyMs > 0 ? tick : lastIn + 4 * CharacterUs);
    return at;
}

const Delivery Deliveries[] = {
    {"direct", 0, false}, {"USB 16 ms", 16, false}, {"USB 40 ms", 40, false}, {"FIFO", 0, true}};

class LineDelivery : public LineAssembly {
  protected:
    void SetUp() override {
        LineAssembly::SetUp();
        line.step = 0; // reads take no time; the clock moves while the reader sleeps
        source.readByte = SleepForAByte;
        source.holdMs = source.holdLimitMs; // nothing shown yet
    }
    // Sends text as the meter does, from atMs, one character after another,
    // through d; answers when its last byte arrives.
    uint32_t Meter(const Delivery &d, uint32_t atMs, const std::string &text) {
        std::vector<uint64_t> leave;
        for (size_t i = 0; i < text.size(); ++i)
            leave.push_back(atMs * 1000ull + i * CharacterUs);
        const std::vector<uint32_t> at = Arrivals(d, leave);
        for (size_t i = 0; i < text.size(); ++i)
            line.arrivals.emplace_back(at[i], text[i]);
        return at.back();
    }
};

// Each line's hold is learnt from the reply read, and both waits allow for
// it: bytes that leave the meter 5 ms after a reply are dropped before the
// next query, and so is a reply that leaves it 250 ms after a time-out,
// whole. A back-to-back reading pays the quiet time and the line's own hold,
// no more: nothing on a direct line.
TEST_F(LineDelivery, TheWaitsAllowForTheHoldEachLineHasShown) {
    const uint32_t least[] = {0, 11, 35, 53}; // hold shown, down to a character below the most
    const uint32_t most[] = {0, 16, 40, 58};
    for (size_t k = 0; k < 4; ++k) {
        const Delivery &d = Deliveries[k];
        line = ScriptedLine();
        line.step = 0;
        source.holdMs = source.holdLimitMs;
        source.heardAny = source.missedLine = false;
        // The reply, then three bytes 5 ms after its carriage return.
        const std::string reply = "mV: +101  pH:  7.02\r";
        std::vector<uint64_t> leave;
        for (size_t i = 0; i < reply.size(); ++i)
            leave.push_back(10000 + i * CharacterUs);
        for (uint64_t i = 0; i < 3; ++i)
            leave.push_back(10000 + 20 * CharacterUs + 5000 + i * CharacterUs);
        const std::vector<uint32_t> at = Arrivals(d, leave);
        const std::string bytes = reply + "xyz";
        for (size_t i = 0; i < bytes.size(); ++i)
            line.arrivals.emplace_back(at[i], bytes[i]);
        EXPECT_EQ(Take(), "mV: +101  pH:  7.02") << d.name;
        EXPECT_GE(source.holdMs, least[k]) << d.name;
        EXPECT_LE(source.holdMs, most[k]) << d.name;
        DropStaleInput(source, Times, 1000);
        EXPECT_TRUE(line.arrivals.empty() && line.queue.empty()) << d.name << ": bytes left";
        EXPECT_LE(line.now, at.back() + 10 + source.holdMs) << d.name;

        Meter(d, line.now, "mV: +102  pH:  7.03\r");
        EXPECT_EQ(Take(), "mV: +102  pH:  7.03") << d.name;
        const uint32_t replyAt = line.now;
        DropStaleInput(source, Times, 1000);
        EXPECT_EQ(line.now - replyAt, 10u + source.holdMs) << d.name << ": back to back";

        EXPECT_EQ(Take(), "") << d.name;
        const uint32_t missedAt = line.now;
        Meter(d, missedAt + 250, "mV: +103  pH:  7.04\r");
        DropStaleInput(source, Times, 1000);
        EXPECT_TRUE(line.arrivals.empty() && line.queue.empty()) << d.name << ": late reply";
        Meter(d, line.now, "mV: +104  pH:  7.05\r");
        EXPECT_EQ(Take(), "mV: +104  pH:  7.05") << d.name;
    }
}

// Until a reply long enough to show it has come, the line's hold is taken
// at the limit: bytes that come 60 ms after the last are still stale, and
// the late window is 320 ms. A reply that pauses longer than that inside
// shows the limit, not its pause.
TEST_F(LineDelivery, UntilALineIsShownItsHoldIsTakenAtTheLimit) {
    Meter(Deliveries[2], 0, "7.02\r"); // too short to show a 40 ms adapter
    EXPECT_EQ(Take(), "7.02");
    EXPECT_EQ(source.holdMs, 60u);
    const uint32_t crAt = line.now;
    Meter(Deliveries[0], crAt + 60, "\n7.0");
    DropStaleInput(source, Times, 1000);
    EXPECT_TRUE(line.arrivals.empty() && line.queue.empty());
    EXPECT_EQ(Take(), "");
    const uint32_t missedAt = line.now;
    DropStaleInput(source, Times, 1000);
    EXPECT_EQ(line.now - missedAt, 320u);

    Meter(Deliveries[0], line.now, "mV: +101  p");
    Meter(Deliveries[0], line.now + 200, "H:  7.02\r");
    EXPECT_EQ(Take(), "mV: +101  pH:  7.02");
    EXPECT_EQ(source.holdMs, 60u);
    Meter(Deliveries[0], line.now, "mV: +101  pH:  7.02\r");
    EXPECT_EQ(Take(), "mV: +101  pH:  7.02");
    EXPECT_EQ(source.holdMs, 0u);
}

// The performance counter's milliseconds stay exact for any uptime, past
// the point where the count times 1000 overflows 64 bits.
TEST(CounterMilliseconds, ExactForAnyUptime) {
    const uint64_t ghz3 = 3000000000u;
    EXPECT_EQ(CounterMilliseconds(7 * ghz3 + ghz3 / 4, ghz3), 7250u);
    // 100 days and half a second: 8,640,000,500 ms, wrapped at 2^32.
    EXPECT_EQ(CounterMilliseconds(8640000u * ghz3 + ghz3 / 2, ghz3), 50065908u);
    EXPECT_EQ(CounterMilliseconds(UINT64_MAX, 10000000u),
              static_cast<uint32_t>(1844674407370955ull));
}

} // namespace
