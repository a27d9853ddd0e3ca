#include "host.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#endif

namespace host {

std::string LibraryPath(int port) {
#if defined(_WIN32)
    return std::string(TARVEL_LIBRARY_DIR) + "/tarvel_" + std::to_string(port) + ".dll";
#else
    return std::string(TARVEL_LIBRARY_DIR) + "/tarvel_" + std::to_string(port) + ".so";
#endif
}

#if defined(_WIN32)
void *Load(const std::string &path, bool) {
    return reinterpret_cast<void *>(LoadLibraryA(path.c_str()));
}
void *Find(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void Unload(void *library) { FreeLibrary(static_cast<HMODULE>(library)); }
void RunUnloadCode(void *library, bool atExit) {
    const auto base = static_cast<const unsigned char *>(library);
    const auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const auto nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const auto entry = reinterpret_cast<BOOL(WINAPI *)(HINSTANCE, DWORD, LPVOID)>(
        const_cast<unsigned char *>(base) + nt->OptionalHeader.AddressOfEntryPoint);
    entry(static_cast<HINSTANCE>(library), DLL_PROCESS_DETACH,
          atExit ? reinterpret_cast<LPVOID>(1) : nullptr);
}
#else
void *Load(const std::string &path, bool global) {
    return dlopen(path.c_str(), RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL));
}
void *Find(void *library, const char *name) { return dlsym(library, name); }
void Unload(void *library) { dlclose(library); }
void RunUnloadCode(void *library, bool) {
    link_map *map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0)
        throw std::runtime_error("no link map");
    ElfW(Addr) array = 0;
    size_t bytes = 0;
    for (const ElfW(Dyn) *d = map->l_ld; d->d_tag != DT_NULL; ++d) {
        if (d->d_tag == DT_FINI_ARRAY)
            array = map->l_addr + d->d_un.d_ptr;
        else if (d->d_tag == DT_FINI_ARRAYSZ)
            bytes = d->d_un.d_val;
    }
    const auto functions = reinterpret_cast<void (**)()>(array);
    for (size_t i = bytes / sizeof *functions; i > 0; --i) // last first, as the loader does
        functions[i - 1]();
}
#endif

std::string SimFile(int port, const char *suffix) {
    const char *dir = std::getenv("METERSIM_DIR");
    if (dir == nullptr)
        throw std::runtime_error("METERSIM_DIR is not set: run under metersim --run");
#if defined(_WIN32)
    // Wine's view of the Unix root is drive Z:. The \\?\ prefix keeps
    // "com1.ctl" a file name: without it Windows takes any name that starts
    // with a device name ("com1", "con", ...) for that device.
    std::string path = std::string("\\\\?\\Z:") + dir + "/com" + std::to_string(port) + suffix;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
#else
    return std::string(dir) + "/com" + std::to_string(port) + suffix;
#endif
}

namespace {
std::string Slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
} // namespace

void SetMeter(int port, const std::string &control) {
    const std::string path = SimFile(port, ".ctl");
    std::ofstream(path + ".new", std::ios::binary) << control;
    std::remove(path.c_str());
    std::rename((path + ".new").c_str(), path.c_str());
}

std::string Received(int port) { return Slurp(SimFile(port, ".rx")); }
std::string LineSettings(int port) { return Slurp(SimFile(port, ".termios")); }
std::string QueryLog(int port) { return Slurp(SimFile(port, ".log")); }

LoggedQuery ParseLoggedQuery(const std::string &entry) {
    LoggedQuery q;
    std::istringstream fields(entry);
    for (std::string field; fields >> field;) {
        const size_t eq = field.find('=');
        const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
        if (key == "q")
            q.seq = std::stoul(value);
        else if (key == "ph")
            q.ph = std::stod(value);
        else if (key == "mv")
            q.mv = std::stod(value);
        else if (key == "fault")
            q.fault = value;
        else if (key == "valid")
            q.valid = value == "1";
        else if (key == "bytes")
            q.bytes = std::stoul(value);
        else if (key == "opens")
            q.opens = std::stoul(value);
        else if (key == "start_ms")
            q.startMs = std::stol(value);
        else if (key == "lag_ms")
            q.lagMs = std::stol(value);
    }
    return q;
}

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

#if defined(_WIN32)
double CpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME &t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0; // 100 ns units
}
#else
double CpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
#endif

#if defined(_WIN32)
void SleepMs(unsigned ms) { Sleep(ms); }
#else
void SleepMs(unsigned ms) { usleep(ms * 1000u); }
#endif

} // namespace host
