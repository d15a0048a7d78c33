#!/usr/bin/env python3
"""Writes the image loader fixtures into a folder, with an independent decode of each next to it.

Usage: make_image_fixtures.py OUTDIR

Pictures that ImageMagick can write are written by it; the variants it cannot write (run-length BMPs with moves,
top-down BMPs, TGAs, DDS mask formats, the engine's raw "BGRA" format) are written here. (Its own run-length and
colour-mapped TGAs store their rows against their orientation bit, so it is no reference for TGA.)
Every fixture FILE gets FILE.rgba: its pixels as R, G, B, A bytes, rows top to bottom, decoded by ImageMagick
where it reads the format and otherwise taken from the source pixels this script encoded. "manifest.txt" lists
one fixture a line:
    file width height tolerance alpha bits raw_offset
alpha: a = compare alpha, n = the loader keeps no alpha, u = alpha sits in the unused bits of 16-bit grey;
bits: the bits per pixel the loader must report; raw_offset: where the file's own pixel block starts when the
decoded block must equal the rest of the file byte for byte (-1: no such check). Names starting "gdi_" are
decoded through the platform's DIB conversion. "refused.txt" lists files that every loader must refuse: damaged
ones, and BMP variants left to the platform's DIB conversion that it cannot draw.
"""
import os
import random
import shutil
import struct
import subprocess
import sys

OUT = sys.argv[1]
os.makedirs(OUT, exist_ok=True)
rng = random.Random(20261207)
manifest = []
refused = []


def path(name):
    return os.path.join(OUT, name)


def run(*args):
    subprocess.run(args, check=True, cwd=OUT)


