#!/usr/bin/env python3
"""Checks of the archive packer on the build machine: host (UTF-8) names are stored in the archive's code page,
and names it cannot hold are refused with nothing written. Usage: packer_checks.py PACKER SCRATCH"""
import os
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

for failure in failures:
    print("FAILED:", failure)
print(f"{checks - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
