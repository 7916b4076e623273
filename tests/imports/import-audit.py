#!/usr/bin/env python3
"""Import audit of the Windows programs a setup is or carries.

A program that imports one function its system lacks, or names a DLL the
system does not have, never starts: the loader refuses it before any of our
code runs. So every import of every shipped program is checked against a
table of the functions we allow and the first release of each Windows line
that exports them (win-imports.tsv), and every DLL against win-dlls.tsv.

The floor follows from the program's machine type:
  i386   Windows 98 (9x line) and Windows NT 4.0: both must have each import;
         declared subsystem and OS version at most 4.0.
  AMD64  NT 5.2 (XP x64 / Server 2003 x64); declared versions at most 5.2.

Usage:
  import-audit.py [--tables DIR] PROGRAM...        audit; exit 1 on any offence
  import-audit.py --report [--tables DIR] PROGRAM... each program's real floor
  import-audit.py --list PROGRAM...                every import as DLL<TAB>name

The PE reader is our own (standard library only): import directory, by-name
and by-ordinal imports, delay-load imports, PE32 and PE32+.
"""

import argparse
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# Releases of each line in order. A value of the table is one of these, or
# "none" (the line never exports it), "?" (the documentation leaves it
# unclear) or "by R" (unclear before release R, certain from R on). Unclear
# counts as missing below the release that is certain.
RELEASES_9X = ["95", "95 OSR2", "98", "98 SE", "Me"]
RELEASES_NT = ["3.1", "3.5", "3.51", "4.0", "2000", "XP", "2003", "Vista", "7",
               "8", "8.1", "10"]
MISSING = ("none", "?")

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664
# machine -> (name, 9x floor or None, NT floor, highest declared version, floor as said)
FLOORS = {
    MACHINE_I386: ("i686", "98", "4.0", (4, 0), "Windows 98 and NT 4.0"),
    MACHINE_AMD64: ("x86-64", None, "2003", (5, 2), "NT 5.2 (XP x64, Server 2003 x64)"),
}


class PEError(Exception):
    pass


# ---- PE reader ---------------------------------------------------------------

class PEImage:
    """The headers, sections and imports of one PE file, read with bounds checks."""

    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = f.read()
        self._read_headers()

    def _u(self, fmt, off):
        size = struct.calcsize(fmt)
        if off < 0 or off + size > len(self.data):
            raise PEError("truncated file (read of %d bytes at 0x%x)" % (size, off))
        return struct.unpack_from("<" + fmt, self.data, off)

    def _read_headers(self):
        if self.data[:2] != b"MZ":
            raise PEError("not an MZ executable")
        (pe_off,) = self._u("I", 0x3C)
        if self._u("4s", pe_off)[0] != b"PE\0\0":
            raise PEError("no PE signature")
        coff = pe_off + 4
        (self.machine, nsections, _, _, _, opt_size, self.characteristics) = \
            self._u("HHIIIHH", coff)
        opt = coff + 20
        (self.magic,) = self._u("H", opt)
        if self.magic == 0x10B:
            self.pe32plus = False
            (self.image_base,) = self._u("I", opt + 28)
            dir_count_off, dirs_off = opt + 92, opt + 96
        elif self.magic == 0x20B:
            self.pe32plus = True
            (self.image_base,) = self._u("Q", opt + 24)
            dir_count_off, dirs_off = opt + 108, opt + 112
        else:
            raise PEError("unknown optional header magic 0x%x" % self.magic)
        (self.os_major, self.os_minor, _, _, self.subsys_major, self.subsys_minor) = \
            self._u("HHHHHH", opt + 40)
        (self.size_of_headers,) = self._u("I", opt + 60)
        (self.subsystem,) = self._u("H", opt + 68)
        (ndirs,) = self._u("I", dir_count_off)
        ndirs = min(ndirs, 16)
        if dirs_off + 8 * ndirs > opt + opt_size:
            raise PEError("data directories outside the optional header")
        self.dirs = [self._u("II", dirs_off + 8 * i) for i in range(ndirs)]
        self.sections = []
        sec = opt + opt_size
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = self._u("8sIIII", sec + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"),
                                  va, vsize, rawptr, rawsize))

    def offset(self, rva):
        """File offset of an RVA; only bytes that the file holds count."""
        if rva < self.size_of_headers:
            return rva
        for _, va, vsize, rawptr, rawsize in self.sections:
            if va <= rva < va + max(vsize, rawsize):
                if rva - va >= rawsize:
                    raise PEError("RVA 0x%x lies in uninitialised data" % rva)
                return rawptr + (rva - va)
        raise PEError("RVA 0x%x is in no section" % rva)

    def cstring(self, rva, limit=4096):
        off = self.offset(rva)
        end = self.data.find(b"\0", off, off + limit)
        if end < 0:
            raise PEError("unterminated name at RVA 0x%x" % rva)
        return self.data[off:end].decode("ascii", "replace")

    def _thunks(self, rva):
        """(ordinal or None, name or None) for each entry of a thunk table."""
        size, fmt = (8, "Q") if self.pe32plus else (4, "I")
        flag = 1 << (8 * size - 1)
        out = []
        for i in range(65536):
            (v,) = self._u(fmt, self.offset(rva + size * i))
            if v == 0:
                return out
            if v & flag:
                out.append((v & 0xFFFF, None))
            else:
                out.append((None, self.cstring((v & 0x7FFFFFFF) + 2)))
        raise PEError("thunk table at RVA 0x%x does not end" % rva)

    def imports(self):
        """[(dll, function, delayed)], function "#N" for an import by ordinal."""
        result = []
        if len(self.dirs) > 1 and self.dirs[1][0]:
            rva = self.dirs[1][0]
            for i in range(65536):
                ilt, _, _, name_rva, iat = self._u("IIIII", self.offset(rva + 20 * i))
                if not (ilt or name_rva or iat):
                    break
                dll = self.cstring(name_rva)
                for ordinal, name in self._thunks(ilt or iat):
                    result.append((dll, name if name is not None else "#%d" % ordinal, False))
        if len(self.dirs) > 13 and self.dirs[13][0]:
            rva = self.dirs[13][0]
            for i in range(65536):
                attrs, name_rva, _, iat, int_rva, _, _, _ = \
                    self._u("IIIIIIII", self.offset(rva + 32 * i))
                if not name_rva:
                    break
                if not attrs & 1:
                    # Old-style descriptors hold addresses, not RVAs.
                    name_rva -= self.image_base
                    int_rva -= self.image_base
                dll = self.cstring(name_rva)
                for ordinal, name in self._thunks(int_rva):
                    result.append((dll, name if name is not None else "#%d" % ordinal, True))
        return result


