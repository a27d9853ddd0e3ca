// metersim: simulated Tacussel Radiometer PHN130T pH meters on pseudo-terminals.
//
// Each meter owns a pty whose slave stands in for a serial port. The driver opens the slave
// (directly, through a link in a device directory or through a Wine dosdevices entry) and the
// simulator answers its "?RD\r" queries on the master side, with the byte timing of a 2400-baud
// line and with faults chosen through a control file that can be rewritten between readings.
// Everything runs in one poll() loop; output is scheduled per meter as timed chunks of bytes,
// which leave at line pace and reach the pty through the meter's USB adapter (usb_adapter.h),
// at once unless a latency timer is set.
// Usage and file formats: tools/metersim.md.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "usb_adapter.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// Loop period when no byte is due: the termios watch and the reconnection check run at this pace.
constexpr milliseconds kIdlePoll{5};
// A reading counts as valid when its CR goes out within this time after the query.
constexpr milliseconds kReplyDeadline{1000};

// Delays a control file may set: an hour at most; an adapter's latency timer: 255 ms at most.
constexpr long kLongestMs = 3600000, kLongestLatencyMs = 255;

const char *const kFaults[] = {"none",    "silent", "late",  "partial", "crlf",
                               "garbage", "nul",    "noise", "split",   "random"};

volatile std::sig_atomic_t g_signal = 0;

void on_signal(int sig) { g_signal = sig; }

struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string sys_error(const std::string &what) { return what + ": " + std::strerror(errno); }

struct Options {
    std::vector<int> ports{1};
    std::string dir, wine_prefix, link_dir;
    std::string ph = "7.02", mv = "-123", fault = "none";
    bool instant = false, quiet = false;
    long usb_ms = 0;
    unsigned long seed = 1;
    std::vector<std::string> run;
};

// Behaviour of one meter, read from its control file at every query.
struct Control {
    double ph = 7.02, mv = -123;
    std::string fault = "none";
    long late_ms = 1500, pause_ms = 600, noise_ms = 300;
    long lf_ms = 0;  // delay of the crlf fault's LF after the CR (0: right behind it)
    long usb_ms = 0; // latency timer of the USB adapter (0: no adapter)
    bool plugged = true;
    bool has_reply = false;
    std::string reply;
    std::string answer = "query";
};

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
    unsigned long seq = 0;
    std::deque<Chunk> out; // bytes the line still has to send
    UsbAdapter adapter;    // bytes the line sent, on their way to the pty
    std::string termios_text;
    std::mt19937 rng;
    std::vector<std::string> links;
    std::vector<std::pair<std::string, std::string>> link_places; // (dir, name) to link again
    int watch_fd = -1; // inotify on the slave: counts the driver's opens
    unsigned long opens = 0;
    std::pair<ino_t, long long> ctl_stamp{0, 0}; // control file last looked at between queries
};

// Time from the first byte of a chunk to its byte k: 10 bits a byte at 2400 baud.
nanoseconds byte_offset(size_t k, bool instant) {
    return instant ? nanoseconds(0) : nanoseconds(static_cast<long long>(k) * 10000000000LL / 2400);
}

bool is_fault(const std::string &f) {
    return std::find_if(std::begin(kFaults), std::end(kFaults),
                        [&](const char *k) { return f == k; }) != std::end(kFaults);
}

// Reads a whole string as a number; out is left alone when s is not one.
template <typename T> bool to_number(const std::string &s, T &out) {
    std::istringstream in(s);
    T v{};
    if (!(in >> v) || !in.eof())
        return false;
    out = v;
    return true;
}

// Reads a whole string as a count of milliseconds from 0 to most; out is left alone otherwise.
bool to_ms(const std::string &s, long most, long &out) {
    long v = 0;
    if (!to_number(s, v) || v < 0 || v > most)
        return false;
    out = v;
    return true;
}

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Characters written as a backslash and a letter in control and log files.
const std::string kEscaped = "\r\n\t\\", kEscapeCodes = "rnt\\";

