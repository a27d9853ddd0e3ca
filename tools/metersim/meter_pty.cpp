#include "meter_pty.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "meter.h"
#include "meter_control.h"
#include "posix_files.h"

namespace {

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

} // namespace

void disconnect(Meter &m) {
    m.connected = false;
    m.blocked = false;
    m.line.clear();
    m.out.clear();
    m.adapter.clear();
}

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

void write_pty_file(const Meter &m) {
    write_file_atomic(m.base + ".pty", m.slave.empty() ? "" : m.slave + "\n");
}

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
