#!/usr/bin/env python3
"""Writes the archive tests' data into their working folder at build time: a source tree ("TREE"), and one
folder per packer configuration holding DATA.QVA made from TREE by the packer, plus a DATA folder on disk whose
files must be shadowed by the archive. configs.txt lists each folder and the key string its archive needs.
WHOLE.PAK is TREE's archive packed as a whole, B.PAK one packed file."""
import os
import random
import shutil
import subprocess
import sys

packer, out = sys.argv[1], sys.argv[2]

# folder, packer options, key string the reader must be given ("" = a built-in key)
CONFIGS = [
    ("V0STORE", ["-v", "0"], ""),
    ("V1STORE", ["-v", "1"], ""),
    ("V2SECOND", ["-v", "2", "-2"], ""),
    ("V2PACKKEY", ["-v", "2", "-C", "-k", "Secret"], "Secret"),
    ("V3SMALLER", ["-v", "3", "-c"], ""),
    ("V4SMALLER", ["-v", "4", "-c"], ""),
    ("V4PACKLONGKEY", ["-v", "4", "-C", "-k", "AKeyLongerThanTwelve"], "AKeyLongerThanTwelve"),
    ("V4STOREKEY", ["-v", "4", "-k", "k"], "k"),
]


def content(seed, size, kind):
    rng = random.Random(seed)
    if kind == "random":
        return bytes(rng.getrandbits(8) for _ in range(size))
    words = [b"alpha ", b"beta ", b"gamma\r\n", b"QV", b"\x5c", b"\x10\x10", b"banana "]
    data = bytearray()
    while len(data) < size:
        data += rng.choice(words) * rng.randint(1, 4)
    return bytes(data[:size])


FILES = [
    ("A.PNG", 3000, "text"),
    ("BANANA.PNG", 1, "random"),
    ("EMPTY.BIN", 0, "random"),
    ("readme.txt", 700, "text"),
    ("IMG/A.PNG", 20000, "random"),
    ("IMG/B.BMP", 140000, "text"),
    ("IMG/SUB/DEEP.DAT", 300000, "text"),
    ("IMG/SUB/NOISE.DAT", 70000, "random"),
    ("SND/ONE.WAV", 9, "text"),
    # A host (UTF-8) name the packer stores in code page 932; two of its characters end in the byte 0x5C.
    ("SND/ソース表.txt", 500, "text"),
]

tree = os.path.join(out, "TREE")
shutil.rmtree(tree, ignore_errors=True)
for index, (name, size, kind) in enumerate(FILES):
    path = os.path.join(tree, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content(index, size, kind))

with open(os.path.join(out, "configs.txt"), "w", newline="\n") as manifest:
    for folder, options, key in CONFIGS:
        target = os.path.join(out, folder)
        shutil.rmtree(target, ignore_errors=True)
        os.makedirs(os.path.join(target, "DATA"))
        subprocess.run([packer] + options + [tree, os.path.join(target, "DATA.QVA")], check=True)
        # A disk file the archive stands in front of.
        with open(os.path.join(target, "DATA", "A.PNG"), "wb") as f:
            f.write(b"read from disk, not from the archive")
        manifest.write(f"{folder}\t{key}\n")

# A packed archive image, as the engine carries its built-in one, and one packed file.
subprocess.run([packer, "-v", "4", "-c", "-z", tree, os.path.join(out, "WHOLE.PAK")], check=True)
subprocess.run([packer, "-f", os.path.join(tree, "IMG", "B.BMP"), os.path.join(out, "B.PAK")], check=True)
