// Serial line on POSIX terminals (termios). "comN:" (or "\\.\COMN") names
// the device DeviceDirectory/ttyS(N-1); any other name is used as a path.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "line_assembly.h"
#include "ucommw32.h"

namespace {

int PortFd = -1;
bool PortFailed = true;
// A text went out since the last ReadLine: the line that comes answers it.
bool ReplyDue = false;

uint32_t Ticks() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

// Sleeps in poll() until input arrives, waitMs at most, then takes a byte.
// With no port, or one whose device has gone (poll would answer at once),
// there is nothing to wait for but the time.
bool ReadByte(char *byte, uint32_t waitMs) {
    if (waitMs > 0) {
        pollfd input = {PortFd, POLLIN, 0};
        poll(&input, PortFd >= 0 && !PortFailed ? 1 : 0, static_cast<int>(waitMs));
    }
    if (PortFd < 0)
        return false;
    const ssize_t count = read(PortFd, byte, 1);
    if (count < 0 && errno != EAGAIN && errno != EINTR)
        PortFailed = true;
    return count == 1;
}

void Purge();

LineSource PortLineSource = {Ticks, BytesWaiting, ReadByte,        Purge,          0, false, 0,
                             false, CharacterUs,  LineHoldLimitMs, LineHoldLimitMs};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when text begins with word, whatever the case of the text's letters.
bool StartsWith(const char *text, const char *word) {
    for (; *word != '\0'; ++text, ++word)
        if (Lower(*text) != *word)
            return false;
    return true;
}

// The device path of a port name into path (size bytes): "comN:", "comN" or
// the Windows device path "\\.\COMN" of ports from 10 up (N from 1 to 255)
// is DeviceDirectory/ttyS(N-1), anything else a path.
void DevicePath(const char *name, char *path, size_t size) {
    const char *digits = StartsWith(name, "com")          ? name + 3
                         : StartsWith(name, "\\\\.\\com") ? name + 7
                                                          : nullptr;
    if (digits != nullptr) {
        char *end = nullptr;
        const long number = strtol(digits, &end, 10);
        if (end != digits && number >= 1 && number <= 255 &&
            (*end == '\0' || (end[0] == ':' && end[1] == '\0'))) {
            snprintf(path, size, "%s/ttyS%ld", DeviceDirectory, number - 1);
            return;
        }
    }
    snprintf(path, size, "%s", name);
}

speed_t SpeedOf(long baud) {
    switch (baud) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

// Applies one "key=value" of a mode string, the value ending at `end`.
// Unknown keys and malformed values are left as they are.
void ApplySetting(const char *key, const char *value, const char *end, termios *line) {
    const size_t length = static_cast<size_t>(end - value);
    const char first = length > 0 ? Lower(value[0]) : '\0';
    const long number = atol(value);
    if (StartsWith(key, "baud=")) {
        const speed_t speed = SpeedOf(number);
        if (speed != B0) {
            cfsetispeed(line, speed);
            cfsetospeed(line, speed);
        }
    } else if (StartsWith(key, "parity=")) {
        line->c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
        if (first == 'e')
            line->c_cflag |= PARENB;
        else if (first == 'o')
            line->c_cflag |= PARENB | PARODD;
    } else if (StartsWith(key, "data=")) {
        static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        if (number >= 5 && number <= 8) {
            line->c_cflag &= ~static_cast<tcflag_t>(CSIZE);
            line->c_cflag |= sizes[number - 5];
        }
    } else if (StartsWith(key, "stop=")) {
        if (length == 1 && first == '1')
            line->c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
        else if ((length == 1 && first == '2') || (length == 3 && strncmp(value, "1.5", 3) == 0))
            line->c_cflag |= CSTOPB;
    }
}

// Applies a mode string ("baud=2400 parity=n data=8 stop=1") to a raw line
// without flow control.
void ApplySettings(const char *settings, termios *line) {
    cfmakeraw(line);
    line->c_cflag |= CLOCAL | CREAD;
    line->c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    line->c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    line->c_cc[VMIN] = 0;
    line->c_cc[VTIME] = 0;

    const char *word = settings;
    while (*word != '\0') {
        while (*word == ' ')
            ++word;
        const char *end = word;
        while (*end != '\0' && *end != ' ')
            ++end;
        const char *equals =
            static_cast<const char *>(memchr(word, '=', static_cast<size_t>(end - word)));
        if (equals != nullptr)
            ApplySetting(word, equals + 1, end, line);
        word = end;
    }
}

} // namespace

void OpenPort() {
    char path[256];
    DevicePath(PortName, path, sizeof path);
    PortLineSource.heardAny = false; // nothing heard on this port yet
    PortLineSource.missedLine = false;
    ReplyDue = false;
    PortLineSource.holdMs = LineHoldLimitMs; // nor shown: it may be another adapter
    PortFd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    PortFailed = PortFd < 0;
    if (PortFailed)
        return;
    // Exclusive, like a Windows port: a second library on the same port, or
    // another program, cannot share it.
    if (flock(PortFd, LOCK_EX | LOCK_NB) != 0) {
        close(PortFd);
        PortFd = -1;
        PortFailed = true;
        return;
    }
    // The line settings. A device that refuses them but reads and writes is
    // still usable: only a failed open or failed I/O means a lost device.
    ioctl(PortFd, TIOCEXCL);
    termios line;
    if (tcgetattr(PortFd, &line) == 0) {
        ApplySettings(PortSettings, &line);
        tcsetattr(PortFd, TCSANOW, &line);
    }
}

void ClosePort() {
    if (PortFd >= 0)
        close(PortFd);
    PortFd = -1;
    PortFailed = true;
}

namespace {

// A record lock on the port belongs to the process that takes it and is not
// inherited across fork, unlike the open port and its flock: it makes a
// parent and its forked children take turns too.
void LockLine(short type) {
    if (PortFd < 0)
        return;
    struct flock whole = {};
    whole.l_type = type;
    whole.l_whence = SEEK_SET;
    while (fcntl(PortFd, F_SETLKW, &whole) != 0 && errno == EINTR) {
    }
}

} // namespace

void HoldLine() { LockLine(F_WRLCK); }
void ReleaseLine() { LockLine(F_UNLCK); }

bool PortUsable() {
    BytesWaiting(); // asks the device
    return !PortFailed;
}

void WriteText(const char *text) {
    if (PortFd < 0)
        return;
    ReplyDue = true;
    const uint32_t start = Ticks();
    const size_t length = strlen(text);
    size_t sent = 0;
    while (sent < length) {
        const ssize_t count = write(PortFd, text + sent, length - sent);
        if (count > 0) {
            sent += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR) {
            PortFailed = true;
            return;
        }
        const uint32_t elapsed = Ticks() - start;
        if (elapsed > TimeoutMs)
            return;
        pollfd ready = {PortFd, POLLOUT, 0};
        poll(&ready, 1, static_cast<int>(TimeoutMs - elapsed) + 1);
    }
}

uint16_t BytesWaiting() {
    if (PortFd < 0)
        return 0;
    // A terminal whose device has gone (an unplugged adapter, a closed
    // pseudo-terminal) hangs up; reading it would only look like silence.
    pollfd state = {PortFd, POLLIN, 0};
    if (poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL)))
        PortFailed = true;
    int waiting = 0;
    if (ioctl(PortFd, FIONREAD, &waiting) != 0) {
        PortFailed = true;
        return 0;
    }
    return static_cast<uint16_t>(waiting);
}

namespace {
void Purge() {
    if (PortFd >= 0)
        tcflush(PortFd, TCIFLUSH);
}

} // namespace

void DiscardInput() {
    const StaleInputTimes times = {QuietMs, LateReplyMs, LateLinePauseMs};
    DropStaleInput(PortLineSource, times, TimeoutMs);
}

uint16_t ReadLine(char line[LineCapacity]) {
    const uint16_t length = AssembleAnswer(PortLineSource, ReplyDue, TimeoutMs, line, LineCapacity);
    ReplyDue = false;
    return length;
}