# ---- tables ------------------------------------------------------------------

def rank(value, releases, where):
    """Index of the first release that certainly exports it, or None."""
    if value in MISSING:
        return None
    if value.startswith("by "):
        value = value[3:]
    if value not in releases:
        raise SystemExit("%s: unknown release %r (one of %s, none, ?, by RELEASE)"
                         % (where, value, ", ".join(releases)))
    return releases.index(value)


def shown(value):
    return "unclear" if value == "?" else ("unclear before " + value[3:]) if value.startswith("by ") else value


def read_tsv(path, columns):
    rows = []
    with open(path, encoding="utf-8") as f:
        header = None
        for n, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            cells = line.split("\t")
            if header is None:
                header = cells
                missing = [c for c in columns if c not in header]
                if missing:
                    raise SystemExit("%s: header lacks %s" % (path, ", ".join(missing)))
                continue
            if len(cells) != len(header):
                raise SystemExit("%s:%d: %d cells, the header has %d"
                                 % (path, n, len(cells), len(header)))
            rows.append((n, dict(zip(header, cells))))
    return rows


class Tables:
    def __init__(self, folder):
        self.dlls = {}
        path = os.path.join(folder, "win-dlls.tsv")
        for n, row in read_tsv(path, ["dll", "win9x", "nt"]):
            where = "%s:%d" % (path, n)
            self.dlls[row["dll"].lower()] = (rank(row["win9x"], RELEASES_9X, where),
                                             rank(row["nt"], RELEASES_NT, where), row)
        self.functions = {}
        path = os.path.join(folder, "win-imports.tsv")
        for n, row in read_tsv(path, ["dll", "function", "win9x", "nt"]):
            where = "%s:%d" % (path, n)
            key = (row["dll"].lower(), row["function"])
            if key in self.functions:
                raise SystemExit("%s: %s!%s listed twice" % (where, row["dll"], row["function"]))
            if row["dll"].lower() not in self.dlls:
                raise SystemExit("%s: DLL %s is not in win-dlls.tsv" % (where, row["dll"]))
            self.functions[key] = (rank(row["win9x"], RELEASES_9X, where),
                                   rank(row["nt"], RELEASES_NT, where), row)


# ---- audit -------------------------------------------------------------------

def describe(pe):
    kind = "PE32+" if pe.pe32plus else "PE32"
    what = "DLL" if pe.characteristics & 0x2000 else "program"
    return "%s %s" % (kind, what)