def make_source(width, height, colours=None, alpha=True):
    """Rows of (r, g, b, a); with `colours`, every pixel is one of that many colours."""
    palette = [tuple(rng.randrange(256) for _ in range(3)) for _ in range(colours or 0)]
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            rgb = palette[rng.randrange(len(palette))] if palette else tuple(rng.randrange(256) for _ in range(3))
            a = (x * 255 // max(1, width - 1)) if alpha else 255
            row.append(rgb + (a,))
        rows.append(row)
    return rows, palette


def rgba_bytes(rows):
    return b"".join(bytes(p) for row in rows for p in row)


def write_source_png(name, rows):
    height, width = len(rows), len(rows[0])
    with open(path(name + ".src.rgba"), "wb") as f:
        f.write(rgba_bytes(rows))
    run("convert", "-size", "%dx%d" % (width, height), "-depth", "8", "rgba:" + name + ".src.rgba", name + ".src.png")
    os.remove(path(name + ".src.rgba"))
    return name + ".src.png"


def magick_reference(name):
    run("convert", name, "-depth", "8", "rgba:" + name + ".rgba")


def own_reference(name, rows):
    with open(path(name + ".rgba"), "wb") as f:
        f.write(rgba_bytes(rows))


def add(name, width, height, tolerance=0, alpha="n", bits=32, raw_offset=-1):
    manifest.append("%s %d %d %d %s %d %d" % (name, width, height, tolerance, alpha, bits, raw_offset))


def opaque(rows):
    return [[p[:3] + (255,) for p in row] for row in rows]


# ---------------------------------------------------------------------------------------------------------------
# BMP

def bmp_file(width, height, bits, pixel_data, palette=(), compression=0, header_size=40):
    table = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    info = struct.pack("<IiiHHIIiiII", header_size, width, height, 1, bits, compression, len(pixel_data),
                       2835, 2835, len(palette), 0)
    info += b"\0" * (header_size - len(info))
    offset = 14 + len(info) + len(table)
    return b"BM" + struct.pack("<IHHI", offset + len(pixel_data), 0, 0, offset) + info + table + pixel_data


def pack_rows(rows_of_bytes):
    out = b""
    for row in rows_of_bytes:
        out += row + b"\0" * ((-len(row)) % 4)
    return out


def pack_nibbles(indices):
    if len(indices) % 2:
        indices = indices + [0]
    return bytes((indices[i] << 4) | indices[i + 1] for i in range(0, len(indices), 2))


def rle8_encode(index_rows, use_delta):
    """Bottom-up RLE8 with runs, literals and (optionally) a move over a block of pixels left at index 0."""
    out = bytearray()
    height = len(index_rows)
    skip_line = 2 if use_delta else None
    for line in range(height):
        row = index_rows[height - 1 - line]
        x = 0
        if line == skip_line:
            # Move 3 right and 1 down from the line's start: this line and the next one's first 3 pixels stay 0.
            out += bytes((0, 2, 3, 1))
            continue
        if skip_line is not None and line == skip_line + 1:
            x = 3
        while x < len(row):
            run = 1
            while x + run < len(row) and run < 255 and row[x + run] == row[x]:
                run += 1
            if run >= 2 or len(row) - x < 3:
                out += bytes((run, row[x]))
                x += run
            else:
                n = min(255, len(row) - x, 5)
                out += bytes((0, n)) + bytes(row[x:x + n]) + (b"\0" if n % 2 else b"")
                x += n
        out += bytes((0, 0))
    out += bytes((0, 1))
    return bytes(out)


def rle4_encode(index_rows):
    out = bytearray()
    height = len(index_rows)
    for line in range(height):
        row = index_rows[height - 1 - line]
        x = 0
        while x < len(row):
            if x + 1 < len(row) and row[x] == row[x + 1]:
                run = 2
                while x + run < len(row) and run < 255 and row[x + run] == row[x]:
                    run += 1
                out += bytes((run, (row[x] << 4) | row[x]))
                x += run
            elif len(row) - x >= 3:
                n = min(7, len(row) - x)
                data = pack_nibbles(list(row[x:x + n]))
                out += bytes((0, n)) + data + (b"\0" if len(data) % 2 else b"")
                x += n
            else:
                out += bytes((1, row[x] << 4))
                x += 1
        out += bytes((0, 0))
    out += bytes((0, 1))
    return bytes(out)


def indexed(rows, palette):
    lookup = {c: i for i, c in enumerate(palette)}
    return [[lookup[p[:3]] for p in row] for row in rows]


def write(name, data):
    with open(path(name), "wb") as f:
        f.write(data)


def make_bmps():
    w, h = 13, 7
    rows, palette = make_source(w, h, colours=12, alpha=False)
    index_rows = indexed(rows, palette)
    pal16 = palette + [(0, 0, 0)] * (16 - len(palette))

    for order in ("up", "down"):
        stored = list(reversed(index_rows)) if order == "up" else index_rows
        sign = 1 if order == "up" else -1
        data8 = pack_rows([bytes(r) for r in stored])
        write("p8_%s.bmp" % order, bmp_file(w, sign * h, 8, data8, palette))
        own_reference("p8_%s.bmp" % order, opaque(rows))
        add("p8_%s.bmp" % order, w, h, bits=8)
        data4 = pack_rows([pack_nibbles(list(r)) for r in stored])
        write("p4_%s.bmp" % order, bmp_file(w, sign * h, 4, data4, pal16))
        own_reference("p4_%s.bmp" % order, opaque(rows))
        add("p4_%s.bmp" % order, w, h, bits=8)

    true_rows, _ = make_source(w, h, alpha=True)
    for order in ("up", "down"):
        stored = list(reversed(true_rows)) if order == "up" else true_rows
        sign = 1 if order == "up" else -1
        data24 = pack_rows([b"".join(bytes((b, g, r)) for (r, g, b, a) in row) for row in stored])
        write("rgb24_%s.bmp" % order, bmp_file(w, sign * h, 24, data24))
        own_reference("rgb24_%s.bmp" % order, opaque(true_rows))
        add("rgb24_%s.bmp" % order, w, h, bits=24)
        data32 = b"".join(bytes((b, g, r, a)) for row in stored for (r, g, b, a) in row)
        write("argb32_%s.bmp" % order, bmp_file(w, sign * h, 32, data32))
        own_reference("argb32_%s.bmp" % order, true_rows)
        add("argb32_%s.bmp" % order, w, h, alpha="a", bits=32)

    # A V5 header (124 bytes): the colour table follows the header, not the first 40 bytes.
    stored = list(reversed(index_rows))
    write("p8_v5.bmp", bmp_file(w, h, 8, pack_rows([bytes(r) for r in stored]), palette, header_size=124))
    own_reference("p8_v5.bmp", opaque(rows))
    add("p8_v5.bmp", w, h, bits=8)

    # Run-length pictures; the RLE8 one has a move that leaves a gap at index 0.
    write("rle8.bmp", bmp_file(w, h, 8, rle8_encode(index_rows, False), palette, compression=1))
    own_reference("rle8.bmp", opaque(rows))
    add("rle8.bmp", w, h, bits=8)
    gap = [list(r) for r in index_rows]
    for x in range(w):
        gap[h - 1 - 2][x] = 0
    for x in range(3):
        gap[h - 1 - 3][x] = 0
    write("rle8_move.bmp", bmp_file(w, h, 8, rle8_encode(index_rows, True), palette, compression=1))
    own_reference("rle8_move.bmp", opaque([[palette[i] + (255,) for i in r] for r in gap]))
    add("rle8_move.bmp", w, h, bits=8)
    write("rle4.bmp", bmp_file(w, h, 4, rle4_encode(index_rows), pal16, compression=2))
    own_reference("rle4.bmp", opaque(rows))
    add("rle4.bmp", w, h, bits=8)

    # ImageMagick's own run-length 8-bit and 1-bit pictures, decoded by ImageMagick.
    src = write_source_png("magick", true_rows)
    run("convert", src, "-alpha", "off", "-colors", "60", "-type", "palette", "-compress", "RLE", "bmp3:im_rle8.bmp")
    magick_reference("im_rle8.bmp")
    add("im_rle8.bmp", w, h, bits=8)
    run("convert", src, "-alpha", "off", "-monochrome", "bmp3:gdi_mono.bmp")
    magick_reference("gdi_mono.bmp")
    add("gdi_mono.bmp", w, h, bits=24, alpha="n", tolerance=0)
    # 16-bit 5-5-5 (through GDI too): channels widen differently between decoders, hence the tolerance.
    data16 = pack_rows([b"".join(struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3))
                                 for (r, g, b, a) in row) for row in reversed(true_rows)])
    write("gdi_rgb16.bmp", bmp_file(w, h, 16, data16))
    own_reference("gdi_rgb16.bmp", [[(r & 0xF8, g & 0xF8, b & 0xF8, 255) for (r, g, b, a) in row] for row in true_rows])
    add("gdi_rgb16.bmp", w, h, tolerance=7, bits=24)
    make_gdi_variants(w, h, true_rows)


