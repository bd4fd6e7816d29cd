#!/usr/bin/env python3
"""Checks the shipping executable: a PE32 GUI program for i386 whose import table names only
DLLs that Windows loads from its KnownDLLs list. Any other DLL must be loaded at run time by full
system path, so that a DLL planted beside the installer can never be picked up. Neither it nor the
administrative installer inside it names the test build's switches (Software\Velmora\Test)."""
import struct
import sys

# Windows' KnownDLLs (Windows 7 to 11), lower case. msvcrt is the C run time mingw-w64 links.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
    "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll",
    "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "wldap32.dll", "ws2_32.dll",
}
# gdiplus is a KnownDLL only on newer Windows; the installer loads it by full path instead.
KNOWN_DLLS.discard("gdiplus.dll")


def read_pe(path):
    data = open(path, "rb").read()
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise SystemExit(f"{path}: not a PE file")
    machine, sections, _, _, _, opt_size, characteristics = struct.unpack_from("<HHIIIHH", data, pe_offset + 4)
    opt = pe_offset + 24
    (magic,) = struct.unpack_from("<H", data, opt)
    (subsystem,) = struct.unpack_from("<H", data, opt + 68)
    dirs = opt + (96 if magic == 0x10B else 112)
    import_rva, _ = struct.unpack_from("<II", data, dirs + 8)
    table = opt + opt_size
    section_list = [struct.unpack_from("<8sIIII", data, table + 40 * i) for i in range(sections)]

    def to_offset(rva):
        for _, vsize, vaddr, rawsize, rawptr in section_list:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rva - vaddr + rawptr
        raise SystemExit(f"{path}: RVA {rva:#x} outside every section")

    dlls = []
    entry = to_offset(import_rva) if import_rva else None
    while entry is not None:
        fields = struct.unpack_from("<IIIII", data, entry)
        if not any(fields):
            break
        name_off = to_offset(fields[3])
        dlls.append(data[name_off:data.index(b"\0", name_off)].decode("ascii"))
        entry += 20
    return machine, magic, subsystem, characteristics, dlls


def main():
    path = sys.argv[1]
    machine, magic, subsystem, characteristics, dlls = read_pe(path)
    problems = []
    with open(path, "rb") as f:
        if "Velmora\\Test\\".encode("utf-16-le") in f.read():
            problems.append("carries the test build's switches (Software\\Velmora\\Test)")
    if machine != 0x14C or magic != 0x10B:
        problems.append(f"not a PE32 i386 image (machine {machine:#x}, magic {magic:#x})")
    if subsystem != 2:
        problems.append(f"subsystem {subsystem}, expected 2 (Windows GUI)")
    if characteristics & 0x2000:
        problems.append("image is a DLL")
    others = sorted(d for d in dlls if d.lower() not in KNOWN_DLLS)
    if others:
        problems.append("imports DLLs outside KnownDLLs: " + ", ".join(others))
    print(f"{path}: imports {', '.join(dlls)}")
    for p in problems:
        print("FAIL: " + p)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
