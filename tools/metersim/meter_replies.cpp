#include "meter_replies.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "meter_control.h"
#include "posix_files.h"

using std::chrono::milliseconds;

std::string default_reply(double ph, long mv) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "mV: %c%03ld  pH:%6.2f\r", mv < 0 ? '-' : '+', std::labs(mv),
                  ph);
    return buf;
}

bool reading_line(const std::string &l) {
    auto digit = [&](size_t i) { return l[i] >= '0' && l[i] <= '9'; };
    if (l.size() != 19 || l.compare(0, 4, "mV: ") != 0 || (l[4] != '+' && l[4] != '-'))
        return false;
    if (!digit(5) || !digit(6) || !digit(7) || l.compare(10, 3, "pH:") != 0 || l[13] != ' ')
        return false;
    for (size_t i : {8, 9})
        if (l[i] != ' ' && l[i] != '\0')
            return false;
    bool lead = l[14] == ' ' || l[14] == '-' || digit(14);
    return lead && digit(15) && l[16] == '.' && digit(17) && digit(18);
}
namespace {

// A reading counts as valid when its CR goes out within this time after the query.
constexpr milliseconds kReplyDeadline{1000};

// True when the reply's first CR-terminated line is a reading and its CR reaches the pty before
// deadline. When each byte reaches it is found by sending what the line still has to send, then
// the reply, through a copy of the meter's adapter.
bool reply_valid(const Meter &m, const std::vector<Chunk> &reply, Clock::time_point deadline,
                 bool instant) {
    UsbAdapter ahead = m.adapter;
    for (const Chunk &c : m.out)
        for (size_t k = c.sent; k < c.bytes.size(); ++k)
            ahead.take(c.bytes[k], c.start + byte_offset(k, instant));
    std::string line;
    for (const Chunk &c : reply) {
        for (size_t k = 0; k < c.bytes.size(); ++k) {
            const Clock::time_point arrives =
                ahead.take(c.bytes[k], c.start + byte_offset(k, instant));
            if (c.bytes[k] == '\r')
                return reading_line(line) && arrives < deadline;
            line += c.bytes[k];
        }
    }
    return false;
}

std::string random_bytes(std::mt19937 &rng, size_t n, bool allow_cr) {
    std::string s;
    while (s.size() < n) {
        char c = static_cast<char>(rng() & 0xff);
        if (allow_cr || c != '\r')
            s += c;
    }
    return s;
}

// When the line is done with what it still has to send, and not before `from`.
Clock::time_point queue_end(const Meter &m, Clock::time_point from, bool instant) {
    if (m.out.empty())
        return from;
    const Chunk &c = m.out.back();
    return std::max(from, c.start + byte_offset(c.bytes.size(), instant));
}

} // namespace

void handle_query(Meter &m, const Control &c, Clock::time_point arrival, Clock::time_point earliest,
                  bool instant) {
    m.adapter.set_latency(c.usb_ms);
    m.adapter.set_fifo(c.fifo);
    std::string fault = static_cast<long>(m.seq + 1) < c.fault_from ? "none" : c.fault;
    if (fault == "random")
        fault = m.rng() % 2 == 0 ? "none" : kFaults[1 + m.rng() % 8];

    // With vary, query q's values are its own: ph + (q mod 1000) / 100, mv + q mod 1000.
    const long own = c.vary ? static_cast<long>((m.seq + 1) % 1000) : 0;
    double ph = c.ph + own / 100.0;
    long mv = std::lround(std::max(-999.0, std::min(999.0, c.mv + own)));
    std::string text = c.has_reply ? c.reply : default_reply(ph, mv);
    std::string half = text.substr(0, text.size() / 2);
    Clock::time_point start = queue_end(m, arrival, instant);

    std::vector<Chunk> reply;
    if (fault == "late") {
        reply.push_back({start + milliseconds(c.late_ms), text});
    } else if (fault == "partial") {
        half.erase(std::remove(half.begin(), half.end(), '\r'), half.end());
        reply.push_back({start, half});
    } else if (fault == "crlf") {
        // The LF follows at line pace, or lf_ms after the reply's last byte when that is later.
        Clock::time_point at_pace = start + byte_offset(text.size(), instant);
        Clock::time_point delayed = start +
                                    byte_offset(text.empty() ? 0 : text.size() - 1, instant) +
                                    milliseconds(c.lf_ms);
        reply.push_back({start, text});
        reply.push_back({std::max(at_pace, delayed), "\n"});
    } else if (fault == "garbage") {
        reply.push_back({start, random_bytes(m.rng, text.size(), false)});
    } else if (fault == "nul") {
        for (size_t i : {8, 9})
            if (i < text.size() && text[i] == ' ')
                text[i] = '\0';
        reply.push_back({start, text});
    } else if (fault == "split") {
        Clock::time_point rest =
            start + byte_offset(half.size(), instant) + milliseconds(c.pause_ms);
        reply.push_back({start, half});
        reply.push_back({rest, text.substr(half.size())});
    } else if (fault != "silent") { // none, noise
        reply.push_back({start, text});
    }

    // Valid only if the CR goes out in time after the earliest the query can have been sent.
    bool valid = reply_valid(m, reply, earliest + kReplyDeadline, instant);
    // How long after the earliest sending of the query the reply starts (-1: no reply).
    const long start_ms =
        reply.empty()
            ? -1L
            : static_cast<long>(
                  std::chrono::duration_cast<milliseconds>(reply.front().start - earliest).count());
    char buf[96];
    std::string entry = "q=" + std::to_string(++m.seq) + " ";
    if (c.has_reply) {
        entry += "reply=" + escape(c.reply);
    } else {
        std::snprintf(buf, sizeof buf, "ph=%.2f mv=%ld", ph, mv);
        entry += buf;
    }
    m.out.insert(m.out.end(), reply.begin(), reply.end());
    if (fault == "noise") {
        const long earliest = std::min(50L, c.noise_ms);
        Clock::time_point at =
            queue_end(m, arrival, instant) +
            milliseconds(earliest + static_cast<long>(m.rng() % (c.noise_ms - earliest + 1)));
        m.out.push_back({at, random_bytes(m.rng, 5 + m.rng() % 36, true)});
        reply.push_back(m.out.back());
    }
    size_t bytes = 0;
    for (const Chunk &chunk : reply)
        bytes += chunk.bytes.size();
    entry +=
        " fault=" + fault + " valid=" + (valid ? "1" : "0") + " bytes=" + std::to_string(bytes) +
        " opens=" + std::to_string(m.opens) + " start_ms=" + std::to_string(start_ms) +
        " lag_ms=" + std::to_string(std::chrono::duration_cast<milliseconds>(m.lag).count()) + "\n";
    m.lag = Clock::duration::zero();
    write_all(m.log_fd, entry);
}