// Decodes \r \n \t \\ and \xHH; any other backslash stays as it is.
std::string unescape(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        bool slash = s[i] == '\\' && i + 1 < s.size();
        size_t code = slash ? kEscapeCodes.find(s[i + 1]) : std::string::npos;
        std::string hex = slash ? s.substr(i + 2, 2) : "";
        auto hexdigit = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
        if (code != std::string::npos) {
            out += kEscaped[code];
            ++i;
        } else if (slash && s[i + 1] == 'x' && hex.size() == 2 && hexdigit(hex[0]) &&
                   hexdigit(hex[1])) {
            out += static_cast<char>(std::stoi(hex, nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Inverse of unescape, also escaping blanks so that a log entry stays one token.
std::string escape(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        char buf[8];
        if (kEscaped.find(static_cast<char>(c)) != std::string::npos) {
            out += '\\';
            out += kEscapeCodes[kEscaped.find(static_cast<char>(c))];
        } else if (c > ' ' && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

void warn(const Meter &m, const std::string &what) {
    std::fprintf(stderr, "metersim: com%d: %s\n", m.port, what.c_str());
}

Control read_control(const Meter &m) {
    Control c;
    std::ifstream in(m.base + ".ctl", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t eq = line.find('=');
        if (eq == std::string::npos || line[0] == '#')
            continue;
        std::string key = trim(line.substr(0, eq)), raw = line.substr(eq + 1), val = trim(raw);
        bool ok = true;
        if (key == "ph")
            ok = to_number(val, c.ph);
        else if (key == "mv")
            ok = to_number(val, c.mv);
        else if (key == "late_ms")
            ok = to_ms(val, kLongestMs, c.late_ms);
        else if (key == "pause_ms")
            ok = to_ms(val, kLongestMs, c.pause_ms);
        else if (key == "noise_ms")
            ok = to_ms(val, kLongestMs, c.noise_ms);
        else if (key == "lf_ms")
            ok = to_ms(val, kLongestMs, c.lf_ms);
        else if (key == "usb_ms")
            ok = to_ms(val, kLongestLatencyMs, c.usb_ms);
        else if (key == "plugged")
            ok = (val == "0" || val == "1") && ((c.plugged = val == "1"), true);
        else if (key == "fault" && (ok = is_fault(val)))
            c.fault = val;
        else if (key == "answer" && (ok = val == "query" || val == "any" || val == "never"))
            c.answer = val;
        else if (key == "reply")
            c.has_reply = true, c.reply = unescape(raw);
        if (!ok)
            warn(m, "control file: ignoring bad value in '" + line + "'");
    }
    return c;
}

// The meter's reading line: "mV: " sign and three digits, two blanks, "pH:" and %6.2f, CR.
std::string default_reply(double ph, long mv) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "mV: %c%03ld  pH:%6.2f\r", mv < 0 ? '-' : '+', std::labs(mv),
                  ph);
    return buf;
}

// True for a line (without its CR) laid out as a reading the driver can decode: the potential in
// characters 5 to 8 and the pH as the five characters centred on the point at character 17. The
// two separators may be blanks or NULs. This covers pH -9.99 to 99.99.
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

void write_all(int fd, const std::string &s) {
    for (size_t done = 0; done < s.size();) {
        ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno != EINTR)
            throw Error(sys_error("write"));
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
}

void write_file_atomic(const std::string &path, const std::string &text) {
    std::string tmp = path + ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw Error(sys_error("open " + tmp));
    write_all(fd, text);
    close(fd);
    if (rename(tmp.c_str(), path.c_str()) != 0)
        throw Error(sys_error("rename " + tmp));
}

Clock::time_point queue_end(const Meter &m, bool instant) {
    if (m.out.empty())
        return Clock::time_point::min();
    const Chunk &c = m.out.back();
    return c.start + byte_offset(c.bytes.size(), instant);
}

// Handles one query under control settings c: logs the reading, schedules the reply after
// whatever is still queued (the meter answers one query at a time).
void handle_query(Meter &m, const Control &c, Clock::time_point arrival, bool instant) {
    m.adapter.set_latency(c.usb_ms);
    std::string fault = c.fault;
    if (fault == "random")
        fault = m.rng() % 2 == 0 ? "none" : kFaults[1 + m.rng() % 8];

    double ph = c.ph;
    long mv = std::lround(std::max(-999.0, std::min(999.0, c.mv)));
    std::string text = c.has_reply ? c.reply : default_reply(ph, mv);
    std::string half = text.substr(0, text.size() / 2);
    Clock::time_point start = std::max(arrival, queue_end(m, instant));

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

    bool valid = reply_valid(m, reply, arrival + kReplyDeadline, instant);
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
            queue_end(m, instant) +
            milliseconds(earliest + static_cast<long>(m.rng() % (c.noise_ms - earliest + 1)));
        m.out.push_back({at, random_bytes(m.rng, 5 + m.rng() % 36, true)});
        reply.push_back(m.out.back());
    }
    size_t bytes = 0;
    for (const Chunk &chunk : reply)
        bytes += chunk.bytes.size();
    entry += " fault=" + fault + " valid=" + (valid ? "1" : "0") +
             " bytes=" + std::to_string(bytes) + " opens=" + std::to_string(m.opens) + "\n";
    write_all(m.log_fd, entry);
}

// The slave went away: output for a listener that is gone is lost, as on a real line.
void disconnect(Meter &m) {
    m.connected = false;
    m.blocked = false;
    m.line.clear();
    m.out.clear();
    m.adapter.clear();
}

// Counts the opens of the slave seen since the last look (each open by the driver is one).
void count_opens(Meter &m) {
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while (m.watch_fd >= 0 && (n = read(m.watch_fd, buf, sizeof buf)) > 0) {
        for (char *p = buf; p < buf + n;) {
            const inotify_event *e = reinterpret_cast<const inotify_event *>(p);
            if (e->mask & IN_OPEN)
                ++m.opens;
            p += sizeof(inotify_event) + e->len;
        }
    }
}

void receive(Meter &m, bool instant) {
    char buf[256];
    if (m.master < 0)
        return;
    count_opens(m);
    for (;;) {
        ssize_t n = read(m.master, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
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
                handle_query(m, c, now, instant);
            m.line.clear();
        }
    }
}

// How many bytes of chunk c the line has sent by now.
size_t bytes_due(const Chunk &c, Clock::time_point now, bool instant) {
    if (instant)
        return c.bytes.size();
    long long elapsed = std::chrono::duration_cast<nanoseconds>(now - c.start).count();
    return std::min(c.bytes.size(), static_cast<size_t>(elapsed * 2400 / 10000000000LL) + 1);
}

// Passes the bytes the line has sent by now to the adapter, then writes what the adapter has
// sent on to the pty, as far as the pty takes it.
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

// When meter m next has bytes to pass on: the line's next byte or the adapter's next tick, now
// for bytes the pty did not take yet; max() while the pty is full (its POLLOUT wakes the loop).
Clock::time_point next_output(const Meter &m, bool instant) {
    Clock::time_point at = Clock::time_point::max();
    if (m.blocked)
        return at;
    if (!m.adapter.ready().empty())
        return Clock::time_point::min();
    if (!m.out.empty())
        at = m.out.front().start + byte_offset(m.out.front().sent, instant);
    if (std::optional<Clock::time_point> tick = m.adapter.next_send())
        at = std::min(at, *tick);
    return at;
}

long speed_number(speed_t s) {
    static const std::pair<speed_t, long> kSpeeds[] = {
        {B0, 0},         {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},     {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},
        {B1800, 1800},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
    };
    for (const auto &e : kSpeeds)
        if (e.first == s)
            return e.second;
    return -1;
}

// Records the line settings the driver chose for the port whenever they change.
void check_termios(Meter &m) {
    termios t{};
    if (tcgetattr(m.master, &t) != 0)
        return;
    const tcflag_t cs = t.c_cflag & CSIZE;
    const int csize = cs == CS5 ? 5 : cs == CS6 ? 6 : cs == CS7 ? 7 : 8;
    auto bit = [](tcflag_t flags, tcflag_t mask) { return (flags & mask) ? 1 : 0; };
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "speed=%ld csize=%d parenb=%d parodd=%d cstopb=%d crtscts=%d ixon=%d ixoff=%d "
                  "icanon=%d echo=%d icrnl=%d opost=%d\n",
                  speed_number(cfgetospeed(&t)), csize, bit(t.c_cflag, PARENB),
                  bit(t.c_cflag, PARODD), bit(t.c_cflag, CSTOPB), bit(t.c_cflag, CRTSCTS),
                  bit(t.c_iflag, IXON), bit(t.c_iflag, IXOFF), bit(t.c_lflag, ICANON),
                  bit(t.c_lflag, ECHO), bit(t.c_iflag, ICRNL), bit(t.c_oflag, OPOST));
    if (m.termios_text != buf) {
        m.termios_text = buf;
        write_file_atomic(m.base + ".termios", buf);
    }
}

void make_dirs(const std::string &path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/')
            continue;
        std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            throw Error(sys_error("mkdir " + part));
    }
}

// Points dir/name at the meter's slave, replacing an earlier link but nothing else.
void make_link(Meter &m, const std::string &dir, const std::string &name) {
    make_dirs(dir);
    std::string path = dir + "/" + name;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode))
            throw Error(path + " exists and is not a symbolic link");
        unlink(path.c_str());
    }
    if (symlink(m.slave.c_str(), path.c_str()) != 0)
        throw Error(sys_error("symlink " + path));
    m.links.push_back(path);
    if (std::find(m.link_places.begin(), m.link_places.end(), std::make_pair(dir, name)) ==
        m.link_places.end())
        m.link_places.emplace_back(dir, name);
}

