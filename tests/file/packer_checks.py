#!/usr/bin/env python3
"""Checks of the archive packer on the build machine: host (UTF-8) names are stored in the archive's code page,
and names it cannot hold are refused with nothing written. Usage: packer_checks.py PACKER SCRATCH"""
import os
import shutil
import subprocess
import sys

packer, scratch = sys.argv[1], sys.argv[2]
shutil.rmtree(scratch, ignore_errors=True)
SECOND_KEY = 0x6D  # the second built-in key: twelve equal bytes
failures = []
# (host name, code page option, stored bytes or None when refused)
NAMES = [
    ("ソース表.txt", [], "ソース表.txt".encode("cp932")),
    ("カナ.txt", ["-p", "932"], "カナ.txt".encode("cp932")),
    ("é.txt", ["-p", "1252"], "é.txt".encode("cp1252")),
    ("é.txt", [], None),
    ("カナ.txt", ["-p", "1252"], None),
    ("x\U0001F600.txt", [], None),
]
for index, (name, options, stored) in enumerate(NAMES):
    root = os.path.join(scratch, f"names{index}")
    output, what = root + ".qva", f"name {name!r} {options}"
    os.makedirs(os.path.join(root, "DIR"))
    with open(os.path.join(root, "DIR", name), "wb") as f:
        f.write(b"contents")
    run = subprocess.run([packer, "-v", "4", "-2"] + options + [root, output], capture_output=True)
    errors = run.stderr.decode("utf-8", "replace")
    if stored is None:
        if run.returncode == 0 or "does not convert" not in errors or os.path.exists(output):
            failures.append(f"{what}: not refused, or something written: {errors}")
    elif run.returncode != 0:
        failures.append(f"{what}: not packed: {errors}")
    else:
        with open(output, "rb") as f:
            plain = bytes(b ^ SECOND_KEY for b in f.read())
        if stored not in plain or name.encode("utf-8") in plain:
            failures.append(f"{what}: not stored in the code page")

for failure in failures:
    print("FAILED:", failure)
print(f"{len(NAMES) - len(failures)} names passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
