#include "probe_host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
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
const char Separator[] = "\\";
const char Extension[] = ".dll";
#else
const char Separator[] = "/";
const char Extension[] = ".so";
#endif

// The names of the files in a folder; none when it cannot be read.
std::vector<std::string> FileNames(const std::string &folder) {
    std::vector<std::string> names;
#if defined(_WIN32)
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
#else
    if (DIR *dir = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(dir))
            names.push_back(entry->d_name);
        closedir(dir);
    }
#endif
    return names;
}

// N of a file named tarvel_N with this build's extension (N from 1 to 255,
// no leading zero), else 0.
int PortOfFileName(const std::string &name) {
    const std::string prefix = "tarvel_";
    const std::string extension = Extension;
    if (name.size() <= prefix.size() + extension.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
        return 0;
    const std::string digits =
        name.substr(prefix.size(), name.size() - prefix.size() - extension.size());
    if (digits.size() > 3 || digits[0] == '0' ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int port = std::atoi(digits.c_str());
    return port <= 255 ? port : 0;
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

std::string LibraryFileName(int port) { return "tarvel_" + std::to_string(port) + Extension; }

std::string FindLibrary(int port) {
    const std::string name = LibraryFileName(port);
    const std::string program = ProgramDirectory() + Separator;
    for (const std::string &path : {program + name, program + MorePorts + Separator + name, name,
                                    std::string(MorePorts) + Separator + name})
        if (Exists(path))
            return path;
    return std::string();
}

std::vector<int> PortsToScan() {
    std::vector<int> ports = {1, 2, 3, 4, 5};
    const std::string program = ProgramDirectory();
    for (const std::string &folder : {program, program + Separator + MorePorts})
        for (const std::string &name : FileNames(folder))
            if (const int port = PortOfFileName(name))
                ports.push_back(port);
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
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