// Gives the meter a new pty, starting as a raw 2400-baud 8N1 line, and watches its slave.
void open_pty(Meter &m) {
    m.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m.master < 0)
        throw Error(sys_error("posix_openpt"));
    fcntl(m.master, F_SETFD, FD_CLOEXEC);
    fcntl(m.master, F_SETFL, O_NONBLOCK);
    char name[128];
    if (grantpt(m.master) != 0 || unlockpt(m.master) != 0 ||
        ptsname_r(m.master, name, sizeof name) != 0)
        throw Error(sys_error("pty setup"));
    m.slave = name;

    // On Linux the master's termios requests act on the slave: start as a raw 2400-baud 8N1 line.
    termios t{};
    tcgetattr(m.master, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B2400);
    cfsetospeed(&t, B2400);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    if (tcsetattr(m.master, TCSANOW, &t) != 0)
        throw Error(sys_error("tcsetattr"));
    // Closes are watched too, only so that two opens in a row are not merged into one event.
    m.watch_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m.watch_fd < 0 || inotify_add_watch(m.watch_fd, m.slave.c_str(), IN_OPEN | IN_CLOSE) < 0)
        throw Error(sys_error("inotify on " + m.slave));
    m.termios_text.clear();
}

// Names the meter's current slave in comN.pty (empty while unplugged), once its links are made.
void write_pty_file(const Meter &m) {
    write_file_atomic(m.base + ".pty", m.slave.empty() ? "" : m.slave + "\n");
}

