#!/usr/bin/env python3
"""The script validator, run on the build machine: usage script_rules_check.py VALIDATOR SCRIPT_FOLDER.

The scripts must be accepted and written back entry for entry (text read back from Shift-JIS), and a page walk
written here from the event player's rules must find them sound. Each row of RULES edits a fresh copy and expects
a refusal naming script and entry, with no tables written, or (None) acceptance."""
import ast
import os
import pathlib
import re
import subprocess
import sys
import tempfile

VALIDATOR, FOLDER = sys.argv[1:3]
PICTURES = [4, 6, 6, 8, 17, 5]
MOVES = {"@C": 0, "@CG": 1, "@CGR": -1, "@BK": 0, "@END": 0}


def read(folder):
    """Per script its entries: markers as written ("@CG"), text lines whole."""
    files = [open(os.path.join(folder, f"script{s}.txt"), encoding="utf-8").read().split("\n") for s in range(7)]
    return [[line.rstrip(" \t\r") for line in lines if line.strip(" \t\r") and line[0] != "#"] for lines in files]


def first_marker(script, start):
    return next((i for i in range(start, min(start + 7, len(script))) if script[i] in MOVES), None)


def walk(script, pictures, pressed):
    """The player's state 20 frame by frame, `pressed(frame)` saying whether button 1 or 3 is latched: the pictures
    drawn, and the (entry, PictureIndex) where the index leaves the event's pictures, or None."""
    start, black = (1, True) if script[0] == "@BK" else (0, False)
    length, index, shown = 0, 0, set()
    for frame in range(10000):
        if pressed(frame):
            if length == 999:
                return shown, None
            start, black, i = start + length, False, first_marker(script, start + length)
            if i is not None:
                index, black = index + MOVES[script[i]], script[i] == "@BK"
            if not 0 <= index < pictures:
                return shown, (i, index)
        if not black:
            shown.add(index)
        # the page drawer's length of the page: its lines and its marker, 999 for the last page
        i = first_marker(script, start)
        length = 7 if i is None else 999 if "@END" in script[i:i + 2] else i - start + 1


def walk_faults(script, pictures):
    """(single-press fault, fault with button 3 held, pictures the single-press walk never shows)."""
    shown, single = walk(script, pictures, lambda frame: frame % 2 == 1)
    return single, walk(script, pictures, lambda frame: True)[1], [] if single else sorted({*range(pictures)} - shown)


def swap_finding(kind):
    """An editor swapping two markers of one script (counts kept) so that the walk fault `kind` shows, found by
    trying every pair against the walk above, with the refusal it expects."""
    for s, script in enumerate(read(FOLDER)[:6]):
        marks = [i for i, entry in enumerate(script) if entry in MOVES and entry != "@END"]
        for trial in ([*script[:a], script[b], *script[a + 1:b], script[a], *script[b + 1:]] for a in marks
                      for b in marks if a < b):
            single, held, unshown = walk_faults(trial, PICTURES[s])
            fault, text = {"single": (single != held and single, "the single-press walk takes PictureIndex to"),
                           "held": (held != single and held, "the walk with button 3 held takes PictureIndex to"),
                           "unshown": (unshown and not held and (len(trial) - 1, unshown[0]),
                                       "the single-press walk never shows picture")}[kind]
            if fault:
                return (lambda scripts, s=s, trial=trial: scripts.__setitem__(s, trial),
                        f"script {s} entry {fault[0]}: {text} {fault[1]}")
    raise AssertionError(f"no swap of two markers gives the {kind} walk fault")


def first_text(script):
    return next(i for i, entry in enumerate(script) if entry[0] != "@")


def put(where, value, *numbers):
    """An editor setting one entry of each script named; `where` is an index or a function of the script."""
    def edit(scripts):
        for s in numbers:
            scripts[s][where if isinstance(where, int) else where(scripts[s])] = value
    return edit


def prepend(s, pages, marker):
    """An editor putting new pages of one line, each closed by `marker` (or none), in front of script s."""
    def edit(scripts):
        scripts[s][0:0] = [entry for n in range(pages) for entry in (f"追加{n:02}の行です", marker) if entry]
    return edit


