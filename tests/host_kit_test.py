#!/usr/bin/env python3
"""The host programmer's kit: the Pascal unit's imports against the library's
own declarations, and the sample hosts reading a simulated meter.

Usage: host_kit_test.py imports EXPORTS_H TARVEL_PAS
       host_kit_test.py sample PORT METERSIM WINE_PREFIX RUNNER... HOST
       host_kit_test.py package-sample PORT DLL METERSIM WINE_PREFIX RUNNER... HOST

A sample host is run as a lab programmer would, "HOST PORT", with a meter
on that port only: it must load tarvel_PORT.dll, print its title and read
the meter's pH and potential. package-sample runs a 64-bit host from a
folder laid out as the release package's top folder: beside it a
tarvel_PORT.dll no 64-bit process can load, the 64-bit DLL in x64/."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


# The C types of driver/exports.h as a Pascal host declares them.
PASCAL_TYPES = {"int32_t": "LongInt", "double": "Double", "DoubleArg": "Double",
                "float": "Single", "SingleArg": "Single", "const char *": "PAnsiChar",
                "const double *": "PDouble"}


def library_entries(path):
    """name -> (convention, result, argument types) from the library's header.
    Entries written with REGISTER_STACK_ARGS list their stack arguments in
    GCC's order there; the declaration order is the macro's. Variants of
    REGISTER_CALL (how many registers the library itself declares) are the
    register convention to a host."""
    entries = {}
    text = re.sub(r"//[^\n]*", "", open(path).read())
    declaration = re.compile(r"^TARVEL_EXPORT\s+([^;#]+?)\s*\b(REGISTER_CALL|STD_CALL)\w*(?:\(\d\))?"
                             r"\s+(\w+)\(([^;]*)\);", re.M)
    for m in declaration.finditer(text):
        result, convention, name, args = (" ".join(g.split()) for g in m.groups())
        args = re.sub(r"^REGISTER_STACK_ARGS\((.*)\)$", r"\1", args)
        types = [re.sub(r"\s*\b\w+$", "", a.strip()) for a in args.split(",") if a.strip()]
        entries[name] = ("register" if convention == "REGISTER_CALL" else "stdcall",
                         PASCAL_TYPES[result], [PASCAL_TYPES[t] for t in types])
    return entries


def pascal_parameters(text):
    types = []
    for group in filter(None, (text or "").split(";")):
        names, kind = group.split(":")
        types += [kind.strip()] * len(names.split(","))
    return types


def pascal_entries(source, pattern):
    return {m.group("name"): (m.group("conv"), m.group("result"), pascal_parameters(m.group("args")))
            for m in re.finditer(pattern, source)}


def imports(exports_h, unit):
    expected = library_entries(exports_h)
    check(len(expected) == 58, "58 entries in %s, found %d" % (exports_h, len(expected)))
    source = open(unit).read()
    signature = r"(?:\((?P<args>[^)]*)\))?: (?P<result>\w+); (?P<conv>register|stdcall);"
    static = pascal_entries(source, r"function (?P<name>\w+)" + signature + r" external TarvelLibrary;")
    dynamic = pascal_entries(source, r"(?P<name>\w+): function" + signature)
    for form, found in (("static", static), ("by-name", dynamic)):
        for name in sorted(set(expected) | set(found)):
            check(found.get(name) == expected.get(name), "%s %s: %s, the library has %s"
                  % (form, name, found.get(name), expected.get(name)))
    # Loading binds every entry to its own name, once; unloading clears each.
    bound = re.findall(r"Bind\((\w+), '(\w+)'\)", source)
    wrong = [b for b in bound if b[0] != b[1] or bound.count(b) > 1]
    missing = sorted(set(expected) - {variable for variable, _ in bound})
    check(not wrong and not missing, "binding: wrong %s, missing %s" % (wrong, missing))
    cleared = re.findall(r"(\w+) := nil", source)
    check(sorted(cleared) == sorted(expected),
          "not cleared on unload: %s" % sorted(set(expected) - set(cleared)))


def sample(port, metersim, prefix, *command):
    result = subprocess.run([metersim, "--com", port, "--wine-prefix", prefix, "--quiet",
                             "--ph", "4.01", "--mv", "-45", "--run", *command, port],
                            capture_output=True, timeout=60)
    out = result.stdout.replace(b"\r\n", b"\n")
    expected = b"phm\xe8tre PHN130T,com%s:\npH 4.01, -45 mV\n" % port.encode()
    check(result.returncode == 0 and out == expected and result.stderr == b"",
          "title and reading of com%s:\n  exit %d\n  stdout %r\n  stderr %r\n  wanted %r"
          % (port, result.returncode, out, result.stderr, expected))


def package_sample(port, dll, metersim, prefix, *command):
    *runner, host = command
    with tempfile.TemporaryDirectory() as top:
        shutil.copy(host, top)
        with open(os.path.join(top, "tarvel_%s.dll" % port), "wb") as foreign:
            foreign.write(b"MZ" + bytes(510))  # not an image of this machine's
        os.mkdir(os.path.join(top, "x64"))
        shutil.copy(dll, os.path.join(top, "x64", "tarvel_%s.dll" % port))
        sample(port, metersim, prefix, *runner, os.path.join(top, os.path.basename(host)))


{"imports": imports, "sample": sample, "package-sample": package_sample}[sys.argv[1]](*sys.argv[2:])
for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
