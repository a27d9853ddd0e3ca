#!/usr/bin/env python3
"""Checks a built deliverable's PE file as a lab's host and its loader meet
it: the export table holds exactly the names of the .def file, undecorated;
the imports are functions of the lists below and nothing else; the file is
at most 64 KiB, has no TLS directory (Windows XP crashes loading a DLL with
static TLS through LoadLibrary) and carries its version resource. A 64-bit
file also carries unwind data (.pdata) for every export, without which an
exception raised in the library never reaches the host's handler.
With --probe, checks tarvel-probe.exe, which ships beside the DLLs and must
start wherever they load: its imports are those of its own list below, it
has no TLS directory and is at most 80 KiB.
Usage: check_pe.py DEF DLL [DLL ...]
       check_pe.py --probe EXE"""
import struct
import sys

MAX_BYTES = 65536

# What a serial driver without threads of its own needs, all of it present since
# Windows XP, and exactly what the README names. Written out here, not taken
# from a build: anything else a build pulls in is a fault to be named.
ALLOWED = {
    "kernel32.dll": {
        # The port: opened, set up, read, written, emptied, its errors cleared.
        "BuildCommDCBA", "ClearCommError", "CloseHandle", "CreateFileA", "GetCommState",
        "PurgeComm", "ReadFile", "SetCommState", "SetCommTimeouts", "SetupComm", "WriteFile",
        # The reading's time-outs and its pauses.
        "QueryPerformanceCounter", "QueryPerformanceFrequency", "Sleep",
        # The readings' turns: the event that wakes the next thread in line,
        # and whether the thread of a turn held too long is still there.
        "CreateEventA", "ResetEvent", "SetEvent", "WaitForSingleObject",
        "GetCurrentThreadId", "OpenThread",
        # The entry point: no thread attach or detach calls.
        "DisableThreadLibraryCalls",
    },
    # The decimal point in a reply; the length of a query or of the port settings.
    "msvcrt.dll": {"memchr", "strlen"},
}

# tarvel-probe.exe, 32- and 64-bit: what a console program that loads a DLL
# and reads it needs, all of it present since Windows XP; no thread or
# process control, no runtime of its own. Written out here as the DLLs' list.
PROBE_MAX_BYTES = 80 * 1024
PROBE_ALLOWED = {
    "kernel32.dll": {
        "ExitProcess",
        # Finding the driver, loading it by its full path, resolving its exports.
        "FindClose", "FindFirstFileA", "FindNextFileA", "FreeLibrary", "GetFullPathNameA",
        "GetLastError", "GetModuleFileNameA", "GetProcAddress", "LoadLibraryA", "SetErrorMode",
        "SetLastError",
        # The driver's texts as characters on a console.
        "GetConsoleMode", "GetStdHandle", "MultiByteToWideChar", "WriteConsoleW",
        # The duration of a reading and the pause to the next.
        "QueryPerformanceCounter", "QueryPerformanceFrequency", "Sleep",
        # mingw-w64's printf and strtod: their locks, multibyte texts, and the
        # look-up of msvcrt.dll's code page function where it has one.
        "DeleteCriticalSection", "EnterCriticalSection", "GetModuleHandleW",
        "InitializeCriticalSection", "IsDBCSLeadByteEx", "LeaveCriticalSection",
        "WideCharToMultiByte",
    },
    "msvcrt.dll": {
        # The command line split as for any program on msvcrt.dll.
        "__getmainargs",
        # stdout and the CSV file (_iob: 32-bit, __iob_func: 64-bit).
        "__iob_func", "_iob", "_lock", "_unlock", "fclose", "fflush", "fopen", "fputc", "fputs",
        "fseek", "ftell", "fwrite",
        # The local time of a reading (time_t of 32 bits on 32-bit, 64 on 64-bit).
        "_localtime64", "_time64", "localtime", "strftime", "time",
        "memcpy", "memset", "strchr", "strcmp", "strlen", "strncmp", "wcslen",
        # mingw-w64's printf and strtod: the locale's decimal point and code
        # page, errno, the memory of long conversions.
        "___lc_codepage_func", "___mb_cur_max_func", "__mb_cur_max", "_errno", "atoi", "free",
        "localeconv", "malloc", "setlocale", "strerror",
    },
}

TLS_DIRECTORY, RESOURCE_DIRECTORY = 9, 2
EXCEPTION_DIRECTORY = 3


