#!/usr/bin/env python3
"""Reads the "Log.txt" that log_file_writer left in its folder (argv[1]) and checks its form from the outside:
every line is <ms>:<tabs><text> ending in CR LF, the text is CP932, nested steps are indented, long texts are
whole, and the allocation dump is the last block, newest block first, ending with the totals line."""
import re
import sys

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


data = open(sys.argv[1] + "/Log.txt", "rb").read()
check(data.endswith(b"\r\n"), "the file ends with CR LF")
raw_lines = data.split(b"\r\n")[:-1]
lines = []
previous_ms = 0
for number, raw in enumerate(raw_lines, 1):
    check(b"\n" not in raw and b"\r" not in raw, f"line {number}: a bare line end inside")
    match = re.fullmatch(rb"(\d+):(\t*)(.*)", raw, re.S)
    check(match is not None, f"line {number}: no <ms>: stamp: {raw[:40]!r}")
    if match is None:
        continue
    ms = int(match.group(1))
    check(ms >= previous_ms, f"line {number}: stamps go backwards")
    previous_ms = ms
    try:
        text = match.group(3).decode("cp932")
    except UnicodeDecodeError as error:
        failures.append(f"line {number}: not CP932: {error}")
        text = ""
    lines.append((len(match.group(2)), text))

texts = [text for _, text in lines]


def level_of(text):
    for tabs, line_text in lines:
        if line_text == text:
            return tabs
    failures.append(f"missing line {text!r}")
    return None


check("plain line" in texts, "plain line")
check("continued without a line end" in texts, "continued text joins one line")
check([level_of(t) for t in ("level 0", "level 1", "level 2", "back to 1")] == [0, 1, 2, 1], "nested indents")
check("a" * 299 in texts, "the 300-byte text is whole")
long5000 = ("0123456789" * 500)[:4999]
check(long5000 in texts, "the 5000-byte text is whole")
check("表示テスト ソース" in texts, "Shift-JIS text with trail byte 0x5C")

# The dump: an empty line, the heading, one record per block newest first, the totals, an empty line, end.
check(texts[-1] == "", "the dump ends with an empty line")
totals = re.fullmatch(r"Total size:(\d+)\((\d+\.\d{3})kb\)  Alloc num:(\d+)", texts[-2])
check(totals is not None and lines[-2][0] == 1, f"totals line form: {texts[-2]!r}")
heading = len(texts) - 1 - texts[::-1].index("Alloc memory dump")
check(texts[heading - 1] == "", "an empty line before the heading")
records = lines[heading + 1:-2]
check(len(records) == 3, f"three records, got {len(records)}")
record = re.compile(r"size: *(\d+)\( *(\d+\.\d{3})kb\)  file:(.{0,15}?) *  line:(\d+) *  ID:(\d+) *  "
                    r"addr:([0-9a-f]{8})  data:<(.*)> \[(.*)\]")
expected = [("40", "", "33", "\\" * 16, " ".join(["5c"] * 16)),
            ("1", "second.cpp", "22", ".", "01"),
            ("5", "riter_first.cpp", "11", "abcde", "61 62 63 64 65")]
serials = []
for (tabs, text), (size, name, line, shown, hexes) in zip(records, expected):
    match = record.fullmatch(text)
    check(tabs == 1 and match is not None, f"record form: {text!r}")
    if match is None:
        continue
    check(match.group(1) == size and match.group(3) == name and match.group(4) == line,
          f"record fields: {text!r}")
    check(match.group(7) == shown and match.group(8) == hexes, f"record data: {text!r}")
    serials.append(int(match.group(5)))
check(serials == sorted(serials, reverse=True), f"newest block first: {serials}")
if totals:
    check(int(totals.group(1)) == 46 and int(totals.group(3)) == 3, f"totals: {texts[-2]!r}")

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
