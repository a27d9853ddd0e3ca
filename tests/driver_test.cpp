// The deliverables as a host sees them: loaded by path, called through their
// exports, against simulated meters on com1: and com2: (com3: ... com5: have
// none attached).
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "exports.h"
#include "host.h"

namespace {

struct Deliverable {
    explicit Deliverable(int port, bool global = false)
        : library(host::Load(host::LibraryPath(port), global)) {
        if (library == nullptr)
            return;
        read = host::Export<decltype(&ead)>(library, "ead");
        readInteger = host::Export<decltype(&ea)>(library, "ea");
        title = host::Export<decltype(&titre)>(library, "titre");
        details = host::Export<decltype(&detail)>(library, "detail");
        stdTitle = host::Export<decltype(&stdtitre)>(library, "stdtitre");
        stdReadInteger = host::Export<decltype(&stdea)>(library, "stdea");
        stdRead = host::Export<decltype(&stdead)>(library, "stdead");
        readByAddress = host::Export<decltype(&pead)>(library, "pead");
    }
    ~Deliverable() {
        if (library != nullptr)
            host::Unload(library);
    }
    void *library;
    decltype(&ead) read = nullptr;
    decltype(&ea) readInteger = nullptr;
    decltype(&titre) title = nullptr;
    decltype(&detail) details = nullptr;
    decltype(&stdtitre) stdTitle = nullptr;
    decltype(&stdea) stdReadInteger = nullptr;
    decltype(&stdead) stdRead = nullptr;
    decltype(&pead) readByAddress = nullptr;
};

// How long a reading took, in milliseconds.
template <typename Call> double Timed(Call call) {
    const double start = host::NowMs();
    call();
    return host::NowMs() - start;
}

const char Normal[] = "ph=7.02\nmv=-123\nfault=none\n";

class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        host::SetMeter(1, Normal);
        host::SetMeter(2, Normal);
    }
};

TEST_F(Driver, EachDeliverableLoadsWithItsOwnTexts) {
    for (int port = 1; port <= 5; ++port) {
        Deliverable d(port);
        ASSERT_NE(d.library, nullptr) << host::LibraryPath(port);
        ASSERT_NE(d.title, nullptr);
        const std::string com = "com" + std::to_string(port) + ":";
        EXPECT_EQ(std::string(d.title()), "phm\xE8tre PHN130T," + com);
        const std::string maker = port == 1 ? "" : "Tacussel ";
        EXPECT_EQ(std::string(d.details()), "DLL pour pHm\xE8tre " + maker +
                                                "Radiometer PHN130T, " + com +
                                                ", Orlevan, 26 nov 2007");
    }
}

TEST_F(Driver, LoadSetsTheLineAndSendsNothing) {
    const std::string before = host::Received(1);
    Deliverable d(1);
    const std::string settings = host::LineSettings(1);
    EXPECT_NE(settings.find("speed=2400 "), std::string::npos) << settings;
    EXPECT_NE(settings.find("csize=8 parenb=0"), std::string::npos) << settings;
    for (const char *off :
         {"cstopb=0", "crtscts=0", "ixon=0", "ixoff=0", "icanon=0", "echo=0", "icrnl=0"})
        EXPECT_NE(settings.find(off), std::string::npos) << off << " in " << settings;
    EXPECT_EQ(host::Received(1), before);
}

TEST_F(Driver, ReadsThePhAndThePotential) {
    Deliverable d(1);
    EXPECT_EQ(d.read(0), 7.02);
    EXPECT_EQ(d.read(1), -123.0);
    host::SetMeter(1, "ph=14.00\nmv=45\n");
    EXPECT_EQ(d.read(0), 14.0);
    EXPECT_EQ(d.read(1), 45.0);
    EXPECT_EQ(d.readInteger(0), 1400);
    EXPECT_EQ(d.readInteger(1), 45);
    // Each reading is one query on the line.
    const std::string sent = host::Received(1);
    EXPECT_GE(sent.size(), 6 * 4u);
    EXPECT_EQ(sent.substr(sent.size() - 4), "?RD\r");
}

