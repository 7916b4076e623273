"""Small writers for the Windows resource formats the setup and the sample
products carry: ICO, BMP, WAVE (PCM) and standard MIDI files. Pure Python 3,
no third-party modules, deterministic output (the same input always gives the
same bytes).

Pictures are handed over as an Image: a width, a height and rows of pixels,
top row first. A pixel is an (r, g, b) or (r, g, b, a) tuple of 0..255 ints;
alpha 0 is transparent (used by icons), anything else counts as opaque in the
indexed formats.

    from assetlib import Image, write_bmp, write_ico, VGA16

    img = Image.filled(32, 32, (0, 0, 0))
    img.put(3, 4, (255, 255, 255))
    write_bmp("tile.bmp", img, bpp=4)               # palette from VGA16
    write_ico("app.ico", [big, small], bpp=4)       # several sizes, one file
    write_ico("app32.ico", [big, small])            # 32-bit with alpha

Indexed output (bpp 1, 4, 8) maps every pixel to the nearest colour of the
palette (an explicit list of (r, g, b), or VGA16 for 4 bits and a palette of
the image's own colours for 8 bits). Nothing is dithered.

Sounds:  write_wav_pcm16(path, samples, rate) for mono 16-bit PCM;
         read_wav(path) -> (header fields dict, data bytes) for any WAVE file.
Music:   midi_file_bytes(tracks, division, fmt=1) where each track is a list
         of (delta_ticks, event_bytes); helpers note_on, note_off, program,
         controller, tempo, meta_text, time_signature, end_of_track.
"""

import struct

__all__ = [
    "Image", "VGA16", "GRAY16",
    "bmp_bytes", "dib_bytes", "write_bmp", "ico_bytes", "write_ico",
    "write_wav_pcm16", "read_wav",
    "varlen", "midi_track_bytes", "midi_file_bytes",
    "note_on", "note_off", "program", "controller", "tempo", "meta_text",
    "track_name", "time_signature", "key_signature", "end_of_track",
]


# ---------------------------------------------------------------- pictures

class Image:
    """A picture as rows of (r, g, b[, a]) tuples, top row first."""

    def __init__(self, width, height, rows):
        if len(rows) != height or any(len(r) != width for r in rows):
            raise ValueError("rows do not match %d x %d" % (width, height))
        self.width = width
        self.height = height
        self.rows = rows

    @classmethod
    def filled(cls, width, height, colour):
        return cls(width, height, [[colour] * width for _ in range(height)])

    def get(self, x, y):
        return self.rows[y][x]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.rows[y][x] = colour

    def fill_rect(self, x0, y0, x1, y1, colour):
        """Fills x0 <= x < x1, y0 <= y < y1 (clipped)."""
        for y in range(max(0, y0), min(self.height, y1)):
            row = self.rows[y]
            for x in range(max(0, x0), min(self.width, x1)):
                row[x] = colour


# The 16 colours of the standard VGA palette, in the order Windows uses for
# 4-bit device-independent bitmaps.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Sixteen grey levels, black to white.
GRAY16 = [(v * 17, v * 17, v * 17) for v in range(16)]


def _rgb(p):
    return p[0], p[1], p[2]


def _alpha(p):
    return p[3] if len(p) > 3 else 255


def _nearest(palette, colour, cache):
    found = cache.get(colour)
    if found is None:
        r, g, b = colour
        found = min(range(len(palette)),
                    key=lambda i: (palette[i][0] - r) ** 2 * 3
                    + (palette[i][1] - g) ** 2 * 4
                    + (palette[i][2] - b) ** 2 * 2)
        cache[colour] = found
    return found


def _own_palette(image, limit):
    seen = []
    for row in image.rows:
        for p in row:
            c = _rgb(p)
            if c not in seen:
                seen.append(c)
                if len(seen) > limit:
                    raise ValueError("image has more than %d colours; pass a palette" % limit)
    return seen


