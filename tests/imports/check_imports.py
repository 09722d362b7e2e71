#!/usr/bin/env python3
"""Reads the import table of every program of a Windows build and fails on any DLL that
the system would not always take from its own folder (its known DLLs).

The program runs elevated, often from a downloads folder: a DLL planted there under the
name of one it imports would be loaded with administrator rights.

usage: check_imports.py BUILD_DIR [REQUIRED_PROGRAM ...]
"""
import os
import struct
import sys

# The system's known DLLs (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs)
# that a program of ours may import; always loaded from the system folder.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
    "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll",
    "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "wldap32.dll", "ws2_32.dll",
}


class PeError(Exception):
    pass


def imported_dlls(path):
    """Names of the DLLs in the PE file's import directory (PE32 and PE32+), and its machine."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"MZ":
        raise PeError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic == 0x10B:
        directories = optional + 96
    elif magic == 0x20B:
        directories = optional + 112
    else:
        raise PeError("unknown optional header 0x%x" % magic)
    import_rva, import_size = struct.unpack_from("<II", data, directories + 8)
    section_table = optional + optional_size
    spans = []
    for i in range(sections):
        _, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data, section_table + 40 * i)
        spans.append((vaddr, max(vsize, rawsize), rawptr))

    def offset(rva):
        for vaddr, size, rawptr in spans:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise PeError("rva 0x%x in no section" % rva)

    names = []
    if import_rva == 0:
        return machine, names
    at = offset(import_rva)
    while True:
        lookup, _, _, name_rva, thunks = struct.unpack_from("<IIIII", data, at)
        if (lookup, name_rva, thunks) == (0, 0, 0):
            break
        name_at = offset(name_rva)
        end = data.index(b"\0", name_at)
        names.append(data[name_at:end].decode("ascii").lower())
        at += 20
    return machine, names


def main(argv):
    build = argv[1]
    required = set(argv[2:])
    programs = []
    for folder, dirs, files in os.walk(build):
        # CMake's compiler probes are no programs of ours.
        dirs[:] = [d for d in dirs if not d.startswith("wineprefix") and d != "CMakeFiles"]
        programs += [os.path.join(folder, f) for f in files if f.lower().endswith(".exe")]
    found = {os.path.basename(p) for p in programs}
    failures = ["missing program %s" % name for name in sorted(required - found)]
    for path in sorted(programs):
        try:
            machine, dlls = imported_dlls(path)
        except (PeError, struct.error, ValueError) as error:
            failures.append("%s: unreadable (%s)" % (path, error))
            continue
        foreign = [d for d in dlls if d not in KNOWN_DLLS]
        width = {0x14C: "32-bit", 0x8664: "64-bit"}.get(machine, "machine 0x%x" % machine)
        print("%-40s %-7s %s" % (os.path.relpath(path, build), width, " ".join(dlls)))
        if foreign:
            failures.append("%s imports %s" % (path, ", ".join(foreign)))
    if not programs:
        failures.append("no programs under %s" % build)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