TEST_F(Driver, CutsRepliesAtTheirFixedPlaces) {
    struct Case {
        const char *reply;
        int32_t channel;
        double expected;
    } cases[] = {
        {"pH= 7.02\\r", 0, 7.02},    {"pHx-1.25\\r", 0, -1.25},  {"  7.02\\r", 0, -777.0},
        {"abcd12.5xyz\\r", 1, 12.5}, {"7.02-123\\r", 1, -123.0}, {"7.02-123\\r", 0, -777.0},
        {"123\\r", 1, -777.0},       {"xxx 1/2\\r", 1, -777.0},  {"\\x00\\x01\\xff\\r", 1, -777.0},
    };
    Deliverable d(1);
    for (const Case &c : cases) {
        host::SetMeter(1, std::string("reply=") + c.reply + "\n");
        EXPECT_EQ(d.read(c.channel), c.expected) << c.reply;
    }
}

// The wait for a reply that never comes is spent asleep.
TEST_F(Driver, NoReplyGivesNoValueAfterTheTimeOut) {
    Deliverable d(1);
    host::SetMeter(1, "fault=silent\n");
    double value = 0;
    const double cpu = host::CpuMs();
    const double ms = Timed([&] { value = d.read(0); });
    EXPECT_EQ(value, -777.0);
    EXPECT_GT(ms, 990);
    EXPECT_LT(ms, 1300);
    EXPECT_LT(host::CpuMs() - cpu, 50);
    EXPECT_EQ(d.readInteger(0), -777); // never -77700
}

TEST_F(Driver, LeftoverInputIsNeverTakenForTheAnswer) {
    Deliverable d(1);
    // A CR LF reply leaves its line feed queued: the next potential must not
    // be cut from shifted places.
    host::SetMeter(1, "ph=7.02\nmv=-123\nfault=crlf\n");
    EXPECT_EQ(d.read(1), -123.0);
    EXPECT_EQ(d.read(1), -123.0);
    // A reply that came after the time-out is not the answer to the next query.
    host::SetMeter(1, "ph=3.00\nmv=300\nfault=late\nlate_ms=1100\n");
    EXPECT_EQ(d.read(0), -777.0);
    host::SetMeter(1, "ph=5.55\nmv=555\n");
    host::SleepMs(400); // the late reply is now queued in full
    EXPECT_EQ(d.read(0), 5.55);
    // One whose carriage return comes just after the time-out, read again at
    // once: its tail is still arriving when the next reading begins. A
    // reader that fell 30 ms behind the line (an emulated PC) finds the whole
    // reply queued when its time runs out, and takes it: that query's own.
    host::SetMeter(1, "ph=3.00\nmv=300\nfault=late\nlate_ms=950\n");
    const double late = d.read(0);
    EXPECT_TRUE(late == -777.0 || late == 3.0) << late;
    host::SetMeter(1, "ph=5.55\nmv=555\n");
    EXPECT_EQ(d.read(0), 5.55);
}

// Queries the meter has logged so far.
size_t Queries(int port) {
    const std::string log = host::QueryLog(port);
    return static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
}

// The queries the meter has logged so far.
std::vector<host::LoggedQuery> LoggedQueries(int port) {
    std::vector<host::LoggedQuery> queries;
    std::istringstream log(host::QueryLog(port));
    for (std::string entry; std::getline(log, entry);)
        queries.push_back(host::ParseLoggedQuery(entry));
    return queries;
}

// pH and potential read back to back, with no pause, from a CR LF meter whose LF reaches the
// driver well after its CR: behind a USB adapter, whose latency timer sends the CR and the LF
// in separate bursts, or sent late by the meter itself. An LF that comes after the next query
// was sent must not become part of that query's reply, or the potential shifts (-12 for -123).
TEST_F(Driver, BackToBackReadingsWhenTheLineFeedComesLate) {
    const struct {
        const char *name;
        const char *line;
    } conditions[] = {
        {"USB latency 1 ms", "fault=crlf\nusb_ms=1\n"},
        {"USB latency 16 ms", "fault=crlf\nusb_ms=16\n"},
        {"USB latency 40 ms", "fault=crlf\nusb_ms=40\n"},
        {"LF 60 ms after the CR", "fault=crlf\nlf_ms=60\n"},
        {"LF 150 ms after the CR", "fault=crlf\nlf_ms=150\n"},
    };
    // Each reading's values differ from the one before on its channel, so that an answer
    // taken from an earlier reply shows.
    const struct {
        const char *values;
        int32_t channel;
        double expected;
    } readings[] = {
        {"ph=7.02\nmv=-123\n", 0, 7.02},
        {"ph=7.02\nmv=-123\n", 1, -123.0},
        {"ph=4.01\nmv=-245\n", 0, 4.01},
        {"ph=4.01\nmv=-245\n", 1, -245.0},
    };
    Deliverable d(1);
    for (const auto &condition : conditions) {
        for (size_t i = 0; i < sizeof readings / sizeof readings[0]; ++i) {
            host::SetMeter(1, std::string(condition.line) + readings[i].values);
            const size_t before = Queries(1);
            EXPECT_EQ(d.read(readings[i].channel), readings[i].expected)
                << condition.name << ", reading " << i;
            EXPECT_EQ(Queries(1), before + 1) << condition.name << ", reading " << i;
        }
    }
}