def _stride(width, bpp):
    return ((width * bpp + 31) // 32) * 4


def _pack_row(indices_or_pixels, bpp):
    """Packs one row of palette indices (bpp <= 8) or pixels (24, 32)."""
    out = bytearray()
    if bpp == 32:
        for p in indices_or_pixels:
            out += bytes((p[2], p[1], p[0], _alpha(p)))
    elif bpp == 24:
        for p in indices_or_pixels:
            out += bytes((p[2], p[1], p[0]))
    else:
        per_byte = 8 // bpp
        for i in range(0, len(indices_or_pixels), per_byte):
            byte = 0
            for j in range(per_byte):
                byte <<= bpp
                if i + j < len(indices_or_pixels):
                    byte |= indices_or_pixels[i + j]
            out.append(byte)
    pad = (-len(out)) % 4
    return bytes(out) + b"\0" * pad


def _palette_for(image, bpp, palette):
    if bpp > 8:
        return None
    if palette is None:
        if bpp == 4:
            palette = VGA16
        elif bpp == 1:
            palette = [(0, 0, 0), (255, 255, 255)]
        else:
            palette = _own_palette(image, 1 << bpp)
    if len(palette) > (1 << bpp):
        raise ValueError("palette has %d entries, %d bits hold %d" % (len(palette), bpp, 1 << bpp))
    return [tuple(c[:3]) for c in palette]


def _pixel_rows(image, bpp, palette):
    """Rows bottom-up, each packed for bpp."""
    cache = {}
    rows = []
    for row in reversed(image.rows):
        if palette is None:
            rows.append(_pack_row(row, bpp))
        else:
            rows.append(_pack_row([_nearest(palette, _rgb(p), cache) for p in row], bpp))
    return rows


def dib_bytes(image, bpp=24, palette=None, height_factor=1):
    """A packed device-independent bitmap: BITMAPINFOHEADER, colour table,
    bottom-up pixel rows. height_factor 2 gives the doubled height that
    icon images declare (colour rows plus mask)."""
    if bpp not in (1, 4, 8, 24, 32):
        raise ValueError("unsupported bit depth %r" % bpp)
    palette = _palette_for(image, bpp, palette)
    rows = _pixel_rows(image, bpp, palette)
    size_image = _stride(image.width, bpp) * image.height
    colours = len(palette) if palette is not None else 0
    header = struct.pack("<IiiHHIIiiII", 40, image.width, image.height * height_factor, 1, bpp,
                         0, size_image if height_factor == 1 else 0, 2835, 2835,
                         colours, 0)
    table = b"".join(bytes((c[2], c[1], c[0], 0)) for c in (palette or []))
    return header + table + b"".join(rows)


def bmp_bytes(image, bpp=24, palette=None):
    """A .bmp file: BITMAPFILEHEADER followed by dib_bytes()."""
    dib = dib_bytes(image, bpp, palette)
    colours = struct.unpack_from("<I", dib, 32)[0]
    offset = 14 + 40 + 4 * colours
    return struct.pack("<2sIHHI", b"BM", 14 + len(dib), 0, 0, offset) + dib


def write_bmp(path, image, bpp=24, palette=None):
    """Writes image as a Windows bitmap file with the given bit depth."""
    with open(path, "wb") as f:
        f.write(bmp_bytes(image, bpp, palette))


def _and_mask(image):
    stride = _stride(image.width, 1)
    rows = []
    for row in reversed(image.rows):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if _alpha(p) == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(bits))
    return b"".join(rows)


def ico_bytes(images, bpp=32, palette=None):
    """An .ico file holding every image of the list (each up to 256 x 256)
    at the given bit depth. Transparent pixels (alpha 0) are set in the AND
    mask; in indexed images they are stored as palette entry of black."""
    entries = []
    blobs = []
    for image in images:
        if not (1 <= image.width <= 256 and 1 <= image.height <= 256):
            raise ValueError("icon images are 1..256 pixels wide and high")
        if bpp <= 8:
            shown = Image(image.width, image.height,
                          [[(0, 0, 0) if _alpha(p) == 0 else _rgb(p) for p in row] for row in image.rows])
        else:
            shown = image
        blob = dib_bytes(shown, bpp, palette, height_factor=2) + _and_mask(image)
        colours = struct.unpack_from("<I", blob, 32)[0]
        entries.append((image.width % 256, image.height % 256, colours if colours < 256 else 0,
                        1, bpp, len(blob)))
        blobs.append(blob)
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (w, h, colours, planes, bits, size), blob in zip(entries, blobs):
        out += struct.pack("<BBBBHHII", w, h, colours, 0, planes, bits, size, offset)
        offset += size
    return out + b"".join(blobs)