def make_gdi_variants(w, h, true_rows):
    """BMP variants left to GDI that it cannot draw (JPEG and PNG data, an unknown compression): refused cleanly."""
    src = write_source_png("gdisrc", true_rows)
    run("convert", src, "-alpha", "off", "gdi_payload.png")
    run("convert", src, "-alpha", "off", "gdi_payload.jpg")
    for name, compression, payload in (("gdi_jpeg.bmp", 4, "gdi_payload.jpg"), ("gdi_png.bmp", 5, "gdi_payload.png")):
        write(name, bmp_file(w, -h, 0, open(path(payload), "rb").read(), compression=compression))
        os.remove(path(payload))
    write("gdi_c7.bmp", bmp_file(w, h, 24, pack_rows([bytes(3 * w)] * h), compression=7))
    refused.extend(["gdi_jpeg.bmp", "gdi_png.bmp", "gdi_c7.bmp"])


# ---------------------------------------------------------------------------------------------------------------
# TGA

def tga_file(image_type, width, height, depth, descriptor, body, colour_map=None, id_field=b"", footer=False,
             map_entry_bits=0, map_first=0):
    map_type = 1 if colour_map is not None else 0
    map_len = 0 if colour_map is None else len(colour_map) // (map_entry_bits // 8)
    header = struct.pack("<BBBHHBHHHHBB", len(id_field), map_type, image_type, map_first, map_len, map_entry_bits,
                         0, 0, width, height, depth, descriptor)
    data = header + id_field + (colour_map or b"") + body
    if footer:
        data += struct.pack("<II", 0, 0) + b"TRUEVISION-XFILE.\0"
    return data


