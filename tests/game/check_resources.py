#!/usr/bin/env python3
"""The content built into the release executable, read from its PE resource directory: exactly the "PNG" 102-104,
"CG" 110-156, "MUSIC" 201-209 and "SE" 300-307 resources, each byte-identical to the generated file, the sheets and
pictures RGB PNGs of their sizes, the music and effects 16-bit PCM WAVs of their lengths.
Usage: check_resources.py EXECUTABLE CONTENT_FOLDER"""
import io
import os
import struct
import sys
import wave

# type: (ids, file name pattern)
EXPECTED = {"PNG": (range(102, 105), "png_{}.png"), "CG": (range(110, 157), "cg_{}.png"),
            "MUSIC": (range(201, 210), "music_{}.wav"), "SE": (range(300, 308), "se_{}.wav")}
SHEET_SIZES = {102: (640, 448), 103: (640, 288), 104: (640, 192)}
SECONDS = {"MUSIC": (10, 30), "SE": (0.05, 1)}


def resources(image):
    """{type name or id: {id: bytes}} from the executable's resource directory (first language of each)."""
    u16, u32 = (lambda o: struct.unpack_from("<H", image, o)[0]), (lambda o: struct.unpack_from("<I", image, o)[0])
    pe = u32(0x3C)
    assert image[pe:pe + 4] == b"PE\0\0", "no PE header"
    sections, optional_size = u16(pe + 6), u16(pe + 20)
    optional = pe + 24
    assert u16(optional) == 0x10B, "not a 32-bit executable"
    directory_rva = u32(optional + 96 + 2 * 8)
    table = [struct.unpack_from("<8sIIII", image, optional + optional_size + 40 * i) for i in range(sections)]

    def offset(rva):
        for _, size, address, raw_size, raw in table:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise AssertionError(f"address {rva:#x} in no section")

    base = offset(directory_rva)

    def entries(directory):
        named, numbered = u16(base + directory + 12), u16(base + directory + 14)
        for i in range(named + numbered):
            name, target = u32(base + directory + 16 + 8 * i), u32(base + directory + 20 + 8 * i)
            if name & 0x80000000:
                at = base + (name & 0x7FFFFFFF)
                name = image[at + 2:at + 2 + 2 * u16(at)].decode("utf-16-le")
            yield name, target & 0x7FFFFFFF, bool(target & 0x80000000)

    found = {}
    for kind, ids, _ in entries(0):
        for number, languages, _ in entries(ids):
            _, data, _ = next(entries(languages))
            found.setdefault(kind, {})[number] = image[offset(u32(base + data)):][:u32(base + data + 4)]
    return found


def check_format(kind, number, data):
    if kind in ("PNG", "CG"):
        width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
        assert data[12:16] == b"IHDR" and (depth, colour) == (8, 2), f"{kind} {number}: not an 8-bit RGB PNG"
        assert (width, height) == SHEET_SIZES.get(number, (640, 480)), f"{kind} {number}: {width}x{height}"
    else:
        with wave.open(io.BytesIO(data)) as w:
            seconds = w.getnframes() / w.getframerate()
            assert w.getsampwidth() == 2 and w.getframerate() in (22050, 44100), f"{kind} {number}: format"
            low, high = SECONDS[kind]
            assert low <= seconds <= high, f"{kind} {number}: {seconds:.3f} s"


def main():
    executable, content = sys.argv[1:3]
    found = resources(open(executable, "rb").read())
    for kind, (ids, pattern) in EXPECTED.items():
        assert sorted(found.get(kind, {})) == list(ids), f"{kind}: ids {sorted(found.get(kind, {}))}"
        for number in ids:
            data = found[kind][number]
            assert data == open(os.path.join(content, pattern.format(number)), "rb").read(), f"{kind} {number}"
            check_format(kind, number, data)
        print(f"{len(ids)} {kind} resources as generated")


if __name__ == "__main__":
    main()