S = read(FOLDER)
C0, TEXT = S[0].index("@C"), [first_text(script) for script in S]
RULES = [
    (put(C0, "@CX", 0), f'script 0 entry {C0}: (script0.txt line {C0 + 1}) "@CX" is no marker'),
    (put(first_text, "\udcff\udcfeあいうえ", 1),
     f"script 1 entry {TEXT[1]}: (script1.txt line {TEXT[1] + 1}) the line is not UTF-8"),
    (put(first_text, "雪だるま☃です", 2), "holds a character with no Shift-JIS code"),
    (lambda scripts: scripts.__setitem__(3, None), "script 3 entry 0: cannot read"),
    (lambda scripts: scripts[1].append("@C"), f"script 1 entry {len(S[1])}: an entry after END"),
    (lambda scripts: scripts[2].pop(), f"script 2 entry {len(S[2]) - 1}: the script has no END"),
    (prepend(4, 20, "@C"), "script 4 entry 254: no END within 255 entries"),
    (lambda scripts: scripts[0].pop(TEXT[0]), "script 0 entry 110: 110 entries before END, expected 111"),
    (put(first_text, "@C", 1), "script 1 entry 66: 47 text lines, expected 48"),
    (put(lambda t: t.index("@CG"), "@C", 2), "script 2 entry 76: 7 CG, expected 8"),
    (put(lambda t: t.index("@CGR"), "@C", 3), "script 3 entry 84: 5 CGR, expected 6"),
    (put(lambda t: t.index("@BK"), "@C", 5), "script 5 entry 111: 11 BK, expected 12"),
    (put(C0, "@BK", 0), "script 0 entry 111: 17 C, expected 18"),
    (put(first_text, "長" * 29, 3), f"script 3 entry {TEXT[3]}: 58 bytes in Shift-JIS, at most 56"),
    (put(first_text, "長" * 28, 3), None),
    (prepend(2, 6, None), "script 2 entry 5: a sixth text line without a marker between"),
    (lambda scripts: scripts.__setitem__(6, ["続きからの旅です", "@BK", "@BK", "@END"]),
     "script 6 entry 0: the continue notice is BK, one text line, BK, END"),
    swap_finding("single"),
    swap_finding("held"),
    swap_finding("unshown"),
    (put(first_text, "あいう abc", 2), f"script 2 entry {TEXT[2]}: fewer than four full-width characters"),
    (put(first_text, "ＡＢＣ１２３！", 2),
     f"script 2 entry {TEXT[2]}: only digits, Latin letters and punctuation"),
    (put(first_text, S[0][TEXT[0]], 4),
     f"script 4 entry {TEXT[4]}: the same line as script 0 entry {TEXT[0]}"),
    (put(first_text, "うわあっ！", 1, 5), None),  # short interjections may repeat
    (put(first_text, "うわああっ！！", 1, 5),
     f"script 5 entry {TEXT[5]}: the same line as script 1 entry {TEXT[1]}"),
]


def run(folder, output):
    return subprocess.run([VALIDATOR, folder, output], capture_output=True, text=True, timeout=60)


def read_tables(path):
    """The generated tables: per script its entries, markers as "@NAME", text lines decoded from Shift-JIS."""
    scripts = []
    for line in open(path, encoding="ascii"):
        marker, literal = re.match(r"\s+EventMarker(\w+),", line), re.match(r'\s+(".*"),', line)
        if line.startswith("  { //"):
            scripts.append([])
        elif marker or literal:
            scripts[-1].append("@" + marker[1] if marker else ast.literal_eval("b" + literal[1]).decode("cp932"))
    return scripts


def main():
    failures = [f"script {s}: the page walk here finds {walk_faults(S[s], PICTURES[s])}" for s in range(6)
                if walk_faults(S[s], PICTURES[s]) != (None, None, [])]
    with tempfile.TemporaryDirectory(prefix="script_rules_") as work:
        output = os.path.join(work, "tables.cpp")
        result = run(FOLDER, output)
        if result.returncode != 0:
            failures.append(f"the scripts are refused: {result.stderr}")
        elif read_tables(output) != S:
            failures.append("the written tables differ from the script files")
        for number, (editor, message) in enumerate(RULES):
            folder = os.path.join(work, f"rule{number}")
            os.mkdir(folder)
            scripts = [list(script) for script in S]
            editor(scripts)
            for s, script in enumerate(scripts):
                if script is not None:
                    text = "\n".join(script) + "\n"
                    pathlib.Path(folder, f"script{s}.txt").write_text(text, "utf-8", "surrogateescape")
            output = os.path.join(folder, "tables.cpp")
            result = run(folder, output)
            written = os.path.exists(output)
            if not (result.returncode == 1 and message in result.stderr and not written if message
                    else result.returncode == 0 and written):
                failures.append(f"rule {number}: expected {message or 'acceptance'!r}, got:\n{result.stderr}")
    for failure in failures:
        print("FAILED:", failure)
    print(f"{len(RULES)} copies checked, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