def audit(path, tables, report_only):
    """Prints offences (or the real floor) of one file; returns True when it passes."""
    # Two folders deep: both products have a remover.exe.
    name = os.path.join(os.path.basename(os.path.dirname(os.path.abspath(path))),
                        os.path.basename(path))
    try:
        pe = PEImage(path)
        imports = pe.imports()
    except (OSError, PEError) as e:
        print("%s: cannot read: %s" % (name, e))
        return False
    if pe.machine not in FLOORS:
        print("%s: unexpected machine type 0x%x" % (name, pe.machine))
        return False
    arch, floor9x, floornt, max_declared, floor_text = FLOORS[pe.machine]
    floor9x_rank = None if floor9x is None else RELEASES_9X.index(floor9x)
    floornt_rank = RELEASES_NT.index(floornt)
    offences = []

    declared = [("subsystem version", (pe.subsys_major, pe.subsys_minor)),
                ("OS version", (pe.os_major, pe.os_minor))]
    for label, version in declared:
        if version > max_declared:
            offences.append("declares %s %d.%d, above its floor %d.%d"
                            % (label, version[0], version[1], max_declared[0], max_declared[1]))

    need = {"9x": 0, "nt": 0}           # the newest release each line needs
    lacks = {"9x": False, "nt": False}  # a line with no release that has it

    def count(r9x, rnt):
        for line, rank in (("9x", r9x), ("nt", rnt)):
            if rank is None:
                lacks[line] = True
            else:
                need[line] = max(need[line], rank)

    def too_new(r9x, rnt, row):
        """The lines whose floor comes before the release that exports it."""
        late = []
        if floor9x_rank is not None and (r9x is None or r9x > floor9x_rank):
            late.append("9x: %s" % shown(row["win9x"]))
        if rnt is None or rnt > floornt_rank:
            late.append("NT: %s" % shown(row["nt"]))
        return late

    stubs = []
    dll_names = sorted({d.lower() for d, _, _ in imports})
    for dll in dll_names:
        entry = tables.dlls.get(dll)
        if entry is None:
            offences.append("needs %s, which no supported Windows has" % dll)
            count(None, None)
            continue
        count(entry[0], entry[1])
        late = too_new(*entry)
        if late:
            offences.append("needs %s, which its floor lacks (%s)" % (dll, ", ".join(late)))

    for dll, func, delayed in sorted(set(imports), key=lambda t: (t[0].lower(), t[1])):
        tag = "%s!%s%s" % (dll, func, " (delay-loaded)" if delayed else "")
        entry = tables.functions.get((dll.lower(), func))
        if entry is None:
            offences.append("imports %s, which the table does not list" % tag)
            count(None, None)
            continue
        count(entry[0], entry[1])
        if "stub" in entry[2].get("note", "").lower().split():
            stubs.append(func)
        late = too_new(*entry)
        if late and not report_only:
            offences.append("imports %s, newer than its floor (%s)" % (tag, ", ".join(late)))

    if report_only:
        # The oldest releases it loads on, whatever its floor.
        nt = "no NT release" if lacks["nt"] else "NT %s or later" % RELEASES_NT[need["nt"]]
        if floor9x is not None:
            nt += ", " + ("no 9x release" if lacks["9x"] else "Windows %s or later" % RELEASES_9X[need["9x"]])
        declared_text = "subsystem %d.%d, OS %d.%d" % (pe.subsys_major, pe.subsys_minor,
                                                      pe.os_major, pe.os_minor)
        print("%s: %s %s, %s, %d imports from %d DLLs: loads on %s"
              % (name, arch, describe(pe), declared_text, len(imports), len(dll_names), nt))
        return True

    for o in offences:
        print("%s: %s" % (name, o))
    if offences:
        return False
    extra = ""
    if floor9x and stubs:
        extra = "; on 9x %d stub%s that fail when called: %s" % (
            len(stubs), "" if len(stubs) == 1 else "s", ", ".join(sorted(stubs)))
    print("%s: ok, %s %s, subsystem %d.%d, OS %d.%d, %d imports from %d DLLs, all on %s%s"
          % (name, arch, describe(pe), pe.subsys_major, pe.subsys_minor, pe.os_major,
             pe.os_minor, len(imports), len(dll_names), floor_text, extra))
    return True


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--tables", default=HERE,
                    help="folder of win-imports.tsv and win-dlls.tsv (default: beside this script)")
    mode = ap.add_mutually_exclusive_group()
    mode.add_argument("--list", action="store_true", help="print every import as DLL<TAB>function")
    mode.add_argument("--report", action="store_true",
                      help="print the oldest systems each program loads on, no floor check")
    ap.add_argument("programs", nargs="+")
    args = ap.parse_args()

    if args.list:
        seen = set()
        for path in args.programs:
            for dll, func, _ in PEImage(path).imports():
                seen.add((dll.lower(), func))
        for dll, func in sorted(seen):
            print("%s\t%s" % (dll, func))
        return 0

    tables = Tables(args.tables)
    ok = True
    for path in args.programs:
        ok = audit(path, tables, args.report) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