def tga_packets(units):
    """Run-length packets over a list of byte strings (whole units)."""
    out = bytearray()
    i = 0
    while i < len(units):
        run = 1
        while i + run < len(units) and run < 128 and units[i + run] == units[i]:
            run += 1
        if run >= 2:
            out += bytes((0x80 | (run - 1),)) + units[i]
            i += run
        else:
            n = 1
            while i + n < len(units) and n < 128 and units[i + n] != units[i + n - 1]:
                n += 1
            out += bytes((n - 1,)) + b"".join(units[i:i + n])
            i += n
    return bytes(out)


def make_tgas():
    w, h = 11, 6
    rows, _ = make_source(w, h, colours=5, alpha=True)  # few colours, so that runs form
    for descriptor, tag in ((0x28, "tl"), (0x08, "bl"), (0x38, "tr"), (0x18, "br")):
        stored = rows if descriptor & 0x20 else list(reversed(rows))
        if descriptor & 0x10:
            stored = [list(reversed(r)) for r in stored]
        units = [bytes((b, g, r, a)) for row in stored for (r, g, b, a) in row]
        write("t2_%s.tga" % tag, tga_file(2, w, h, 32, descriptor, b"".join(units)))
        own_reference("t2_%s.tga" % tag, rows)
        add("t2_%s.tga" % tag, w, h, alpha="a", bits=32)
    # Type 10 with footer and an image ID field, 24 bits; type 10 at 16 bits with an unused colour map.
    bottom_up = list(reversed(rows))
    units24 = [bytes((b, g, r)) for row in bottom_up for (r, g, b, a) in row]
    write("t10_footer.tga", tga_file(10, w, h, 24, 0x00, tga_packets(units24), id_field=b"fixture", footer=True))
    own_reference("t10_footer.tga", opaque(rows))
    add("t10_footer.tga", w, h, bits=24)
    units16 = [struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)) for row in bottom_up
               for (r, g, b, a) in row]
    unused_map = b"\x11\x22\x33" * 4
    write("t10_16.tga", tga_file(10, w, h, 16, 0x00, tga_packets(units16), colour_map=unused_map,
                                 map_entry_bits=24))
    expand = lambda v: (v >> 3) * 255 // 31
    own_reference("t10_16.tga", [[(expand(r), expand(g), expand(b), 255) for (r, g, b, a) in row] for row in rows])
    add("t10_16.tga", w, h, bits=16)
    # Colour-mapped types 1 and 9, with the map starting at entry 3.
    colours = sorted({p[:3] for row in rows for p in row})
    lookup = {c: i + 3 for i, c in enumerate(colours)}
    cmap = b"".join(bytes((b, g, r)) for (r, g, b) in colours)
    indices = [bytes((lookup[p[:3]],)) for row in bottom_up for p in row]
    write("t1.tga", tga_file(1, w, h, 8, 0x00, b"".join(indices), colour_map=cmap, map_entry_bits=24,
                             map_first=3))
    own_reference("t1.tga", opaque(rows))
    add("t1.tga", w, h, bits=24)
    write("t9_footer.tga", tga_file(9, w, h, 8, 0x00, tga_packets(indices), colour_map=cmap, map_entry_bits=24,
                                    map_first=3, footer=True))
    own_reference("t9_footer.tga", opaque(rows))
    add("t9_footer.tga", w, h, bits=24)


# ---------------------------------------------------------------------------------------------------------------
# "BGRA"

def make_bgras():
    w, h = 5, 3
    rows, _ = make_source(w, h, alpha=True)
    pixels = b"".join(bytes((b, g, r, a)) for row in rows for (r, g, b, a) in row)
    write("raw8.bgra", b"BGRA" + struct.pack("<III", 0x08080808, w, h) + pixels)
    own_reference("raw8.bgra", rows)
    add("raw8.bgra", w, h, alpha="a", bits=32, raw_offset=16)
    # 16-bit channels: the high byte is kept, the low byte is noise.
    wide = b"".join(struct.pack("<4H", *((c << 8) | rng.randrange(256) for c in (b, g, r, a)))
                    for row in rows for (r, g, b, a) in row)
    write("raw16.bgra", b"BGRA" + struct.pack("<III", 0x10101010, w, h) + wide)
    own_reference("raw16.bgra", rows)
    add("raw16.bgra", w, h, alpha="a", bits=32)