// A host whose reading loop asks again the instant a reading returns, from a
// meter that answers each query after the time-out: a reply that begins up
// to 250 ms after the time-out is dropped before the next query, so every
// reading answers -777, never the previous query's value. Each query gets a
// value of its own, so an answer taken from another query shows.
TEST_F(Driver, LateRepliesReadBackToBackAreNeverTheNextAnswer) {
    Deliverable d(1);
    for (const int lateMs : {1020, 1100, 1200}) {
        for (int i = 1; i <= 5; ++i) {
            host::SetMeter(1, "fault=late\nlate_ms=" + std::to_string(lateMs) +
                                  "\nmv=" + std::to_string(lateMs / 10 + i) + "\n");
            double value = 0;
            const double ms = Timed([&] { value = d.read(1); });
            EXPECT_EQ(value, -777.0) << lateMs << " ms late, reading " << i;
            // The late window (320 ms: no reply has shown the line's hold)
            // and the time-out, with 140 ms for a loaded machine: a reading
            // that waited out two windows or two time-outs would take 1640 ms
            // or more.
            EXPECT_LT(ms, 1460) << lateMs << " ms late, reading " << i;
        }
    }
    // One late reply among prompt ones: the reading after it gets its own.
    // Also through a USB adapter, which delivers the late reply in bursts
    // whose pauses are longer than the quiet time, past the late window.
    for (const char *adapter : {"", "usb_ms=16\n", "usb_ms=40\n"}) {
        for (int i = 1; i <= 4; ++i) {
            const bool late = i == 2;
            host::SetMeter(1, std::string(adapter) +
                                  (late ? "fault=late\nlate_ms=1170\n" : "fault=none\n") +
                                  "mv=" + std::to_string(200 + i) + "\n");
            EXPECT_EQ(d.read(1), late ? -777.0 : 200.0 + i) << adapter << "reading " << i;
        }
    }
}

// Behind a USB adapter (16 or 40 ms) or a UART FIFO that hands over 14
// bytes at a time, a byte reaches the driver tens of ms after it left the
// meter. Bytes that leave it 5 ms after a reply (a noise burst of up to 40
// bytes) are dropped before the next query, and a reply that leaves it about
// 230 ms after the time-out is dropped whole, however the line spreads them
// out: every reading gets its own query's value, or -777 for the late one.
TEST_F(Driver, TrailingBytesAndLateRepliesBehindSlowLines) {
    Deliverable d(1);
    int mv = 300;
    for (const char *line : {"usb_ms=16\n", "usb_ms=40\n", "fifo=14\n"}) {
        // A prompt reply shows the driver how the line delivers.
        host::SetMeter(1, std::string(line) + "mv=" + std::to_string(++mv) + "\n");
        EXPECT_EQ(d.read(1), mv) << line;
        for (int i = 0; i < 6; ++i) {
            host::SetMeter(1, std::string(line) +
                                  "fault=noise\nnoise_ms=5\nmv=" + std::to_string(++mv) + "\n");
            const double value = d.read(1);
            // A simulator kept off the processor pauses inside the burst
            // before, a pause the meter did not make: the log shows it.
            if (i == 0 || LoggedQueries(1).back().lagMs <= 5) {
                EXPECT_EQ(value, mv) << line << "reading " << i << " after a noise burst";
            }
        }
        for (int i = 0; i < 2; ++i) {
            host::SetMeter(1, std::string(line) +
                                  "fault=late\nlate_ms=1230\nmv=" + std::to_string(++mv) + "\n");
            EXPECT_EQ(d.read(1), -777.0) << line;
            host::SetMeter(1, std::string(line) + "mv=" + std::to_string(++mv) + "\n");
            const double value = d.read(1);
            // A simulator kept off the processor may have sent the late
            // reply past the window, where no driver can tell it from an
            // answer: the log shows it.
            const std::vector<host::LoggedQuery> log = LoggedQueries(1);
            const bool pastTheWindow = log.size() >= 2 && log[log.size() - 2].startMs > 1250;
            if (!pastTheWindow) {
                EXPECT_EQ(value, mv) << line << "after a late reply";
            }
        }
    }
}

