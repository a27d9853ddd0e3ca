// The POSIX serial line over a real pseudo-terminal: the test holds the
// master side and plays the meter.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

#include "ucommw32.h"

const char DeviceDirectory[] = "/nonexistent";

namespace {

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Processor time of this process so far, in ms.
double CpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// One line from the port, as text.
std::string Line() {
    char line[LineCapacity];
    return std::string(line, ReadLine(line));
}

// The master side of a new pseudo-terminal, or -1.
int OpenPseudoTerminal() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && (grantpt(master) != 0 || unlockpt(master) != 0)) {
        close(master);
        return -1;
    }
    return master;
}

class SerialLine : public ::testing::Test {
  protected:
    void SetUp() override {
        master = OpenPseudoTerminal();
        ASSERT_GE(master, 0);
        PortName = ptsname(master);
        PortSettings = "baud=2400 parity=n data=8 stop=1 ";
        OpenPort();
        ASSERT_TRUE(PortUsable());
    }
    void TearDown() override {
        ClosePort();
        if (master >= 0)
            close(master);
    }
    void Meter(const std::string &bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        usleep(20000); // let the terminal pass them on
    }
    std::string Heard() {
        char buffer[256];
        const int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags | O_NONBLOCK);
        const ssize_t count = read(master, buffer, sizeof buffer);
        fcntl(master, F_SETFL, flags);
        return count > 0 ? std::string(buffer, static_cast<size_t>(count)) : std::string();
    }
    int master = -1;
};

TEST_F(SerialLine, OpensARawLineAt2400BaudWithoutFlowControl) {
    termios line;
    ASSERT_EQ(tcgetattr(master, &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B2400));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR), 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

TEST_F(SerialLine, WritesTheTextUnchanged) {
    WriteText("?RD\r");
    usleep(20000);
    EXPECT_EQ(Heard(), "?RD\r");
}

TEST_F(SerialLine, LineFeedAfterTheCarriageReturnStaysQueued) {
    Meter("7.00 123\r\n");
    EXPECT_EQ(Line(), "7.00 123");
    EXPECT_EQ(BytesWaiting(), 1);
    Meter("7.01 124\r");
    EXPECT_EQ(Line(), "\n7.01 124");
}

TEST_F(SerialLine, TwoLinesBackToBackComeOneByOne) {
    Meter("first\rsecond\r");
    EXPECT_EQ(Line(), "first");
    EXPECT_EQ(Line(), "second");
}

TEST_F(SerialLine, BareCarriageReturnEndsTheLineAtOnce) {
    Meter("\r");
    const double start = NowMs();
    EXPECT_EQ(Line(), "");
    EXPECT_LT(NowMs() - start, 100);
}

TEST_F(SerialLine, NothingReceivedTimesOutJustAfterOneSecond) {
    const double start = NowMs();
    EXPECT_EQ(Line(), "");
    const double elapsed = NowMs() - start;
    EXPECT_GE(elapsed, 1000);
    EXPECT_LT(elapsed, 1100);
}

TEST_F(SerialLine, PartialLineIsLostAtTheTimeOut) {
    Meter("mV: -12");
    EXPECT_EQ(Line(), "");
    EXPECT_EQ(BytesWaiting(), 0);
    Meter("3\r");
    EXPECT_EQ(Line(), "3");
}

TEST_F(SerialLine, DiscardDropsWhatIsWaiting) {
    Meter("stale\r\n");
    EXPECT_EQ(BytesWaiting(), 7);
    DiscardInput();
    EXPECT_EQ(BytesWaiting(), 0);
    Meter("fresh\r");
    EXPECT_EQ(Line(), "fresh");
}

// Gone, the device answers every call at once; the read still waits out its
// time-out, asleep.
TEST_F(SerialLine, TheDeviceGoingAwayIsNoticed) {
    close(master);
    master = -1;
    const double start = NowMs(), cpuStart = CpuMs();
    EXPECT_EQ(Line(), "");
    EXPECT_GE(NowMs() - start, 1000);
    EXPECT_LT(CpuMs() - cpuStart, 50);
    EXPECT_FALSE(PortUsable());
}

// A device that takes no line settings (a FIFO here, which echoes what is
// written to it) but reads and writes is not a lost device.
TEST(SerialLineClosed, DeviceRefusingTheSettingsStaysUsable) {
    char path[] = "/tmp/tarvel-fifo-XXXXXX";
    ASSERT_NE(mkdtemp(path), nullptr);
    const std::string fifo = std::string(path) + "/line";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    PortName = fifo.c_str();
    OpenPort();
    EXPECT_TRUE(PortUsable());
    WriteText("?RD\r");
    EXPECT_EQ(Line(), "?RD");
    EXPECT_TRUE(PortUsable());
    ClosePort();
    unlink(fifo.c_str());
    rmdir(path);
}

TEST_F(SerialLine, IsHeldExclusively) {
    const int other = open(PortName, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0); // root may open a TIOCEXCL terminal; the lock still holds
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
}

TEST(SerialLineClosed, PortThatCannotBeOpenedTimesOutQuietly) {
    PortName = "com7:"; // /nonexistent/ttyS6
    OpenPort();
    EXPECT_FALSE(PortUsable());
    WriteText("?RD\r");
    EXPECT_EQ(BytesWaiting(), 0);
    const double start = NowMs();
    EXPECT_EQ(Line(), "");
    EXPECT_GE(NowMs() - start, 1000);
    ClosePort();
}

TEST(SerialLineClosed, PortHeldByAnotherProgramIsNotUsable) {
    const int master = OpenPseudoTerminal();
    ASSERT_GE(master, 0);
    const int holder = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    PortName = ptsname(master);
    OpenPort();
    EXPECT_FALSE(PortUsable());
    EXPECT_EQ(BytesWaiting(), 0);
    ClosePort();
    close(holder);
    close(master);
}

} // namespace