def read_pe(path):
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    wide = struct.unpack_from("<H", data, optional)[0] == 0x20B
    directories = optional + (112 if wide else 96)
    table = []
    for i in range(sections):
        s = optional + optional_size + 40 * i
        vsize, vaddr, rsize, raddr = struct.unpack_from("<IIII", data, s + 8)
        table.append((vaddr, max(vsize, rsize), raddr))

    def directory(index):
        return struct.unpack_from("<II", data, directories + 8 * index)

    def offset(rva):
        for vaddr, size, raddr in table:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError("RVA %#x outside every section" % rva)

    def text(rva):
        start = offset(rva)
        return data[start:data.index(b"\0", start)].decode("ascii")

    exports = []
    export_rvas = {}
    if directory(0)[0] != 0:
        e = offset(directory(0)[0])
        count, names_rva = struct.unpack_from("<I", data, e + 24)[0], struct.unpack_from("<I", data, e + 32)[0]
        exports = [text(struct.unpack_from("<I", data, offset(names_rva) + 4 * i)[0]) for i in range(count)]
        functions_rva, ordinals_rva = (struct.unpack_from("<I", data, e + at)[0] for at in (28, 36))

        def export_rva(i):
            ordinal = struct.unpack_from("<H", data, offset(ordinals_rva) + 2 * i)[0]
            return struct.unpack_from("<I", data, offset(functions_rva) + 4 * ordinal)[0]
        export_rvas = {name: export_rva(i) for i, name in enumerate(exports)}

    # x64 unwind data: RUNTIME_FUNCTION entries (begin, end, unwind info).
    unwind = []
    unwind_rva, unwind_size = directory(EXCEPTION_DIRECTORY) if wide else (0, 0)
    for i in range(unwind_size // 12):
        begin, end, info = struct.unpack_from("<III", data, offset(unwind_rva) + 12 * i)
        unwind.append((begin, end, info))

    imports = {}
    d = offset(directory(1)[0])
    entry, mask = (8, 1 << 63) if wide else (4, 1 << 31)
    while True:
        lookup_rva, _, _, name_rva, thunk_rva = struct.unpack_from("<IIIII", data, d)
        if name_rva == 0:
            break
        names = imports.setdefault(text(name_rva).lower(), [])
        t = offset(lookup_rva or thunk_rva)
        while True:
            value = struct.unpack_from("<Q" if wide else "<I", data, t)[0]
            if value == 0:
                break
            names.append("#%d" % (value & 0xFFFF) if value & mask else text((value & 0x7FFFFFFF) + 2))
            t += entry
        d += 20
    return {
        "size": len(data), "exports": exports, "imports": imports,
        "tls": directory(TLS_DIRECTORY) != (0, 0),
        "resources": directory(RESOURCE_DIRECTORY)[1] > 0,
        "wide": wide, "export_rvas": export_rvas, "unwind": unwind,
    }


def import_problems(pe, allowed):
    problems = []
    for dll, names in sorted(pe["imports"].items()):
        if dll not in allowed:
            problems.append("imports from %s: %s" % (dll, ", ".join(names)))
            continue
        extra = sorted(set(names) - allowed[dll])
        if extra:
            problems.append("imports from %s beyond the list: %s" % (dll, ", ".join(extra)))
    return problems


def size_and_tls_problems(pe, max_bytes):
    problems = []
    if pe["size"] > max_bytes:
        problems.append("%d bytes, more than %d" % (pe["size"], max_bytes))
    if pe["tls"]:
        problems.append("has a TLS directory")
    return problems


def unwind_problems(pe):
    """A 64-bit file: every export starts a function its unwind data covers."""
    if not pe["wide"]:
        return []
    if not pe["unwind"]:
        return ["no unwind data (.pdata)"]
    uncovered = sorted(name for name, rva in pe["export_rvas"].items()
                       if not any(begin == rva < end for begin, end, _ in pe["unwind"]))
    return ["exports without unwind data: %s" % ", ".join(uncovered)] if uncovered else []


def problems_of(pe, expected_exports):
    problems = []
    exports = pe["exports"]
    if sorted(exports) != expected_exports:
        problems.append("exports differ: extra %s, missing %s" % (
            sorted(set(exports) - set(expected_exports)), sorted(set(expected_exports) - set(exports))))
    decorated = [name for name in exports if "@" in name or name.startswith("_")]
    if decorated:
        problems.append("decorated names: %s" % decorated)
    problems += import_problems(pe, ALLOWED)
    problems += size_and_tls_problems(pe, MAX_BYTES)
    if not pe["resources"]:
        problems.append("carries no version resource")
    return problems + unwind_problems(pe)


def probe_problems_of(pe):
    return import_problems(pe, PROBE_ALLOWED) + size_and_tls_problems(pe, PROBE_MAX_BYTES)


def main():
    if sys.argv[1] == "--probe":
        files, check = sys.argv[2:], probe_problems_of
    else:
        deffile, files = sys.argv[1], sys.argv[2:]
        expected = sorted(line.strip() for line in open(deffile)
                          if line.strip() and line.strip() != "EXPORTS")
        def check(pe):
            return problems_of(pe, expected)
    failed = False
    for dll in files:
        pe = read_pe(dll)
        problems = check(pe)
        for problem in problems:
            print("%s: %s" % (dll, problem))
        failed = failed or bool(problems)
        counts = ", ".join("%s %d" % (name, len(names))
                           for name, names in sorted(pe["imports"].items()))
        print("%s: %d bytes, %d exports, imports %s" % (dll, pe["size"], len(pe["exports"]), counts))
    return 1 if failed or not files else 0


if __name__ == "__main__":
    sys.exit(main())