// Two host threads reading one library at once (a timer thread beside the
// window thread) each get their own channel's value of their own query: the
// meter answers every query with values of its own, so a reading that took
// another's reply, or mixed two, shows. Readings take turns, so neither
// purges, steals or mixes the other's reply. Through pead's address too,
// which keeps its channel's value while the other thread reads.
TEST_F(Driver, TwoThreadsReadingOneLibraryEachGetTheirOwnChannel) {
    host::SetMeter(1, "ph=1.00\nmv=-500\nvary=1\n");
    Deliverable d(1);
    ASSERT_NE(d.stdRead, nullptr);
    const size_t before = Queries(1);
    std::vector<double> got[2];
    auto byValue = [&](int32_t channel) {
        for (int i = 0; i < 8; ++i)
            got[channel].push_back(d.stdRead(channel));
    };
    std::thread ph(byValue, 0), mv(byValue, 1);
    ph.join();
    mv.join();
    EXPECT_EQ(Queries(1), before + 16) << "one query per reading";

    // Each thread watches the value behind its address until its next
    // reading, while the other thread's readings go on: it stays the value
    // that reading gave.
    size_t changed[2] = {0, 0};
    auto byAddress = [&](int32_t channel) {
        for (int i = 0; i < 8; ++i) {
            const volatile double *value = d.readByAddress(channel);
            const double own = *value;
            got[channel].push_back(own);
            const double end = host::NowMs() + 30;
            do {
                changed[channel] += *value != own;
                host::SleepMs(1);
            } while (host::NowMs() < end);
        }
    };
    std::thread phAddress(byAddress, 0), mvAddress(byAddress, 1);
    phAddress.join();
    mvAddress.join();

    // Every answer is its channel's value of one query, each query's once.
    const std::vector<host::LoggedQuery> log = LoggedQueries(1);
    ASSERT_EQ(log.size(), before + 32) << "one query per reading";
    std::set<size_t> answered;
    for (int32_t channel : {0, 1}) {
        EXPECT_EQ(changed[channel], 0u) << "channel " << channel << ": pead's value changed";
        for (const double value : got[channel]) {
            size_t query = before;
            while (query < log.size() && (channel == 0 ? log[query].ph : log[query].mv) != value)
                ++query;
            EXPECT_LT(query, log.size())
                << "channel " << channel << ": " << value << " answers no query";
            EXPECT_TRUE(answered.insert(query).second || query == log.size())
                << "channel " << channel << ": " << value << " answers a query twice";
        }
    }
}

TEST_F(Driver, UnknownChannelSendsNothingButConsumesALine) {
    Deliverable d(1);
    host::SetMeter(1, "reply=xxxx5.55\\rxxxx6.66\\r\n");
    EXPECT_EQ(d.read(1), 5.55); // the second line stays queued
    const std::string sent = host::Received(1);
    double value = 0;
    const double ms = Timed([&] { value = d.read(2); });
    EXPECT_EQ(value, -777.0);
    EXPECT_LT(ms, 500); // took the queued line, no time-out
    EXPECT_EQ(host::Received(1), sent);
    EXPECT_EQ(d.read(-1), -777.0); // nothing queued now: waits out the time-out
    EXPECT_EQ(host::Received(1), sent);
}

// A reading of a channel without a value sends no query: its time-out leaves
// no late reply behind, so the next reading costs what any other does (about
// 80 ms here; waiting out a late window would add 260 ms).
TEST_F(Driver, ReadingWithoutQueryOpensNoLateWindow) {
    Deliverable d(1);
    EXPECT_EQ(d.read(2), -777.0);
    double value = 0;
    const double ms = Timed([&] { value = d.read(0); });
    EXPECT_EQ(value, 7.02);
    EXPECT_LT(ms, 250);
}

