#!/usr/bin/env python3
"""Where the bytes of the shipping program go. Reads the program itself (file size, sections,
resources by type, the embedded administrative installer RCDATA 103) and GNU ld's map of the same
link (bytes per library group and per object file).
Usage: size_map.py <program.exe> <program.map> [objects listed]"""
import collections
import re
import struct
import sys

LIMIT = 540_000
RESOURCE_TYPES = {1: "cursor", 2: "bitmap", 3: "icon", 5: "dialog", 6: "string", 10: "rcdata",
                  12: "cursor group", 14: "icon group", 16: "version", 24: "manifest"}
ADMIN_INSTALLER = (10, 103)  # RT_RCDATA 103
COLUMNS = [".text", ".rdata", ".eh_frame", ".data", ".bss", ".idata", ".reloc"]
# Input section: " .name  0xADDR  0xSIZE  file" (a long name puts the rest on the next line).
INPUT = re.compile(r"^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
OUTPUT = re.compile(r"^(\.\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)")


def read_pe(path):
    data = open(path, "rb").read()
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    _, count, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    (file_alignment,) = struct.unpack_from("<I", data, optional + 36)
    table = optional + optional_size
    sections = []
    for i in range(count):
        name, vsize, vaddr, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
        sections.append((name.rstrip(b"\0").decode(), vsize, vaddr, raw_size, raw_offset))
    return data, file_alignment, sections


def resources(data, sections):
    """{(type, name): bytes} of every resource; type and name are ids or strings."""
    rsrc = next((s for s in sections if s[0] == ".rsrc"), None)
    if rsrc is None:
        return {}
    _, _, base_rva, _, base = rsrc

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
            if name & 0x80000000:
                (length,) = struct.unpack_from("<H", data, base + (name & 0x7FFFFFFF))
                start = base + (name & 0x7FFFFFFF) + 2
                name = data[start:start + 2 * length].decode("utf-16-le")
            yield name, target

    def size(target):
        if not target & 0x80000000:
            return struct.unpack_from("<I", data, base + target + 4)[0]
        return sum(size(t) for _, t in entries(target & 0x7FFFFFFF))

    result = {}
    for kind, by_name in entries(0):
        for name, target in entries(by_name & 0x7FFFFFFF):
            result[(kind, name)] = size(target)
    return result


def group_of(path):
    name = path.rsplit("/", 1)[-1]
    library = name.split("(", 1)[0]
    if library.startswith("libstdc++"):
        return "libstdc++"
    if library.startswith("libgcc"):
        return "libgcc"
    if library.startswith(("libpthread", "libwinpthread")):
        return "winpthreads"
    if library.startswith("libtinyxml2"):
        return "tinyxml2"
    if library.startswith(("libmingw", "libmoldname", "crt")) or library == "libmsvcrt.a" and "_defs" not in name:
        return "mingw CRT"
    if path.startswith("/") and library.endswith(".a"):
        return "import thunks"  # lib<dll>.a of the toolchain: thunks and import tables
    if path.endswith(".res"):
        return "resources"
    if path.endswith((".obj", ".o")) or "(" in name:
        return "our code"
    return "linker"  # base relocations ("dll stuff")


def read_map(path):
    by_group = collections.defaultdict(collections.Counter)
    by_object = collections.Counter()
    started, output, pending = False, None, None
    for line in open(path, errors="replace"):
        line = line.rstrip("\n")
        if not started:
            started = line.startswith("Linker script and memory map")
            continue
        out = OUTPUT.match(line)
        if out:
            # Debugging sections are stripped from the shipped file.
            output = None if out.group(1).startswith((".debug", ".zdebug", ".stab")) else out.group(1)
            continue
        if pending is not None and line.startswith("                "):
            line = " " + pending + line
        pending = None
        match = INPUT.match(line)
        if not match:
            if line.startswith(" .") and " " not in line.strip():
                pending = line.strip()
            continue
        size, where = int(match.group(3), 16), match.group(4).strip()
        if output is None or output == ".rsrc" or match.group(1) is None or size == 0 or "=" in where:
            continue
        by_group[group_of(where)][output if output in COLUMNS else "other"] += size
        name = "base relocations" if where == "dll stuff" else where
        by_object[re.sub(r"^.*/(lib[^/(]*\.a\()", r"\1", name)] += size
    return by_group, by_object


def main():
    exe, link_map = sys.argv[1], sys.argv[2]
    top = int(sys.argv[3]) if len(sys.argv) > 3 else 25
    data, file_alignment, sections = read_pe(exe)
    found = resources(data, sections)
    print(f"{exe}: {len(data):,} bytes (at most {LIMIT:,}: {'yes' if len(data) <= LIMIT else 'NO'})")
    if ADMIN_INSTALLER in found:
        rsrc = next(s for s in sections if s[0] == ".rsrc")
        rest = -(-(rsrc[1] - found[ADMIN_INSTALLER]) // file_alignment) * file_alignment
        print(f"  without the administrative installer (RCDATA 103, {found[ADMIN_INSTALLER]:,} bytes): "
              f"about {len(data) - rsrc[3] + rest:,} bytes")

    print("sections (bytes in the file):")
    for name, _, _, raw_size, _ in sorted(sections, key=lambda s: -s[3]):
        if raw_size:
            print(f"  {'.eh_frame' if name == '.eh_fram' else name:<10}{raw_size:>10,}")

    print("resources by type:")
    by_type = collections.Counter()
    for (kind, name), size in found.items():
        label = RESOURCE_TYPES.get(kind, kind) if (kind, name) != ADMIN_INSTALLER else "rcdata 103"
        by_type[label] += size
    for label, size in by_type.most_common():
        print(f"  {label:<14}{size:>10,}")

    by_group, by_object = read_map(link_map)
    print("code and data by library (bytes before section alignment; .bss takes no file space and")
    print("stays out of the total):")
    header = "".join(f"{c:>10}" for c in COLUMNS + ["other", "total"])
    print(f"  {'':<14}{header}")
    for group, sizes in sorted(by_group.items(), key=lambda kv: -sum(kv[1].values())):
        row = "".join(f"{sizes[c]:>10,}" for c in COLUMNS + ["other"])
        print(f"  {group:<14}{row}{sum(sizes.values()) - sizes['.bss']:>10,}")
    print(f"largest object files (top {top}):")
    for name, size in by_object.most_common(top):
        print(f"  {size:>9,}  {name}")


if __name__ == "__main__":
    main()