# ---------------------------------------------------------------------------------------------------------------
# DDS

def dds_file(width, height, pixel_flags, four_cc, bits, masks, data, pitch=None, mips=0):
    flags = 0x1 | 0x2 | 0x4 | 0x1000 | (0x8 if pitch is not None else 0) | (0x20000 if mips else 0)
    caps = 0x1000 | ((0x400000 | 0x8) if mips else 0)
    pixel_format = struct.pack("<II4sI4I", 32, pixel_flags, four_cc, bits, *masks)
    header = struct.pack("<7I", 124, flags, height, width, pitch or 0, 0, mips) + b"\0" * 44 + pixel_format
    header += struct.pack("<5I", caps, 0, 0, 0, 0)
    return b"DDS " + header + data


def channel(value, mask):
    if mask == 0:
        return None
    shift = (mask & -mask).bit_length() - 1
    top = mask >> shift
    return ((value & mask) >> shift) * 255 // top


def make_dds_masks():
    w, h = 6, 4
    cases = [
        # name, pixel flags, FourCC, header bit count, bytes per pixel, (r, g, b, a) masks
        ("argb8", 0x41, b"\0\0\0\0", 32, 4, (0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
        ("rgb24", 0x40, b"\0\0\0\0", 24, 3, (0xFF0000, 0xFF00, 0xFF, 0)),
        ("r5g6b5", 0x40, b"\0\0\0\0", 16, 2, (0xF800, 0x7E0, 0x1F, 0)),
        ("a1r5g5b5", 0x41, b"\0\0\0\0", 16, 2, (0x7C00, 0x3E0, 0x1F, 0x8000)),
        ("a4r4g4b4", 0x41, b"\0\0\0\0", 16, 2, (0xF00, 0xF0, 0xF, 0xF000)),
        ("r3g3b2", 0x40, b"\0\0\0\0", 8, 1, (0xE0, 0x1C, 0x3, 0)),
        # A Direct3D format number in the FourCC field: 21 (A8R8G8B8) and 23 (R5G6B5).
        ("d3d21", 0x4, struct.pack("<I", 21), 0, 4, (0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
        ("d3d23", 0x4, struct.pack("<I", 23), 0, 2, (0xF800, 0x7E0, 0x1F, 0)),
    ]
    for name, pixel_flags, four_cc, bits, size, masks in cases:
        values = [[rng.randrange(1 << (8 * size)) for _ in range(w)] for _ in range(h)]
        pitch = w * size + 2  # padded rows: the header's pitch decides
        data = b"".join(b"".join(v.to_bytes(size, "little") for v in row) + b"\xEE\xEE" for row in values)
        write("m_%s.dds" % name, dds_file(w, h, pixel_flags, four_cc, bits, masks, data, pitch=pitch))
        expected = [[tuple(channel(v, m) if m else (255 if i == 3 else 0) for i, m in enumerate(masks))
                     for v in row] for row in values]
        own_reference("m_%s.dds" % name, expected)
        add("m_%s.dds" % name, w, h, alpha="a" if masks[3] else "n", bits=size * 8, raw_offset=128)


def make_dds_blocks():
    w, h = 16, 8
    rows, _ = make_source(w, h, alpha=True)
    src = write_source_png("ddssrc", rows)
    for kind in ("dxt1", "dxt3", "dxt5"):
        for mips in (1, 4):
            name = "%s_m%d.dds" % (kind, mips)
            run("convert", src, "-define", "dds:compression=" + kind, "-define", "dds:mipmaps=%d" % (mips - 1),
                name)
            magick_reference(name)
            add(name, w, h, tolerance=3, alpha="n" if kind == "dxt1" else "a", bits=4 if kind == "dxt1" else 8,
                raw_offset=128)


# ---------------------------------------------------------------------------------------------------------------
# PNG and JPEG, written and decoded by ImageMagick

def make_pngs_and_jpegs():
    w, h = 9, 6
    rows, _ = make_source(w, h, colours=16, alpha=False)
    src16 = write_source_png("png16src", rows)
    alpha_rows, _ = make_source(w, h, colours=10, alpha=True)
    srca = write_source_png("pngasrc", alpha_rows)
    true_rows, _ = make_source(w, h, alpha=True)
    srct = write_source_png("pngtsrc", true_rows)
    cases = [
        ("palette16.png", [src16, "-define", "png:color-type=3", "-define", "png:bit-depth=4"], "n", 8),
        ("palette_trns.png", [srca, "-channel", "A", "-threshold", "50%", "+channel", "PNG8:palette_trns.png"],
         "a", 32),
        ("grey8.png", [srct, "-alpha", "off", "-colorspace", "Gray", "-define", "png:color-type=0"], "n", 8),
        ("grey1.png", [srct, "-alpha", "off", "-monochrome", "-define", "png:color-type=0", "-define",
                       "png:bit-depth=1"], "n", 8),
        ("grey_alpha.png", [srct, "-colorspace", "Gray", "-define", "png:color-type=4"], "u", 16),
        ("rgb.png", [srct, "-alpha", "off", "-define", "png:color-type=2"], "n", 24),
        ("rgba.png", [srct, "-define", "png:color-type=6"], "a", 32),
        ("rgb48.png", [srct, "-alpha", "off", "-depth", "16", "PNG48:rgb48.png"], "n", 24),
        ("interlaced.png", [srct, "-interlace", "PNG", "-define", "png:color-type=6"], "a", 32),
    ]
    for name, args, alpha, bits in cases:
        output = [] if any(a.endswith(":" + name) for a in args) else [name]
        run("convert", *args, *output)
        magick_reference(name)
        add(name, w, h, tolerance=1 if "48" in name else 0, alpha=alpha, bits=bits)
    # The alpha picture that goes with rgb.png by the "_a" naming rule.
    shutil.copyfile(path("grey8.png"), path("rgb_a.png"))
    run("convert", srct, "-alpha", "off", "-quality", "92", "colour.jpg")
    magick_reference("colour.jpg")
    add("colour.jpg", w, h, tolerance=4, bits=24)
    # Larger than the loader's source buffer, so the decoder is refilled many times.
    noise_rows, _ = make_source(320, 240, alpha=False)
    run("convert", write_source_png("bigsrc", noise_rows), "-quality", "95", "big.jpg")
    magick_reference("big.jpg")
    add("big.jpg", 320, 240, tolerance=4, bits=24)
    run("convert", srct, "-alpha", "off", "-colorspace", "Gray", "-quality", "92", "grey.jpg")
    magick_reference("grey.jpg")
    add("grey.jpg", w, h, tolerance=4, bits=8)


def make_damaged():
    """Files no loader may accept: a PNG cut inside its image data, a four-component (CMYK) JPEG."""
    rows, _ = make_source(8, 8, alpha=True)
    src = write_source_png("damagedsrc", rows)
    run("convert", src, "-define", "png:color-type=6", "whole.png")
    data = open(path("whole.png"), "rb").read()
    idat = data.index(b"IDAT")
    write("cut.png", data[:idat + 20])
    os.remove(path("whole.png"))
    run("convert", src, "-alpha", "off", "-colorspace", "CMYK", "cmyk.jpg")
    refused.extend(["cut.png", "cmyk.jpg"])


make_bmps()
make_tgas()
make_bgras()
make_dds_masks()
make_dds_blocks()
make_pngs_and_jpegs()
make_damaged()
for name in os.listdir(OUT):
    if name.endswith(".src.png"):
        os.remove(path(name))
with open(path("manifest.txt"), "w") as f:
    f.write("\n".join(manifest) + "\n")
with open(path("refused.txt"), "w") as f:
    f.write("\n".join(refused) + "\n")