def write_ico(path, images, bpp=32, palette=None):
    """Writes the images (largest first is customary) into one .ico file."""
    with open(path, "wb") as f:
        f.write(ico_bytes(images, bpp, palette))


# ------------------------------------------------------------------ sounds

def write_wav_pcm16(path, samples, rate):
    """Writes mono 16-bit PCM; samples are ints, clipped to -32768..32767."""
    data = b"".join(struct.pack("<h", max(-32768, min(32767, int(s)))) for s in samples)
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def read_wav(path):
    """Returns ({format_tag, channels, rate, byte_rate, block_align, bits}, data)
    of a RIFF WAVE file; raises ValueError when it is not one."""
    with open(path, "rb") as f:
        raw = f.read()
    if raw[:4] != b"RIFF" or raw[8:12] != b"WAVE":
        raise ValueError("%s is not a RIFF WAVE file" % path)
    pos, fmt, data = 12, None, None
    while pos + 8 <= len(raw):
        tag, size = raw[pos:pos + 4], struct.unpack_from("<I", raw, pos + 4)[0]
        body = raw[pos + 8:pos + 8 + size]
        if tag == b"fmt ":
            tagv, ch, rate, brate, align, bits = struct.unpack_from("<HHIIHH", body)
            fmt = dict(format_tag=tagv, channels=ch, rate=rate, byte_rate=brate,
                       block_align=align, bits=bits)
        elif tag == b"data":
            data = body
        pos += 8 + size + (size & 1)
    if fmt is None or data is None:
        raise ValueError("%s lacks a fmt or data chunk" % path)
    return fmt, data


# ------------------------------------------------------------------- music

def varlen(value):
    """MIDI variable-length quantity."""
    if value < 0 or value > 0x0FFFFFFF:
        raise ValueError("variable-length value out of range")
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def note_on(channel, key, velocity):
    return bytes((0x90 | channel, key, velocity))


def note_off(channel, key, velocity=64):
    return bytes((0x80 | channel, key, velocity))


def program(channel, number):
    return bytes((0xC0 | channel, number))


def controller(channel, number, value):
    return bytes((0xB0 | channel, number, value))


def _meta(kind, payload):
    return bytes((0xFF, kind)) + varlen(len(payload)) + payload


def meta_text(text):
    return _meta(0x01, text.encode("ascii"))


def track_name(text):
    return _meta(0x03, text.encode("ascii"))


def tempo(microseconds_per_quarter):
    return _meta(0x51, microseconds_per_quarter.to_bytes(3, "big"))


def time_signature(numerator, denominator_power, clocks=24, notated32=8):
    return _meta(0x58, bytes((numerator, denominator_power, clocks, notated32)))


def key_signature(sharps, minor=False):
    return _meta(0x59, bytes((sharps & 0xFF, 1 if minor else 0)))


def end_of_track():
    return _meta(0x2F, b"")


def midi_track_bytes(events):
    """An MTrk chunk from (delta_ticks, event_bytes) pairs. Running status is
    not used, so each event's size is what it looks like. An end-of-track
    event is appended when the list lacks one."""
    body = bytearray()
    for delta, event in events:
        body += varlen(delta) + event
    if not events or events[-1][1] != end_of_track():
        body += varlen(0) + end_of_track()
    return b"MTrk" + struct.pack(">I", len(body)) + bytes(body)


def midi_file_bytes(tracks, division, fmt=1):
    """A standard MIDI file: MThd (format, track count, ticks per quarter
    note) followed by one MTrk per track."""
    head = b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), division)
    return head + b"".join(midi_track_bytes(t) for t in tracks)
