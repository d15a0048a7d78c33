#!/usr/bin/env python3
"""Checks of the archive packer on the build machine: host (UTF-8) names are stored in the archive's code page
and names it cannot hold are refused with nothing written; in every mode that packs, whatever the packer writes
decodes back exactly by a decoder written from the format's token rules, and what it cannot check it does not
write. Usage: packer_checks.py PACKER SCRATCH"""
import os
import random
import shutil
import subprocess
import sys

packer, scratch = sys.argv[1], sys.argv[2]
os.makedirs(scratch, exist_ok=True)
SECOND_KEY = 0x6D  # the second built-in key: twelve equal bytes
failures = []
checks = 0


def check(condition, what):
    global checks
    checks += 1
    if not condition:
        failures.append(what)


def decode(packed):
    """The archive compression's token rules, byte by byte."""
    size, packed_size, escape = int.from_bytes(packed[0:4], "little"), int.from_bytes(packed[4:8], "little"), packed[8]
    out, p = bytearray(), 9
    while p < packed_size:
        byte = packed[p]
        if byte != escape or packed[p + 1] == escape:
            out.append(byte)
            p += 1 if byte != escape else 2
            continue
        code = packed[p + 1]
        k = code - 1 if code > escape else code
        length, p = k >> 3, p + 2
        if k & 4:
            length, p = (packed[p] << 5) | length, p + 1
        count = (k & 3) + 1
        distance, p = int.from_bytes(packed[p:p + count], "little") + 1, p + count
        for _ in range(length + 4):
            out.append(out[-distance])
    return bytes(out) if len(out) == size else None


def make_tree(name, files):
    root = os.path.join(scratch, name)
    shutil.rmtree(root, ignore_errors=True)
    for path, data in files.items():
        full = os.path.join(root, *path.split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
    return root


def pack(options, source, output):
    if os.path.exists(output):
        os.remove(output)
    run = subprocess.run([packer] + options + [source, output], capture_output=True)
    return run.returncode, run.stderr.decode("utf-8", "replace")


# Names: (host name, code page option, stored bytes or None when refused).
NAMES = [
    ("ソース表.txt", [], "ソース表.txt".encode("cp932")),
    ("カナ.txt", ["-p", "932"], "カナ.txt".encode("cp932")),
    ("é.txt", ["-p", "1252"], "é.txt".encode("cp1252")),
    ("é.txt", [], None),
    ("カナ.txt", ["-p", "1252"], None),
    ("x\U0001F600.txt", [], None),
]
for index, (name, options, stored) in enumerate(NAMES):
    root = make_tree(f"names{index}", {"DIR/" + name: b"contents"})
    output = root + ".qva"
    code, errors = pack(["-v", "4", "-2"] + options, root, output)
    what = f"name {name!r} {options}"
    if stored is None:
        check(code != 0 and "does not convert" in errors, what + ": refused")
        check(not os.path.exists(output), what + ": nothing written")
        continue
    check(code == 0, what + ": packed: " + errors)
    if code == 0:
        with open(output, "rb") as f:
            plain = bytes(b ^ SECOND_KEY for b in f.read())
        check(stored in plain, what + ": stored in the code page")
        check(name.encode("utf-8") not in plain, what + ": not stored as UTF-8")

# Every packing mode: whatever is written decodes back exactly.
rng = random.Random(5)
data = bytes(rng.randrange(4) for _ in range(30000)) + rng.randbytes(20000) + b"alpha beta " * 3000
tree = make_tree("modes", {"A.BIN": data, "SUB/B.TXT": b"gamma " * 500})
single = os.path.join(tree, "A.BIN")
for options, source, expected in [(["-f"], single, data), (["-v", "2", "-C", "-z", "-2"], tree, None)]:
    output = os.path.join(scratch, "mode.out")
    code, errors = pack(options, source, output)
    check(code == 0, f"{options}: packed: {errors}")
    if code != 0:
        check(not os.path.exists(output), f"{options}: nothing written after a refusal")
        continue
    with open(output, "rb") as f:
        unpacked = decode(f.read())
    check(unpacked is not None, f"{options}: decodes")
    if expected is not None:
        check(unpacked == expected, f"{options}: decodes to the input")
    elif unpacked is not None:
        check(bytes(b ^ SECOND_KEY for b in unpacked[:2]) == b"QV", f"{options}: decodes to an archive")

for failure in failures:
    print("FAILED:", failure)
print(f"{checks - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
