#include "meter_io.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include <unistd.h>

#include "meter_control.h"
#include "meter_pty.h"
#include "meter_replies.h"
#include "posix_files.h"

using std::chrono::nanoseconds;

namespace {

// How many bytes of chunk c the line has sent by now.
size_t bytes_due(const Chunk &c, Clock::time_point now, bool instant) {
    if (instant || now - c.start >= byte_offset(c.bytes.size(), false))
        return c.bytes.size(); // and no product below to overflow however long ago it started
    long long elapsed = std::chrono::duration_cast<nanoseconds>(now - c.start).count();
    return std::min(c.bytes.size(), static_cast<size_t>(elapsed * 2400 / 10000000000LL) + 1);
}

} // namespace

void receive(Meter &m, bool instant) {
    char buf[256];
    if (m.master < 0)
        return;
    for (;;) {
        const Clock::time_point before = Clock::now();
        ssize_t n = read(m.master, buf, sizeof buf);
        // Opens are counted after the read, never before it: the driver opened the slave before
        // it wrote what this read returns, so the event of that open is queued by now and counts
        // for the query in it. Counted before the read, an open and a query that both came while
        // this process waited between the two calls would log the query with one open less.
        count_opens(m);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            m.empty_at = before;
            m.connected = true;
            return;
        }
        if (n <= 0) { // EIO: no one has the slave open
            if (m.connected)
                disconnect(m);
            return;
        }
        m.connected = true;
        write_all(m.rx_fd, std::string(buf, static_cast<size_t>(n)));
        Clock::time_point now = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\r') {
                if (m.line.size() < 4096)
                    m.line += buf[i];
                continue;
            }
            Control c = read_control(m);
            if (c.answer == "any" || (c.answer == "query" && m.line == "?RD"))
                handle_query(m, c, now,
                             m.empty_at == Clock::time_point{} ? now : std::min(m.empty_at, now),
                             instant);
            m.line.clear();
        }
    }
}

void send_due(Meter &m, Clock::time_point now, bool instant) {
    if (!m.connected)
        return;
    while (!m.out.empty() && now >= m.out.front().start) {
        Chunk &c = m.out.front();
        for (size_t due = bytes_due(c, now, instant); c.sent < due; ++c.sent)
            m.adapter.take(c.bytes[c.sent], c.start + byte_offset(c.sent, instant));
        if (c.sent < c.bytes.size())
            break;
        m.out.pop_front();
    }
    m.adapter.release(now);
    std::string &ready = m.adapter.ready();
    if (ready.empty())
        return;
    ssize_t n = write(m.master, ready.data(), ready.size());
    if (n < 0 && errno == EIO)
        return disconnect(m);
    m.blocked = n < 0 && errno == EAGAIN;
    if (n < 0 && errno != EAGAIN && errno != EINTR)
        throw Error(sys_error("write to pty"));
    ready.erase(0, n > 0 ? static_cast<size_t>(n) : 0);
}

Clock::time_point output_due(const Meter &m, bool instant) {
    Clock::time_point at = Clock::time_point::max();
    if (!m.out.empty())
        at = m.out.front().start + byte_offset(m.out.front().sent, instant);
    if (std::optional<Clock::time_point> tick = m.adapter.next_send())
        at = std::min(at, *tick);
    return at;
}

Clock::time_point next_output(const Meter &m, Clock::time_point now, bool instant) {
    if (m.blocked)
        return Clock::time_point::max();
    if (!m.adapter.ready().empty())
        return now;
    return std::max(output_due(m, instant), now);
}