// What a reading may take at worst, with a line that never falls silent and
// a write that hangs: three time-outs and the bytes still queued.
const double WorstReadingMs = 3 * 1000 + 300;

// A turn held when the library is unloaded: the unload waits for the reading
// in flight, never for those still queued behind it (they answer -777 at
// once), and on Windows never longer than a reading's worst case for a turn
// whose thread was killed.
TEST_F(Driver, UnloadWaitsForTheReadingInFlightOnly) {
    Deliverable d(1);
    host::SetMeter(1, "fault=silent\n");
    double inFlight = 0, queued[2] = {0, 0};
    std::thread first([&] { inFlight = d.read(0); });
    host::SleepMs(100);
    std::thread second([&] { queued[0] = d.read(0); }), third([&] { queued[1] = d.read(1); });
    host::SleepMs(100);
    const double ms = Timed([&] { host::RunUnloadCode(d.library, false); });
    const double after = host::NowMs();
    first.join();
    second.join();
    third.join();
    EXPECT_EQ(inFlight, -777.0);
    EXPECT_EQ(queued[0], -777.0);
    EXPECT_EQ(queued[1], -777.0);
    EXPECT_GT(ms, 600); // the reading in flight had 800 ms to go
    EXPECT_LT(ms, 1300);
    EXPECT_LT(host::NowMs() - after, 100) << "the queued readings waited";
}

#if defined(_WIN32)
// A host thread that reads pH once, as CreateThread starts it.
DWORD WINAPI ReadPhOnce(LPVOID library) {
    host::Export<decltype(&ead)>(library, "ead")(0);
    return 0;
}

TEST_F(Driver, UnloadDoesNotWaitForeverOnAKilledReading) {
    Deliverable d(1);
    host::SetMeter(1, "fault=silent\n");
    HANDLE reader = CreateThread(nullptr, 0, ReadPhOnce, d.library, 0, nullptr);
    host::SleepMs(200);
    TerminateThread(reader, 1);
    CloseHandle(reader);
    // The unload runs in a thread of its own, so that a hang fails the test
    // rather than stopping it.
    static volatile bool unloaded;
    unloaded = false;
    const double start = host::NowMs();
    std::thread([&] {
        host::RunUnloadCode(d.library, false);
        unloaded = true;
    }).detach();
    while (!unloaded && host::NowMs() - start < WorstReadingMs + 2000)
        host::SleepMs(10);
    ASSERT_TRUE(unloaded) << "unload still waiting after " << host::NowMs() - start << " ms";
    EXPECT_LT(host::NowMs() - start, WorstReadingMs);
}
#else
// Waits up to limitMs for child to end: its exit status, or -1 when it had
// to be killed.
int WaitForChild(pid_t child, double limitMs) {
    const double start = host::NowMs();
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (host::NowMs() - start > limitMs) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        host::SleepMs(5);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A process that ends while one of its readings is under way: exit() from a
// signal handler that interrupted the reading runs the library's unload on
// the very thread that holds the turn.
TEST_F(Driver, ExitFromASignalHandlerDuringAReadingEnds) {
    host::SetMeter(1, "fault=silent\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Deliverable d(1);
        signal(SIGALRM, [](int) { exit(0); });
        const itimerval soon = {{0, 0}, {0, 300000}};
        setitimer(ITIMER_REAL, &soon, nullptr);
        d.read(0);
        _exit(2);
    }
    const double start = host::NowMs();
    EXPECT_EQ(WaitForChild(child, 300 + WorstReadingMs), 0);
    EXPECT_LT(host::NowMs() - start, 300 + WorstReadingMs);
}

// A process forked while another of its threads held a turn (Python's
// multiprocessing forks): the child has no such thread, and reads all the
// same.
TEST_F(Driver, ChildForkedDuringAReadingReads) {
    Deliverable d(1);
    host::SetMeter(1, "fault=silent\n");
    std::thread reader([&] { d.read(0); });
    host::SleepMs(200);
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char byte; // once the parent's reading is over and the meter answers
        const bool told = read(go[0], &byte, 1) == 1;
        const double value = d.read(0);
        _exit(told && value == 5.55 ? 0 : 1);
    }
    reader.join();
    host::SetMeter(1, "ph=5.55\n");
    const char byte = 1;
    EXPECT_EQ(write(go[1], &byte, 1), 1);
    close(go[0]);
    close(go[1]);
    EXPECT_EQ(WaitForChild(child, 1300 + WorstReadingMs), 0);
}

