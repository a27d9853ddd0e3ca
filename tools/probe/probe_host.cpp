#include "probe_host.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace probe {

namespace {

#if defined(_WIN32)
const char Separator[] = "\\";
const char Extension[] = ".dll";
#else
const char Separator[] = "/";
const char Extension[] = ".so";
#endif

bool Exists(const char *path) {
    if (FILE *file = fopen(path, "rb")) {
        fclose(file);
        return true;
    }
    return false;
}

// The folder of the running program into folder[PathSize], without its last
// separator; the empty text when it cannot be told.
void ProgramDirectory(char *folder) {
#if defined(_WIN32)
    const DWORD got = GetModuleFileNameA(nullptr, folder, PathSize);
    const size_t length = got < PathSize ? got : 0;
#else
    const ssize_t got = readlink("/proc/self/exe", folder, PathSize);
    const size_t length = got > 0 && static_cast<size_t>(got) < PathSize ? got : 0;
#endif
    folder[length] = '\0';
    char *slash = nullptr;
    for (char *c = folder; *c != '\0'; ++c)
        if (*c == '/' || (Separator[0] == '\\' && *c == '\\'))
            slash = c;
    *(slash != nullptr ? slash : folder) = '\0';
}

// N of a file named tarvel_N with this build's extension (N from 1 to 255,
// no leading zero), else 0.
int PortOfFileName(const char *name) {
    const char prefix[] = "tarvel_";
    const size_t prefixLength = sizeof prefix - 1, extensionLength = sizeof Extension - 1;
    const size_t length = strlen(name);
    if (length <= prefixLength + extensionLength || strncmp(name, prefix, prefixLength) != 0 ||
        strcmp(name + length - extensionLength, Extension) != 0)
        return 0;
    const char *digits = name + prefixLength;
    const size_t count = length - prefixLength - extensionLength;
    if (count > 3 || digits[0] == '0')
        return 0;
    int port = 0;
    for (size_t i = 0; i < count; ++i) {
        if (digits[i] < '0' || digits[i] > '9')
            return 0;
        port = port * 10 + (digits[i] - '0');
    }
    return port <= MaxPort ? port : 0;
}

// Marks in seen[] the port of every tarvel_N file in folder; nothing when
// the folder cannot be read.
void MarkPortsIn(const char *folder, bool *seen) {
#if defined(_WIN32)
    char pattern[PathSize];
    if (snprintf(pattern, sizeof pattern, "%s\\*", folder) >= static_cast<int>(sizeof pattern))
        return;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
        seen[PortOfFileName(found.cFileName)] = true;
    while (FindNextFileA(search, &found));
    FindClose(search);
#else
    if (DIR *dir = opendir(folder)) {
        while (const dirent *entry = readdir(dir))
            seen[PortOfFileName(entry->d_name)] = true;
        closedir(dir);
    }
#endif
}

#if defined(_WIN32)
// LoadLibraryA searches for a relative name, in the system folders and PATH
// before the current directory: a stray tarvel_1.dll there would be loaded
// in place of the one named. The full path leaves no search.
void *OpenLibrary(const char *path, char *error) {
    // No dialog box for a DLL that cannot be loaded: the probe reports it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    char full[PathSize];
    const DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    HMODULE library = nullptr;
    if (length > 0 && length < sizeof full)
        library = LoadLibraryA(full);
    else if (length != 0)
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    const DWORD code = GetLastError();
    if (library == nullptr)
        snprintf(error, ErrorSize, "cannot load %s (Windows error %lu%s", path,
                 static_cast<unsigned long>(code),
                 code == ERROR_BAD_EXE_FORMAT ? ": built for another architecture)" : ")");
    return reinterpret_cast<void *>(library);
}
void *Symbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(void *library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
void *OpenLibrary(const char *path, char *error) {
    // dlopen searches the library path for a bare name; a file name is meant.
    char file[PathSize + 2];
    snprintf(file, sizeof file, "%s%s", strchr(path, '/') == nullptr ? "./" : "", path);
    void *library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        snprintf(error, ErrorSize, "cannot load %s: %s", path, dlerror());
    return library;
}
void *Symbol(void *library, const char *name) { return dlsym(library, name); }
void CloseLibrary(void *library) { dlclose(library); }
#endif

template <typename Function>
void Resolve(void *library, const char *name, Function *function, const char **missing) {
    *function = reinterpret_cast<Function>(Symbol(library, name));
    if (*function == nullptr && *missing == nullptr)
        *missing = name;
}

} // namespace

void LibraryFileName(int port, char *name) {
    snprintf(name, NameSize, "tarvel_%d%s", port, Extension);
}

bool FindLibrary(int port, char *path) {
    char name[NameSize], program[PathSize];
    LibraryFileName(port, name);
    ProgramDirectory(program);
    const char *const places[][3] = {{program, Separator, ""},
                                     {program, Separator, MorePorts},
                                     {"", "", ""},
                                     {"", "", MorePorts}};
    for (const auto &place : places) {
        // program/name, program/more-ports/name, name, more-ports/name
        const bool inMorePorts = place[2][0] != '\0';
        const int length = snprintf(path, PathSize, "%s%s%s%s%s", place[0], place[1], place[2],
                                    inMorePorts ? Separator : "", name);
        if (length < static_cast<int>(PathSize) && Exists(path))
            return true;
    }
    path[0] = '\0';
    return false;
}

int PortsToScan(int *ports) {
    bool seen[MaxPort + 1] = {};
    for (int port = 1; port <= 5; ++port)
        seen[port] = true;
    char program[PathSize], folder[PathSize];
    ProgramDirectory(program);
    MarkPortsIn(program, seen);
    if (snprintf(folder, sizeof folder, "%s%s%s", program, Separator, MorePorts) <
        static_cast<int>(sizeof folder))
        MarkPortsIn(folder, seen);
    int count = 0;
    for (int port = 1; port <= MaxPort; ++port)
        if (seen[port])
            ports[count++] = port;
    return count;
}

bool Load(const char *path, Deliverable *deliverable, char *error) {
    *deliverable = Deliverable();
    if (!Exists(path)) {
        snprintf(error, ErrorSize, "%s not found", path);
        return false;
    }
    void *library = OpenLibrary(path, error);
    if (library == nullptr)
        return false;
    Deliverable found;
    found.library = library;
    const char *missing = nullptr;
    Resolve(library, "stdtitre", &found.title, &missing);
    Resolve(library, "stddetail", &found.detail, &missing);
    Resolve(library, "stdnead", &found.channelName, &missing);
    Resolve(library, "stdnea", &found.integerChannel, &missing);
    Resolve(library, "stdead", &found.read, &missing);
    if (missing != nullptr) {
        CloseLibrary(library);
        snprintf(error, ErrorSize, "%s is not a tarvel driver: it has no export %s", path, missing);
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

} // namespace probe