void open_meter(Meter &m, const Options &o, const std::string &dir) {
    open_pty(m);
    m.base = dir + "/com" + std::to_string(m.port);
    write_file_atomic(m.base + ".ctl", "ph=" + o.ph + "\nmv=" + o.mv + "\nfault=" + o.fault +
                                           "\nlate_ms=1500\npause_ms=600\nanswer=query\nusb_ms=" +
                                           std::to_string(o.usb_ms) + "\n");
    for (auto [fd, ext] : {std::pair<int *, const char *>{&m.rx_fd, ".rx"}, {&m.log_fd, ".log"}}) {
        *fd =
            open((m.base + ext).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (*fd < 0)
            throw Error(sys_error("open " + m.base + ext));
    }
    std::seed_seq seq{o.seed, static_cast<unsigned long>(m.port)};
    m.rng.seed(seq);
    check_termios(m);
}

// Removes the meter's links (those still pointing at its pty) and closes the pty.
void close_meter(Meter &m) {
    for (const std::string &link : m.links) {
        char target[256];
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && m.slave == std::string(target, static_cast<size_t>(n)))
            unlink(link.c_str());
    }
    m.links.clear();
    if (m.master >= 0)
        close(m.master);
    if (m.watch_fd >= 0)
        close(m.watch_fd);
    m.master = m.watch_fd = -1;
}

