// metersim: simulated Tacussel Radiometer PHN130T pH meters on pseudo-terminals.
//
// Each meter owns a pty whose slave stands in for a serial port. The driver opens the slave
// (directly, through a link in a device directory or through a Wine dosdevices entry) and the
// simulator answers its "?RD\r" queries on the master side, with the byte timing of a 2400-baud
// line and with faults chosen through a control file that can be rewritten between readings.
// Everything runs in one poll() loop; output is scheduled per meter as timed chunks of bytes,
// which leave at line pace and reach the pty through the meter's USB adapter or UART FIFO
// (usb_adapter.h), at once unless a latency timer or a FIFO is set.
// This file holds the options, the setup of the meters, the loop and the test program started
// with --run; meter.h and the meter_*.h files hold the rest. Usage and file formats:
// tools/metersim.md.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "meter.h"
#include "meter_control.h"
#include "meter_io.h"
#include "meter_pty.h"
#include "posix_files.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// Loop period when no byte is due: the termios watch and the reconnection check run at this pace.
constexpr milliseconds kIdlePoll{5};

volatile std::sig_atomic_t g_signal = 0;

void on_signal(int sig) { g_signal = sig; }

struct Options {
    std::vector<int> ports{1};
    std::string dir, wine_prefix, link_dir;
    std::string ph = "7.02", mv = "-123", fault = "none", fault_from = "1";
    bool instant = false, quiet = false;
    long usb_ms = 0, fifo = 0;
    unsigned long seed = 1;
    std::vector<std::string> run;
};

void open_meter(Meter &m, const Options &o, const std::string &dir) {
    open_pty(m);
    m.base = dir + "/com" + std::to_string(m.port);
    write_file_atomic(
        m.base + ".ctl",
        "ph=" + o.ph + "\nmv=" + o.mv + "\nfault=" + o.fault +
            "\nlate_ms=1500\npause_ms=600\nanswer=query\nusb_ms=" + std::to_string(o.usb_ms) +
            "\nfifo=" + std::to_string(o.fifo) + "\nfault_from=" + o.fault_from + "\n");
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

void cleanup(std::vector<Meter> &meters) {
    for (Meter &m : meters)
        close_meter(m);
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
        std::vector<Clock::time_point> due;
        for (const Meter &m : meters) {
            due.push_back(m.connected && !m.blocked ? output_due(m, o.instant)
                                                    : Clock::time_point::max());
            wake = std::min(wake, next_output(m, now, o.instant));
            if (m.connected)
                fds.push_back(
                    {m.master, static_cast<short>(POLLIN | (m.blocked ? POLLOUT : 0)), 0});
        }
        long long wait =
            std::max<long long>(0, std::chrono::duration_cast<nanoseconds>(wake - now).count());
        timespec ts{static_cast<time_t>(wait / 1000000000), static_cast<long>(wait % 1000000000)};
        ppoll(fds.data(), fds.size(), &ts, nullptr); // EINTR only shortens the wait
        for (size_t i = 0; i < meters.size(); ++i) {
            Meter &m = meters[i];
            // Output that was due before a query now read came late before
            // that query: its log entry says so.
            const Clock::time_point woke = Clock::now();
            if (due[i] < woke)
                m.lag = std::max(m.lag, woke - due[i]);
            watch_plug(m);
            receive(m, o.instant);
            check_termios(m);
            const Clock::time_point sent = Clock::now();
            if (due[i] < sent)
                m.lag = std::max(m.lag, sent - due[i]);
            send_due(m, sent, o.instant);
        }
    }
}

void usage() {
    std::puts("usage: metersim [--com LIST] [--dir DIR] [--wine-prefix P] [--link-dir D]\n"
              "                [--ph X] [--mv Y] [--fault F] [--fault-from Q] [--instant]\n"
              "                [--usb T] [--fifo N] [--seed S] [--quiet] [--run CMD ARGS...]\n"
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
        } else if (a == "--fault-from") {
            long from = 0;
            if (!to_ms(o.fault_from = value(), kLongestMs, from) || from == 0)
                throw Error("--fault-from takes a query number from 1");
        } else if (a == "--seed") {
            if (!to_number(value(), l) || l < 0)
                throw Error("--seed takes a non-negative integer");
            o.seed = static_cast<unsigned long>(l);
        } else if (a == "--usb") {
            if (!to_ms(value(), kLongestLatencyMs, o.usb_ms) || o.usb_ms == 0)
                throw Error("--usb takes a latency of 1 to 255 ms");
        } else if (a == "--fifo") {
            if (!to_ms(value(), kLargestFifo, o.fifo) || o.fifo == 0)
                throw Error("--fifo takes a trigger level of 1 to 16 bytes");
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
