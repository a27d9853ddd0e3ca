#!/usr/bin/env python3
"""Checks a built deliverable's PE file: its export table holds exactly the
names of the .def file, undecorated, and it imports nothing but KERNEL32.dll
and msvcrt.dll. Usage: check_pe.py DLL DEF"""
import struct
import sys


def read_pe(path):
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    table = []
    for i in range(sections):
        s = optional + optional_size + 40 * i
        vsize, vaddr, rsize, raddr = struct.unpack_from("<IIII", data, s + 8)
        table.append((vaddr, max(vsize, rsize), raddr))

    def offset(rva):
        for vaddr, size, raddr in table:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError("RVA %#x outside every section" % rva)

    def text(rva):
        start = offset(rva)
        return data[start:data.index(b"\0", start)].decode("ascii")

    export_rva = struct.unpack_from("<I", data, directories)[0]
    e = offset(export_rva)
    count, names_rva = struct.unpack_from("<I", data, e + 24)[0], struct.unpack_from("<I", data, e + 32)[0]
    exports = [text(struct.unpack_from("<I", data, offset(names_rva) + 4 * i)[0]) for i in range(count)]

    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    imports = []
    d = offset(import_rva)
    while True:
        name_rva = struct.unpack_from("<I", data, d + 12)[0]
        if name_rva == 0:
            break
        imports.append(text(name_rva))
        d += 20
    return exports, imports


def main():
    dll, deffile = sys.argv[1], sys.argv[2]
    expected = sorted(line.strip() for line in open(deffile)
                      if line.strip() and line.strip() != "EXPORTS")
    exports, imports = read_pe(dll)
    problems = []
    if sorted(exports) != expected:
        problems.append("exports differ: extra %s, missing %s" % (
            sorted(set(exports) - set(expected)), sorted(set(expected) - set(exports))))
    if len(exports) != 58:
        problems.append("%d exports, not 58" % len(exports))
    decorated = [name for name in exports if "@" in name or name.startswith("_")]
    if decorated:
        problems.append("decorated names: %s" % decorated)
    if sorted(i.lower() for i in imports) != ["kernel32.dll", "msvcrt.dll"]:
        problems.append("imports %s" % imports)
    for problem in problems:
        print("%s: %s" % (dll, problem))
    print("%s: %d exports, imports %s" % (dll, len(exports), ", ".join(imports)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
