#!/usr/bin/env python3
"""Checks the release wheels in a folder before they ship:

- every shared object imports no glibc symbol version newer than the floor (default 2.28), so the
  manylinux tag that auditwheel gave is one the code really keeps to;
- the tesmar extension exports PyInit_tesmar and nothing else, and needs no libcrypto or libssl
  (the pinned OpenSSL is linked in, and must never meet the interpreter's own);
- each wheel's platform tag names the architecture its ELF files are built for.

    python tools/check_wheels.py dist [--glibc 2.28]

Prints one line per shared object; exits 1 on any fault. Needs pyelftools (auditwheel brings it).
"""
from __future__ import annotations

import argparse
import io
import re
import sys
import zipfile
from pathlib import Path

from elftools.elf.dynamic import DynamicSection
from elftools.elf.elffile import ELFFile
from elftools.elf.gnuversions import GNUVerNeedSection

MACHINES = {"EM_X86_64": "x86_64", "EM_AARCH64": "aarch64"}


def glibc_versions(elf: ELFFile) -> set[tuple[int, ...]]:
    found = set()
    for section in elf.iter_sections():
        if isinstance(section, GNUVerNeedSection):
            for _, auxiliaries in section.iter_versions():
                for aux in auxiliaries:
                    m = re.fullmatch(r"GLIBC_(\d+(?:\.\d+)*)", aux.name)
                    if m:
                        found.add(tuple(int(p) for p in m.group(1).split(".")))
    return found


def needed(elf: ELFFile) -> list[str]:
    return [tag.needed for section in elf.iter_sections() if isinstance(section, DynamicSection)
            for tag in section.iter_tags() if tag.entry.d_tag == "DT_NEEDED"]


def exported(elf: ELFFile) -> list[str]:
    table = elf.get_section_by_name(".dynsym")
    return sorted(s.name for s in table.iter_symbols()
                  if s.name and s["st_shndx"] != "SHN_UNDEF"
                  and s["st_info"]["bind"] in ("STB_GLOBAL", "STB_WEAK"))


def check(wheel: Path, floor: tuple[int, ...]) -> list[str]:
    faults = []
    arch = next((a for a in MACHINES.values() if wheel.name.endswith(f"_{a}.whl")), None)
    with zipfile.ZipFile(wheel) as z:
        objects = [n for n in z.namelist() if re.search(r"\.so(\.\d+)*$", n)]
        if not objects:
            faults.append(f"{wheel.name}: no shared object inside")
        for name in objects:
            elf = ELFFile(io.BytesIO(z.read(name)))
            machine = MACHINES.get(elf["e_machine"], elf["e_machine"])
            versions = glibc_versions(elf)
            newest = max(versions, default=())
            libs = needed(elf)
            print(f"{wheel.name}: {name}: {machine}, newest glibc symbol "
                  f"{'.'.join(map(str, newest)) or 'none'}, needs {', '.join(libs) or 'nothing'}")
            if machine != arch:
                faults.append(f"{name} is built for {machine} in a wheel tagged for {arch}")
            if newest > floor:
                faults.append(f"{name} imports glibc {'.'.join(map(str, newest))} symbols, newer than "
                              f"the floor {'.'.join(map(str, floor))}")
            if name.startswith("tesmar/__init__."):
                if any(lib.startswith(("libcrypto", "libssl")) for lib in libs):
                    faults.append(f"{name} links OpenSSL dynamically: {libs}")
                if exported(elf) != ["PyInit_tesmar"]:
                    faults.append(f"{name} exports {exported(elf)[:8]}..., not only PyInit_tesmar")
    return faults


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder", type=Path)
    parser.add_argument("--glibc", default="2.28")
    args = parser.parse_args(argv)
    floor = tuple(int(p) for p in args.glibc.split("."))
    wheels = sorted(args.folder.glob("*.whl"))
    if not wheels:
        print(f"no wheels in {args.folder}", file=sys.stderr)
        return 1
    faults = [f for wheel in wheels for f in check(wheel, floor)]
    for fault in faults:
        print(f"FAULT: {fault}", file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
