#!/usr/bin/env python3
"""An independent reader of vozpack's setup files, written from the byte
layout alone: it packs a small folder with the given vozpack binary, then
finds the marker, unscrambles the body with the keystream, checks the
trailer, walks the entries, inflates their blocks with Python's zlib,
checks every block, end and entry checksum, and compares what it read with
the files that were packed (names, contents, time stamps, attributes).

usage: vozip_check.py VOZPACK WORKDIR
"""
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import time
import zlib

MARKER = b"<VOZIP FILE BEGINS HERE>"
MAX_BLOCK_DECODED = 0x200040
MAX_BLOCK_STORED = 0x200400


class Bad(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Bad(what)


def register(data, reg=0xFFFFFFFF):
    """CRC-32 register started at reg, without the final inversion."""
    return zlib.crc32(data, reg ^ 0xFFFFFFFF) ^ 0xFFFFFFFF


def unscramble(body):
    """XOR with the keystream of the empty password (seed 0)."""
    out = bytearray(body)
    state = 0
    for i in range(len(out)):
        state = (state * 0x08088405 + 1) & 0xFFFFFFFF
        out[i] ^= state >> 24
    return bytes(out)


def dos_stamp(mtime):
    t = time.localtime(mtime)
    if t.tm_year < 1980:
        return 0x00210000
    if t.tm_year > 2107:
        return 0xFF9FBF7D
    date = ((t.tm_year - 1980) << 9) | (t.tm_mon << 5) | t.tm_mday
    return (date << 16) | (t.tm_hour << 11) | (t.tm_min << 5) | (min(t.tm_sec, 59) // 2)


def decode_entry(stream, name):
    """The content of one entry stream: blocks, then literal and end commands."""
    blocks = []
    pos = 0
    while pos < len(stream):
        check(pos + 13 <= len(stream), f"{name}: block header cut")
        method, decoded, stored, crc = struct.unpack_from("<BiiI", stream, pos)
        pos += 13
        check(0 <= decoded <= MAX_BLOCK_DECODED, f"{name}: decoded length {decoded}")
        check(0 <= stored <= MAX_BLOCK_STORED, f"{name}: stored length {stored}")
        data = stream[pos:pos + stored]
        check(len(data) == stored, f"{name}: block data cut")
        pos += stored
        check(register(data) == crc, f"{name}: block checksum")
        if method == 0:
            check(stored == decoded, f"{name}: stored block lengths differ")
            blocks.append(data)
        else:
            check(method == 1, f"{name}: block method {method}")
            d = zlib.decompressobj()
            plain = d.decompress(data)
            check(d.eof and not d.unused_data, f"{name}: zlib stream does not end")
            check(len(plain) == decoded, f"{name}: inflated {len(plain)} of {decoded}")
            blocks.append(plain)
    # Commands: no field crosses a block end; a literal's data lies in the
    # block of its length field.
    out = bytearray()
    b = 0
    at = 0

    def field(n):
        nonlocal b, at
        if b < len(blocks) and at == len(blocks[b]):
            b, at = b + 1, 0
        check(b < len(blocks), f"{name}: command stream ends early")
        check(at + n <= len(blocks[b]), f"{name}: field crosses a block end")
        v = blocks[b][at:at + n]
        at += n
        return v

    while True:
        cmd = field(1)[0]
        if cmd == 0x00:
            end = struct.unpack("<I", field(4))[0]
            check(end == register(bytes(out)), f"{name}: end checksum")
            break
        check(0x20 <= cmd <= 0x23, f"{name}: command 0x{cmd:02X} in an archive entry")
        length = int.from_bytes(field((cmd & 3) + 1), "little")
        check(at < len(blocks[b]) and at + length <= len(blocks[b]), f"{name}: literal outside its block")
        out += blocks[b][at:at + length]
        at += length
    check(b == len(blocks) - 1 and at == len(blocks[b]), f"{name}: bytes after the end command")
    return bytes(out)


def read_setup(data, stub):
    m = data.find(MARKER)
    check(m >= 0, "no marker")
    check(data[:len(stub)] == stub, "the stub is not at the front")
    check(data[len(stub):m] == b"\0" * (m - len(stub)), "padding before the marker is not zeros")
    check(m - len(stub) < 8, "more padding than needed")
    check(len(data) % 8 == 0, "setup file length is not a multiple of 8")
    archive = data[m + len(MARKER):]
    check(len(archive) >= 4, "no trailer")
    body = unscramble(archive[:-4])
    trailer = struct.unpack("<I", archive[-4:])[0]
    check(register(body) == trailer, "trailer does not match the body")
    entries = []
    pos = 0
    while pos < len(body):
        (n,) = struct.unpack_from("<H", body, pos)
        pos += 2
        check(n > 0, "empty name")
        name = body[pos:pos + n].decode("latin-1")
        pos += n
        stamp, size, attrs, stored, crc = struct.unpack_from("<5I", body, pos)
        pos += 20
        check(pos + stored <= len(body), f"{name}: stream runs past the body")
        content = decode_entry(body[pos:pos + stored], name)
        pos += stored
        check(len(content) == size, f"{name}: content size")
        check(register(content) == crc, f"{name}: entry checksum")
        entries.append((name, stamp, attrs, content))
    return entries


def make_folder(src):
    rnd = random.Random(7)
    words = [b"setup ", b"archive ", b"entry ", b"block ", b"checksum\n", b"the ", b"of "]
    files = {
        "random.bin": bytes(rnd.getrandbits(8) for _ in range(2_300_000)),
        "docs/read me.txt": b"".join(rnd.choice(words) for _ in range(500_000)),
        "docs/deep/empty.txt": b"",
        "Z_last.cfg": b"[x]\r\ny=1\r\n",
        "locked.ini": b"read only\n",
        "old.txt": b"from before 1980\n",
    }
    for rel, content in files.items():
        path = os.path.join(src, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
    os.utime(os.path.join(src, "old.txt"), (100_000_000, 100_000_000))
    os.utime(os.path.join(src, "Z_last.cfg"), (1_700_000_001, 1_700_000_001))
    os.chmod(os.path.join(src, "locked.ini"), 0o444)
    return files


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    vozpack, work = sys.argv[1], sys.argv[2]
    if os.path.exists(work):
        for root, dirs, _ in os.walk(work):
            for d in dirs:
                os.chmod(os.path.join(root, d), 0o755)
        subprocess.run(["chmod", "-R", "u+w", work], check=False)
        shutil.rmtree(work)
    src = os.path.join(work, "src")
    os.makedirs(src)
    files = make_folder(src)
    stub = bytes(random.Random(3).getrandbits(8) for _ in range(333))
    with open(os.path.join(work, "stub.exe"), "wb") as f:
        f.write(stub)

    for level in ("--level=0", "--level=6", "--best"):
        setup = os.path.join(work, "setup.exe")
        subprocess.run([vozpack, "pack", level, "--stub", os.path.join(work, "stub.exe"), "--out", setup, src],
                       check=True)
        with open(setup, "rb") as f:
            entries = read_setup(f.read(), stub)
        names = [e[0] for e in entries]
        expected = sorted(rel.replace("/", "\\") for rel in files)
        check(names == expected, f"names {names} != {expected}")
        check(names == sorted(names, key=lambda n: n.encode("latin-1")), "entries not in byte order")
        for name, stamp, attrs, content in entries:
            path = os.path.join(src, *name.split("\\"))
            check(content == files[name.replace("\\", "/")], f"{name}: content differs")
            check(stamp == dos_stamp(os.stat(path).st_mtime), f"{name}: time stamp 0x{stamp:08X}")
            writable = bool(os.stat(path).st_mode & stat.S_IWUSR)
            check(attrs == (0x20 if writable else 0x21), f"{name}: attributes 0x{attrs:X}")
        print(f"vozip_check {level}: {len(entries)} entries verified")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Bad as e:
        print(f"vozip_check: FAILED: {e}")
        sys.exit(1)