// A parent and its forked child read the port they share at the same time:
// the meter answers each query with values of its own, and every answer
// must be one query's, none taken by both processes.
TEST_F(Driver, ParentAndForkedChildReadingAtOnceEachGetTheirOwnAnswer) {
    host::SetMeter(1, "ph=1.00\nvary=1\n");
    Deliverable d(1);
    const size_t before = LoggedQueries(1).size();
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const int readings = 8;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int i = 0; i < readings; ++i) {
            const double value = d.read(0);
            if (write(pipeEnds[1], &value, sizeof value) != sizeof value)
                _exit(2);
        }
        _exit(0);
    }
    close(pipeEnds[1]);
    std::vector<double> got;
    for (int i = 0; i < readings; ++i)
        got.push_back(d.read(0));
    for (double value; read(pipeEnds[0], &value, sizeof value) == sizeof value;)
        got.push_back(value);
    close(pipeEnds[0]);
    EXPECT_EQ(WaitForChild(child, readings * 1000 + 2000), 0);
    ASSERT_EQ(got.size(), 2u * readings);
    const std::vector<host::LoggedQuery> log = LoggedQueries(1);
    EXPECT_EQ(log.size(), before + 2 * readings) << "one query per reading";
    std::set<size_t> answered;
    for (const double value : got) {
        size_t query = before;
        while (query < log.size() && log[query].ph != value)
            ++query;
        EXPECT_LT(query, log.size()) << value << " answers no query";
        EXPECT_TRUE(answered.insert(query).second || query == log.size())
            << value << " answers a query twice";
    }
}
#endif

TEST_F(Driver, MissingPortAnswersNoValueAfterAboutASecond) {
    Deliverable d(3);
    ASSERT_NE(d.library, nullptr);
    double value = 0;
    const double ms = Timed([&] { value = d.read(0); });
    EXPECT_EQ(value, -777.0);
    EXPECT_GT(ms, 990);
    EXPECT_LT(ms, 1500);
}

// Loaded with global symbols, too: each library's own entries call its own
// code, never the first library's of the same names.
TEST_F(Driver, TwoDeliverablesSideBySideReadTheirOwnMeters) {
    host::SetMeter(2, "ph=9.81\nmv=-456\n");
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "global symbols" : "local symbols");
        Deliverable first(1, global), second(2, global);
        EXPECT_EQ(first.read(0), 7.02);
        EXPECT_EQ(second.read(0), 9.81);
        EXPECT_EQ(second.stdReadInteger(1), -456);
        EXPECT_EQ(first.stdReadInteger(1), -123);
        EXPECT_EQ(std::string(second.stdTitle()), "phm\xE8tre PHN130T,com2:");
    }
}

// A call that reaches the library after its unload code ran (another
// library's detach at process exit, say): no value at once, nothing sent,
// the port not opened again.
TEST_F(Driver, CallsAfterUnloadAnswerAtOnceAndOpenNothing) {
    {
        Deliverable d(1);
        EXPECT_EQ(d.read(0), 7.02);
        const std::string sent = host::Received(1);
        host::RunUnloadCode(d.library);
        for (int32_t channel : {0, 1, 2}) {
            double value = 0;
            const double ms = Timed([&] { value = d.read(channel); });
            EXPECT_EQ(value, -777.0) << channel;
            EXPECT_LT(ms, 50) << channel;
        }
        EXPECT_EQ(d.readInteger(0), -777);
        EXPECT_EQ(host::Received(1), sent);
    }
    Deliverable again(1); // a real load after the real unload opens the port anew
    EXPECT_EQ(again.read(0), 7.02);
}

TEST_F(Driver, UnloadReleasesThePortForTheNextLoad) {
    for (int round = 0; round < 3; ++round) {
        Deliverable d(1);
        EXPECT_EQ(d.read(0), 7.02) << "round " << round;
    }
}

} // namespace
