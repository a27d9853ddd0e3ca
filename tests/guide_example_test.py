#!/usr/bin/env python3
"""The user guide's Python example, as a 64-bit Python on Windows runs it:
saved in a folder laid out as the package's top, with a tarvel_1.dll beside
it that no 64-bit process can load and the 64-bit one in x64/, it must take
x64's and read the meter on com1:. Here the 64-bit library is the Linux one
and ctypes.WinDLL is CDLL, the same plain call on x86-64.

Usage: guide_example_test.py USER_GUIDE LIBRARY METERSIM LINK_DIR"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

guide, library, metersim, link_dir = sys.argv[1:]
text = open(guide, encoding="utf-8").read()
section = text[text.index("### From a Python script"):]
example = re.search(r"```python\n(.*?)```", section, re.S).group(1)

RUN = ("import ctypes, runpy, sys\n"
       "ctypes.WinDLL = ctypes.CDLL\n"
       "sys.argv = [sys.argv[1], '1']\n"
       "runpy.run_path(sys.argv[0], run_name='__main__')\n")

with tempfile.TemporaryDirectory() as top:
    script = os.path.join(top, "read_meter.py")
    with open(script, "w") as f:
        f.write(example)
    with open(os.path.join(top, "tarvel_1.dll"), "wb") as foreign:
        foreign.write(b"MZ" + bytes(510))  # the 32-bit DLL's place: nothing loadable
    os.mkdir(os.path.join(top, "x64"))
    shutil.copy(library, os.path.join(top, "x64", "tarvel_1.dll"))
    result = subprocess.run([metersim, "--com", "1", "--link-dir", link_dir, "--quiet",
                             "--ph", "4.01", "--mv", "-45", "--run",
                             sys.executable, "-c", RUN, script],
                            capture_output=True, timeout=60)

expected = "phm\u00e8tre PHN130T,com1:\npH 4.01, -45 mV\n".encode("utf-8")
if result.returncode != 0 or result.stdout != expected:
    print("FAILED: exit %d\n  stdout %r\n  stderr %r\n  wanted %r"
          % (result.returncode, result.stdout, result.stderr.decode(errors="replace"), expected))
    sys.exit(1)
print("the guide's example read com1: through x64/tarvel_1.dll")
