// A simulated meter as every part of metersim sees it: its pty, files and line state, the timed
// chunks of bytes it still has to send, and the time the line takes to send a byte.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

#include "usb_adapter.h"

using Clock = std::chrono::steady_clock;

// Bytes to send; byte k goes out at start + byte_offset(k).
struct Chunk {
    Clock::time_point start;
    std::string bytes;
    size_t sent = 0;
};

struct Meter {
    int port = 0;
    int master = -1;
    std::string slave; // pty slave path
    std::string base;  // DIR/comN, prefix of the meter's files
    int rx_fd = -1, log_fd = -1;
    bool connected = false; // false once reading the master gave EIO (slave closed)
    bool blocked = false;   // the last write found the pty full
    std::string line;       // bytes received since the last CR
    // When the master was last found empty: a query read later came after it
    // (unset until the first such read).
    Clock::time_point empty_at{};
    unsigned long seq = 0;
    std::deque<Chunk> out; // bytes the line still has to send
    // The longest metersim passed its output on later than due since the last query (kept off
    // the processor, say): a pause on the line that the meter did not make.
    Clock::duration lag{};
    UsbAdapter adapter; // bytes the line sent, on their way to the pty
    std::string termios_text;
    std::mt19937 rng;
    std::vector<std::string> links;
    std::vector<std::pair<std::string, std::string>> link_places; // (dir, name) to link again
    int watch_fd = -1; // inotify on the slave: counts the driver's opens
    unsigned long opens = 0;
    std::pair<ino_t, long long> ctl_stamp{0, 0}; // control file last looked at between queries
};

// Time from the first byte of a chunk to its byte k: 10 bits a byte at 2400 baud.
inline std::chrono::nanoseconds byte_offset(size_t k, bool instant) {
    using std::chrono::nanoseconds;
    return instant ? nanoseconds(0) : nanoseconds(static_cast<long long>(k) * 10000000000LL / 2400);
}
