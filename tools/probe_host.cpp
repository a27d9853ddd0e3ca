#include "probe_host.h"

#include <chrono>
#include <cstdio>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace probe {

namespace {

bool Exists(const std::string &path) {
    if (FILE *file = std::fopen(path.c_str(), "rb")) {
        std::fclose(file);
        return true;
    }
    return false;
}

std::string ProgramDirectory() {
#if defined(_WIN32)
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path, length < sizeof path ? length : 0);
    const size_t slash = text.find_last_of("\\/");
#else
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    std::string text(path, length > 0 ? static_cast<size_t>(length) : 0);
    const size_t slash = text.find_last_of('/');
#endif
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

#if defined(_WIN32)
void *OpenLibrary(const std::string &path, std::string *error) {
    // No dialog box for a DLL that cannot be loaded: the probe reports it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryA(path.c_str());
    const DWORD code = GetLastError();
    if (library == nullptr)
        *error = "cannot load " + path + " (Windows error " + std::to_string(code) +
                 (code == ERROR_BAD_EXE_FORMAT ? ": built for another architecture)" : ")");
    return reinterpret_cast<void *>(library);
}
void *Symbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(void *library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
void *OpenLibrary(const std::string &path, std::string *error) {
    // dlopen searches the library path for a bare name; a file name is meant.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void *library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        *error = "cannot load " + path + ": " + dlerror();
    return library;
}
void *Symbol(void *library, const char *name) { return dlsym(library, name); }
void CloseLibrary(void *library) { dlclose(library); }
#endif

template <typename Function>
bool Resolve(void *library, const char *name, Function *function, std::string *missing) {
    *function = reinterpret_cast<Function>(Symbol(library, name));
    if (*function == nullptr && missing->empty())
        *missing = name;
    return *function != nullptr;
}

} // namespace

std::string LibraryFileName(int port) {
#if defined(_WIN32)
    return "tarvel_" + std::to_string(port) + ".dll";
#else
    return "tarvel_" + std::to_string(port) + ".so";
#endif
}

std::string FindLibrary(int port) {
    const std::string name = LibraryFileName(port);
#if defined(_WIN32)
    const std::string beside = ProgramDirectory() + "\\" + name;
#else
    const std::string beside = ProgramDirectory() + "/" + name;
#endif
    if (Exists(beside))
        return beside;
    return Exists(name) ? name : std::string();
}

bool Load(const std::string &path, Deliverable *deliverable, std::string *error) {
    *deliverable = Deliverable();
    if (!Exists(path)) {
        *error = path + " not found";
        return false;
    }
    void *library = OpenLibrary(path, error);
    if (library == nullptr)
        return false;
    Deliverable found;
    found.library = library;
    std::string missing;
    Resolve(library, "stdtitre", &found.title, &missing);
    Resolve(library, "stddetail", &found.detail, &missing);
    Resolve(library, "stdnead", &found.channelName, &missing);
    Resolve(library, "stdnea", &found.integerChannel, &missing);
    Resolve(library, "stdead", &found.read, &missing);
    if (!missing.empty()) {
        CloseLibrary(library);
        *error = path + " is not a tarvel driver: it has no export " + missing;
        return false;
    }
    *deliverable = found;
    return true;
}

void Unload(Deliverable *deliverable) {
    if (deliverable->library != nullptr)
        CloseLibrary(deliverable->library);
    *deliverable = Deliverable();
}

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double CpuMs() {
#if defined(_WIN32)
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0.0;
    const auto ticks = [](const FILETIME &t) { // 100 ns units
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e4;
#else
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
#endif
}

void SleepMs(double ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

} // namespace probe