void cleanup(std::vector<Meter> &meters) {
    for (Meter &m : meters)
        close_meter(m);
}

// Follows the control file's "plugged" key between queries: unplugging removes the links and
// closes the pty, so the driver's port hangs up; plugging in again makes a new pty (the slave
// usually gets another name) and links it where the old one was.
void watch_plug(Meter &m) {
    struct stat st {};
    if (stat((m.base + ".ctl").c_str(), &st) != 0)
        return;
    std::pair<ino_t, long long> stamp{st.st_ino,
                                      st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
    if (stamp == m.ctl_stamp)
        return;
    m.ctl_stamp = stamp;
    const bool plugged = read_control(m).plugged;
    if (plugged == (m.master >= 0))
        return;
    if (plugged) {
        open_pty(m);
        for (const auto &[dir, name] : m.link_places)
            make_link(m, dir, name);
    } else {
        close_meter(m);
        disconnect(m);
        m.slave.clear();
    }
    write_pty_file(m);
}

pid_t spawn(const Options &o, const std::string &dir, const std::vector<Meter> &meters) {
    std::string pts;
    for (const Meter &m : meters)
        pts += (pts.empty() ? "" : ",") + std::to_string(m.port) + "=" + m.slave;
    pid_t pid = fork();
    if (pid < 0)
        throw Error(sys_error("fork"));
    if (pid == 0) {
        setenv("METERSIM_DIR", dir.c_str(), 1);
        setenv("METERSIM_PTS", pts.c_str(), 1);
        std::vector<char *> argv;
        for (const std::string &a : o.run)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "metersim: cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    return pid;
}

// Serves all meters until the child exits (status returned) or, without a child, until a
// SIGINT, SIGTERM or SIGHUP (0 returned). Signals are passed on to the child, whose exit ends the
// run.
int serve(std::vector<Meter> &meters, const Options &o, pid_t child) {
    for (;;) {
        if (child > 0) {
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (g_signal != 0) {
            if (child <= 0)
                return 0;
            kill(child, g_signal);
            g_signal = 0;
        }
        Clock::time_point now = Clock::now(), wake = now + kIdlePoll;
        std::vector<pollfd> fds;
        for (const Meter &m : meters) {
            wake = std::min(wake, next_output(m, o.instant));
            if (m.connected)
                fds.push_back(
                    {m.master, static_cast<short>(POLLIN | (m.blocked ? POLLOUT : 0)), 0});
        }
        long long wait =
            std::max<long long>(0, std::chrono::duration_cast<nanoseconds>(wake - now).count());
        timespec ts{static_cast<time_t>(wait / 1000000000), static_cast<long>(wait % 1000000000)};
        ppoll(fds.data(), fds.size(), &ts, nullptr); // EINTR only shortens the wait
        for (Meter &m : meters) {
            watch_plug(m);
            receive(m, o.instant);
            check_termios(m);
            send_due(m, Clock::now(), o.instant);
        }
    }
}

void usage() {
    std::puts("usage: metersim [--com LIST] [--dir DIR] [--wine-prefix P] [--link-dir D]\n"
              "                [--ph X] [--mv Y] [--fault F] [--instant] [--usb T] [--seed S]\n"
              "                [--quiet] [--run CMD ARGS...]\n"
              "Simulates PHN130T pH meters on pseudo-terminals; see tools/metersim.md.");
}

Options parse_args(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw Error("missing value after " + a);
            return argv[++i];
        };
        double d = 0;
        long l = 0;
        if (a == "--run") {
            o.run.assign(argv + i + 1, argv + argc);
            if (o.run.empty())
                throw Error("--run needs a command");
            break;
        } else if (a == "--com") {
            o.ports.clear();
            std::string list = value() + ",";
            for (size_t b = 0, e; (e = list.find(',', b)) != std::string::npos; b = e + 1) {
                if (!to_number(list.substr(b, e - b), l) || l < 1 || l > 5 ||
                    std::count(o.ports.begin(), o.ports.end(), l) != 0)
                    throw Error("--com takes distinct port numbers 1 to 5, e.g. 1,3");
                o.ports.push_back(static_cast<int>(l));
            }
        } else if (a == "--dir") {
            o.dir = value();
        } else if (a == "--wine-prefix") {
            o.wine_prefix = value();
        } else if (a == "--link-dir") {
            o.link_dir = value();
        } else if (a == "--ph" || a == "--mv") {
            (a == "--ph" ? o.ph : o.mv) = value();
            if (!to_number(argv[i], d))
                throw Error(a + " takes a number");
        } else if (a == "--fault") {
            if (!is_fault(o.fault = value()))
                throw Error("unknown fault " + o.fault);
        } else if (a == "--seed") {
            if (!to_number(value(), l) || l < 0)
                throw Error("--seed takes a non-negative integer");
            o.seed = static_cast<unsigned long>(l);
        } else if (a == "--usb") {
            if (!to_ms(value(), kLongestLatencyMs, o.usb_ms) || o.usb_ms == 0)
                throw Error("--usb takes a latency of 1 to 255 ms");
        } else if (a == "--instant") {
            o.instant = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--help" || a == "-h") {
            usage();
            std::exit(0);
        } else {
            throw Error("unknown option " + a + " (see --help)");
        }
    }
    return o;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<Meter> meters;
    pid_t child = 0;
    try {
        Options o = parse_args(argc, argv);
        std::string dir = o.dir;
        if (dir.empty()) {
            char tmpl[] = "/tmp/metersim.XXXXXX";
            if (!mkdtemp(tmpl))
                throw Error(sys_error("mkdtemp"));
            dir = tmpl;
        }
        make_dirs(dir);
        char *abs = realpath(dir.c_str(), nullptr);
        if (!abs)
            throw Error(sys_error("realpath " + dir));
        dir = abs;
        std::free(abs);

        struct sigaction sa {};
        sa.sa_handler = on_signal; // no SA_RESTART: a signal ends the current wait
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGHUP, &sa, nullptr);

        meters.resize(o.ports.size());
        for (size_t i = 0; i < o.ports.size(); ++i) {
            Meter &m = meters[i];
            m.port = o.ports[i];
            open_meter(m, o, dir);
            if (!o.wine_prefix.empty())
                make_link(m, o.wine_prefix + "/dosdevices", "com" + std::to_string(m.port));
            if (!o.link_dir.empty())
                make_link(m, o.link_dir, "ttyS" + std::to_string(m.port - 1));
            std::string shown = "com" + std::to_string(m.port) + ": " + m.slave;
            for (size_t k = 0; k < m.links.size(); ++k)
                shown += (k == 0 ? " -> " : ", ") + m.links[k];
            write_pty_file(m);
            if (!o.quiet)
                std::printf("%s\n", shown.c_str());
        }
        if (!o.quiet && o.dir.empty())
            std::printf("dir: %s\n", dir.c_str());
        std::fflush(stdout);

        child = o.run.empty() ? 0 : spawn(o, dir, meters);
        int status = serve(meters, o, child);
        cleanup(meters);
        return status;
    } catch (const std::exception &e) {
        if (child > 0)
            kill(child, SIGTERM);
        cleanup(meters);
        std::fprintf(stderr, "metersim: %s\n", e.what());
        return 2;
    }
}
