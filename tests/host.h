// What the tests need of a host program: load a deliverable by path, find its
// exports by name, unload it; and talk to the meter simulator through the
// files in METERSIM_DIR.
#pragma once

#include <string>

namespace host {

// Path of deliverable tarvel_<port> as built for the tests.
std::string LibraryPath(int port);

// nullptr when it cannot be loaded. Global: its symbols become visible to
// libraries loaded later (RTLD_GLOBAL; Windows has no such thing).
void *Load(const std::string &path, bool global = false);
void *Find(void *library, const char *name);
void Unload(void *library);
// Runs the library's unload code (its DLL detach, its ELF destructors) while
// it stays loaded, as at process exit, when other libraries may still call it.
// On Windows, atExit false runs the detach of FreeLibrary instead.
void RunUnloadCode(void *library, bool atExit = true);

template <typename Function> Function Export(void *library, const char *name) {
    return reinterpret_cast<Function>(Find(library, name));
}

// The simulator's control directory, as this process names paths.
std::string SimFile(int port, const char *suffix);
// Replaces the behaviour of meter <port> ("ph=7.02\nmv=-123\nfault=crlf\n").
void SetMeter(int port, const std::string &control);
// Every byte the driver sent meter <port> so far.
std::string Received(int port);
// The line settings the driver gave meter <port>'s terminal, e.g.
// "speed=2400 csize=8 ...".
std::string LineSettings(int port);
// The query log of meter <port>, one line per query.
std::string QueryLog(int port);
// One query as the meter logged it: its number, the values it answered, the
// fault it played, whether it answered in time, the bytes it sent and the
// opens of the line it saw before it, when its reply began (ms after the
// earliest the query can have been sent) and how late at most the simulator
// passed its output on since the query before.
struct LoggedQuery {
    unsigned long seq = 0;
    double ph = 0, mv = 0;
    std::string fault;
    bool valid = false;
    unsigned long bytes = 0, opens = 0;
    long startMs = -1, lagMs = 0;
};
// One line of that log.
LoggedQuery ParseLoggedQuery(const std::string &entry);

// Milliseconds on a steady clock.
double NowMs();
// Processor time (user and system) this process has used, in milliseconds.
double CpuMs();
void SleepMs(unsigned ms);

} // namespace host
