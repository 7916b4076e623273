#!/usr/bin/env python3
"""Checks the import audit on programs it must refuse.

  import-audit-test.py [LATE.exe]

Small PE32 and PE32+ images built here carry what the linker rarely makes for
us: an import by ordinal, a delay-load import, a DLL no Windows has and a
subsystem version above the floor. LATE.exe, when given, is a real program
built to import GetTickCount64 and declare subsystem 6.0.
"""

import importlib.util
import os
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True     # no __pycache__ in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
AUDIT = os.path.join(HERE, "import-audit.py")
loader_spec = importlib.util.spec_from_file_location("import_audit", AUDIT)
audit = importlib.util.module_from_spec(loader_spec)
loader_spec.loader.exec_module(audit)

failures = []


def check(cond, what):
    print("%s: %s" % ("ok" if cond else "FAILED", what))
    if not cond:
        failures.append(what)


def build_pe(pe32plus, imports, delayed, subsystem=(4, 0)):
    """A PE image whose one section holds the import tables.

    imports/delayed: [(dll, [name or ordinal number, ...])]."""
    base_rva, raw_ptr, sec_size = 0x1000, 0x200, 0x1000
    sec = bytearray(sec_size)
    cursor = [0x400]                        # names, thunks and strings grow from here

    def put(data):
        off = cursor[0]
        sec[off:off + len(data)] = data
        cursor[0] = (off + len(data) + 7) & ~7
        return base_rva + off

    width, fmt = (8, "<Q") if pe32plus else (4, "<I")
    flag = 1 << (8 * width - 1)

    def thunks(entries):
        table = b""
        for e in entries:
            if isinstance(e, int):
                table += struct.pack(fmt, flag | e)
            else:
                table += struct.pack(fmt, put(struct.pack("<H", 0) + e.encode() + b"\0"))
        return put(table + b"\0" * width)

    for i, (dll, entries) in enumerate(imports):
        ilt = thunks(entries)
        iat = thunks(entries)
        struct.pack_into("<IIIII", sec, 20 * i, ilt, 0, 0, put(dll.encode() + b"\0"), iat)
    for i, (dll, entries) in enumerate(delayed):
        names = thunks(entries)
        iat = thunks(entries)
        struct.pack_into("<IIIIIIII", sec, 0x200 + 32 * i, 1, put(dll.encode() + b"\0"),
                         put(b"\0" * 8), iat, names, 0, 0, 0)

    opt_size = 240 if pe32plus else 224
    head = bytearray(raw_ptr)
    head[0:2] = b"MZ"
    struct.pack_into("<I", head, 0x3C, 0x40)
    head[0x40:0x44] = b"PE\0\0"
    machine = 0x8664 if pe32plus else 0x14C
    struct.pack_into("<HHIIIHH", head, 0x44, machine, 1, 0, 0, 0, opt_size, 0x0102)
    opt = 0x58
    struct.pack_into("<H", head, opt, 0x20B if pe32plus else 0x10B)
    if pe32plus:
        struct.pack_into("<Q", head, opt + 24, 0x140000000)
    else:
        struct.pack_into("<I", head, opt + 28, 0x400000)
    struct.pack_into("<HHHHHH", head, opt + 40, 4, 0, 0, 0, subsystem[0], subsystem[1])
    struct.pack_into("<I", head, opt + 56, base_rva + sec_size)
    struct.pack_into("<I", head, opt + 60, raw_ptr)
    struct.pack_into("<H", head, opt + 68, 2)
    dirs = opt + (112 if pe32plus else 96)
    struct.pack_into("<I", head, dirs - 4, 16)
    if imports:
        struct.pack_into("<II", head, dirs + 8 * 1, base_rva, 20 * (len(imports) + 1))
    if delayed:
        struct.pack_into("<II", head, dirs + 8 * 13, base_rva + 0x200, 32 * (len(delayed) + 1))
    struct.pack_into("<8sIIII", head, opt + opt_size, b".idata", sec_size, base_rva,
                     sec_size, raw_ptr)
    return bytes(head) + bytes(sec)


def run_audit(path):
    proc = subprocess.run([sys.executable, AUDIT, path], capture_output=True, text=True)
    return proc.returncode, proc.stdout + proc.stderr


with tempfile.TemporaryDirectory() as tmp:
    # The reader, both widths: names, ordinals and delay-load imports come back as built.
    for plus in (False, True):
        kind = "PE32+" if plus else "PE32"
        path = os.path.join(tmp, "odd%s.exe" % ("64" if plus else "32"))
        with open(path, "wb") as f:
            f.write(build_pe(plus,
                             [("KERNEL32.dll", ["GetTickCount", "Sleep"]),
                              ("COMCTL32.dll", [17]),
                              ("libgcc_s_dw2-1.dll", ["__register_frame_info"])],
                             [("WINMM.dll", ["PlaySoundA", 2])],
                             subsystem=(6, 0)))
        got = audit.PEImage(path).imports()
        want = [("KERNEL32.dll", "GetTickCount", False), ("KERNEL32.dll", "Sleep", False),
                ("COMCTL32.dll", "#17", False),
                ("libgcc_s_dw2-1.dll", "__register_frame_info", False),
                ("WINMM.dll", "PlaySoundA", True), ("WINMM.dll", "#2", True)]
        check(got == want, "%s reader returns every import (%r)" % (kind, got))

        code, out = run_audit(path)
        check(code == 1, "%s audit exits 1 (got %d)" % (kind, code))
        for needle in ["needs libgcc_s_dw2-1.dll, which no supported Windows has",
                       "imports COMCTL32.dll!#17, which the table does not list",
                       "imports WINMM.dll!PlaySoundA (delay-loaded), which the table does not list",
                       "declares subsystem version 6.0, above its floor"]:
            check(needle in out, "%s audit prints '%s'" % (kind, needle))

    # Only allowed imports and versions: it passes.
    path = os.path.join(tmp, "fine.exe")
    with open(path, "wb") as f:
        f.write(build_pe(False, [("KERNEL32.dll", ["GetTickCount", "Sleep"])], []))
    code, out = run_audit(path)
    check(code == 0 and "ok, i686 PE32 program" in out, "an allowed program passes (%s)" % out.strip())

    # Damaged files are failures, never passes.
    path = os.path.join(tmp, "cut.exe")
    with open(path, "wb") as f:
        f.write(build_pe(False, [("KERNEL32.dll", ["Sleep"])], [])[:0x300])
    code, out = run_audit(path)
    check(code == 1 and "cannot read" in out, "a truncated file fails (%s)" % out.strip())

if len(sys.argv) > 1:
    code, out = run_audit(sys.argv[1])
    check(code == 1, "the late program fails the audit (exit %d)" % code)
    check("!GetTickCount64, newer than its floor" in out and "NT: Vista" in out,
          "the late program's GetTickCount64 is named with its release")
    check("declares subsystem version 6.0" in out, "the late program's subsystem 6.0 is named")
    print(out, end="")

print("%d failed" % len(failures) if failures else "all checks passed")
sys.exit(1 if failures else 0)
