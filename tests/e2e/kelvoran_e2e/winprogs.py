"""Small Windows helper programs for the tests, built from tests/e2e/winprogs/*.c.

Each is compiled once per run with mingw-w64 into the run's own directory, as a
static 64-bit program (without -static it would need mingw's DLLs beside it):

  holdopen   holds a file open for reading, sharing read access only
  fakecurl   stands in for curl.exe and writes an error file of a chosen shape
  resinfo    prints what Windows reads from a program's resources
"""

import os
import subprocess

SOURCES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "winprogs")
COMPILER = "x86_64-w64-mingw32-gcc"
LIBRARIES = {"resinfo": ["-lversion"]}


def build(name, out_dir):
    """The path of `name`.exe in `out_dir`, compiled first unless it is already there."""
    exe = os.path.join(out_dir, name + ".exe")
    if os.path.isfile(exe):
        return exe
    os.makedirs(out_dir, exist_ok=True)
    partial = os.path.join(out_dir, name + ".part.exe")
    result = subprocess.run(
        [COMPILER, "-O2", "-Wall", "-Werror", "-static", "-o", partial,
         os.path.join(SOURCES, name + ".c")] + LIBRARIES.get(name, []),
        stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)
    if result.returncode != 0:
        raise AssertionError("building %s.exe failed:\n%s" % (name, result.stderr))
    os.replace(partial, exe)
    return exe
