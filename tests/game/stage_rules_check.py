#!/usr/bin/env python3
"""The stage validator, run on the build machine: usage stage_rules_check.py VALIDATOR STAGE_FOLDER CELL_ROLES.

The stage data as it stands must be accepted, and the tables written must hold what the files say, field by field in
the game's record order (read here apart from the validator). Then each row of RULES breaks one rule in a fresh copy
of the data and expects a refusal naming stage, record or map row, and field, with no tables written."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

VALIDATOR, STAGES, ROLES = sys.argv[1:4]
RECORD_ORDER = ["type", "state", "homeState", "hp", "anim", "baseAnim", "frame", "animTick", "appearTime",
                "updateTick", "period", "savedPeriod", "x", "y", "w", "h", "scoreValue", "contactDamage"]

# (file, section, line key, old, new, expected refusal). The line is the first in the section whose first word is
# the key (and which holds old, when old is a text); old is replaced once by new, or is a word position whose word
# becomes new, or None to delete the line. "cell_roles.txt" is the art's cell-role map.
RULES = [
    # what the readers refuse
    ("stage0.txt", "records", "1", "hp=1 ", "", "field hp is missing"),
    ("stage0.txt", "records", "1", "frame=0", "frames=0", '"frames=0" is no field of a record'),
    ("stage0.txt", "records", "1", "contactDamage=2", "contactDamage=128", "contactDamage needs a number that fits 8"),
    ("stage0.txt", "records", "1", None, None, "expected record 1"),
    ("stage2.txt", "background", "3", 5, "", "expected map row 3 and 40 cell numbers"),
    ("stage2.txt", "foreground", "0", 1, "65597", "expected map row 0 and 40 cell numbers of 16 bits"),
    ("stage1.txt", "records", "1", "type=2 ", "kind=2 type=2 ", '"kind=2" is no field of a record'),
    ("stage1.txt", "", "boss", "boss", "bosses", 'expected "boss N" or a section'),
    ("stage3.txt", "foreground", "14", None, None, "each map needs 15 rows"),
    ("animations.txt", "objects", "151", None, None, "8 player rows and 152 object rows, found 8 and 151"),
    ("animations.txt", "objects", "150", "cells 59", "59", 'expected "150 durations D... cells C..."'),
    ("cell_roles.txt", "", "102", "type=1 rows=0-5", "type=1 rows=5-0", "type= and rows= take lists"),
    ("cell_roles.txt", "", "102", " 59 1x1", " 58 1x1", "cell 58 already has a role"),
    # counts, bosses, composition
    ("stage0.txt", "records", "146", None, None, "stage 0 field records: 146 records, expected 147"),
    ("stage0.txt", "", "boss", "144", "143", "stage 0 field boss: the boss record is 144"),
    ("stage0.txt", "records", "144", "type=9 ", "type=11 ", "stage 0 record 144 field type: the boss must be of type 9"),
    ("stage2.txt", "records", "148", "appearTime=125", "appearTime=124",
     "stage 2 record 148 field appearTime: the boss appears at 125"),
    ("stage0.txt", "records", "1", "type=0 ", "type=1 ", "stage 0 field type: 135 records of type 0, expected 136"),
    ("stage5.txt", "records", "24", "type=9 ", "type=14 ", "stage 5 record 24 field type: a mid-stage boss of type 9"),
    ("stage5.txt", "records", "24", "hp=5 ", "hp=6 ", "stage 5 record 24 field hp: a mid-stage boss has 5 hit points"),
    ("stage5.txt", "records", "63", "hp=0 ", "hp=1 ", "stage 5 record 63 field hp: this stage's last record is all zero"),
    ("stage4.txt", "records", "0", "scoreValue=100 ", "scoreValue=200 ",
     "stage 4 record 0 field scoreValue: the given row holds 100"),
    # owners and children
    ("stage1.txt", "records", "142", "type=7 ", "type=19 ",
     "stage 1 record 142 field type: record 141 owns this record: it must be of type 7"),
    ("stage0.txt", "records", "146", "type=0 ", "type=9 ",
     "stage 0 record 146 field type: owns record 147, which lies outside the stage"),
    ("stage1.txt", "records", "143", "scoreValue=2000", "scoreValue=1000", "stage 1 record 143 field scoreValue:"),
    ("stage3.txt", "records", "5", "type=6 ", "type=13 ",
     "stage 3 record 5 field type: a type 13 record must lie right behind a type 12 record"),
    ("stage0.txt", "records", "1", "state=13 ", "state=127 ",
     "stage 0 record 1 field state: only a record that an owner relaunches may start gone"),
    ("stage0.txt", "records", "146", "appearTime=122", "appearTime=119",
     "stage 0 record 146 field appearTime: due before its owner, record 144"),
    ("stage1.txt", "records", "142", "appearTime=120", "appearTime=121",
     "stage 1 record 142 field appearTime: starts gone, so it is due with its owner, record 141 (120)"),
    # starting values
    ("stage3.txt", "records", "5", "type=6 ", "type=20 ", "stage 3 record 5 field type: must be 0..19"),
    ("stage0.txt", "records", "1", "state=13 ", "state=7 ", "stage 0 record 1 field state: must start in 0-5, 11-14"),
    ("stage0.txt", "records", "1", "homeState=13", "homeState=9", "stage 0 record 1 field homeState: must be 0-5 or"),
    ("stage1.txt", "records", "1", "homeState=12", "homeState=13",
     "stage 1 record 1 field homeState: type 2 reads it as its course: 2 or 12"),
    ("stage5.txt", "records", "1", "homeState=13", "homeState=12",
     "stage 5 record 1 field homeState: type 5 reads it as its course: 3 or 13"),
    ("stage0.txt", "records", "1", "state=13 ", "state=14 ",
     "stage 0 record 1 field state: 14 shows animation row 4, an empty row"),
    ("stage0.txt", "records", "1", "homeState=13", "homeState=1 ",
     "stage 0 record 1 field homeState: 1 shows animation row 1, an empty row"),
    ("stage0.txt", "records", "1", "hp=1 ", "hp=0 ", "stage 0 record 1 field hp: must be at least 1"),
    ("stage0.txt", "records", "1", "baseAnim=0 ", "baseAnim=8 ", "stage 0 record 1 field baseAnim: type 0 has base row 0"),
    ("stage0.txt", "records", "1", "anim=0 ", "anim=3 ", "stage 0 record 1 field anim: must equal baseAnim"),
    ("stage0.txt", "records", "1", "period=1 ", "period=2 ", "stage 0 record 1 field period: must equal savedPeriod"),
    ("stage0.txt", "records", "1", "animTick=0", "animTick=5", "stage 0 record 1 field animTick: must be 0"),
    ("stage0.txt", "records", "1", "contactDamage=2", "contactDamage=-1",
     "stage 0 record 1 field contactDamage: must be 0 or more"),
    ("stage0.txt", "records", "1", "w=32 ", "w=64 ", "stage 0 record 1 field w: type 0 is 32x32"),
    # the cells a kind can show
    ("animations.txt", "objects", "15", "cells 20", "cells 17",
     "field baseAnim: row 15 frame 0 shows sprite cell 17, which is not drawn for type 1 row offset 7"),
    ("animations.txt", "objects", "120", "cells 166", "cells 270", "row 120 frame 0 shows 3x3 cells from sprite cell 270, which leave the 280"),
    ("animations.txt", "objects", "71", "226", "227", "row 71 frame 2 shows sprite cell 229, which is not drawn for"),
    # appearance times
    ("stage3.txt", "records", "5", "appearTime=8 ", "appearTime=136 ",
     "stage 3 record 5 field appearTime: must lie within 0..135"),
    ("stage0.txt", "records", "6", "appearTime=9 ", "appearTime=7 ",
     "stage 0 record 6 field appearTime: earlier than record 5's"),
    ("stage3.txt", "records", "5", "appearTime=8 ", "appearTime=135 ",
     "stage 3 record 5 field appearTime: the records due at or after the boss's time (135)"),
    # the maps
    ("stage2.txt", "background", "3", 1, "70", "stage 2 background row 3 field column 0: 70 is not 60-69 or 80-86"),
    ("stage2.txt", "foreground", "0", 1, "100", "stage 2 foreground row 0 field column 0: 100 is not 0, 70-79"),
    ("stage1.txt", "background", "0", 26, "62", "stage 1 background row 0 field column 25: columns 20-39 repeat"),
    ("stage1.txt", "background", "9", 1, "66", "stage 1 background row 9 field column 0: the given row holds 85"),
]

SECTIONS = {"records", "background", "foreground", "player", "objects"}


def edit(path, section, key, old, new):
    with open(path) as file:
        lines = file.read().split("\n")
    current = ""
    for n, line in enumerate(lines):
        words = line.split("#")[0].split()
        if words and words[0] in SECTIONS:
            current = words[0]
        elif words and current == section and words[0] == key and (not isinstance(old, str) or old in line):
            if old is None:
                del lines[n]
            elif isinstance(old, int):
                words[old] = new
                lines[n] = " ".join(words)
            else:
                lines[n] = line.replace(old, new, 1)
            with open(path, "w") as file:
                file.write("\n".join(lines))
            return
    raise AssertionError(f"{path}: no line {key} in section {section!r}")


def run(folder, roles, output):
    result = subprocess.run([VALIDATOR, folder, roles, output], capture_output=True, text=True, timeout=60)
    return result.returncode, result.stderr


def numbers(text):
    return [int(v) for v in re.findall(r"-?\d+", text)]


def read_files(folder):
    """The stage files as this check reads them: per stage the records by field name, the two maps, the boss."""
    stages = []
    for s in range(6):
        stage = {"records": [], "background": [], "foreground": []}
        section = ""
        for line in open(os.path.join(folder, f"stage{s}.txt")):
            words = line.split("#")[0].split()
            if not words:
                continue
            if words[0] in SECTIONS:
                section = words[0]
            elif words[0] == "boss":
                stage["boss"] = int(words[1])
            elif section == "records":
                fields = dict(word.split("=") for word in words[1:])
                stage["records"].append([int(fields[name]) for name in RECORD_ORDER])
            else:
                stage[section].append([int(v) for v in words[1:]])
        stages.append(stage)
    rows = {"player": [], "objects": []}
    for line in open(os.path.join(folder, "animations.txt")):
        words = line.split("#")[0].split()
        if words and words[0] in rows:
            section = words[0]
        elif words:
            text = " ".join(words[1:])
            durations = numbers(text.split("cells")[0]) if "cells" in text else []
            cells = numbers(text.split("cells")[1]) if "cells" in text else []
            rows[section].append(durations + [0] * (6 - len(durations)) + cells + [0] * (5 - len(cells)))
    return stages, rows


def read_tables(path):
    """The generated source's tables: the brace groups of the innermost level, table by table."""
    tables = {}
    for name, body in re.findall(r"(\w+)\[[^=]*= \{(.*?)\n?\};", open(path).read(), re.S):
        tables[name] = [numbers(group) for group in re.findall(r"\{([^{}]*)\}", body)] or [numbers(body)]
    return tables


def main():
    failures = []
    work = tempfile.mkdtemp(prefix="stage_rules_")
    try:
        output = os.path.join(work, "tables.cpp")
        status, errors = run(STAGES, ROLES, output)
        if status != 0:
            failures.append(f"the stage data is refused: {errors}")
        else:
            stages, rows = read_files(STAGES)
            tables = read_tables(output)
            expected = {
                "StageObjectTemplates": [r for stage in stages for r in stage["records"]],
                "StageObjectCount": [[len(stage["records"]) for stage in stages]],
                "BossRecordIndex": [[stage["boss"] for stage in stages]],
                "BackgroundMap": [r for stage in stages for r in stage["background"]],
                "ForegroundMap": [r for stage in stages for r in stage["foreground"]],
                # an animation row is written as its durations and its cells
                "PlayerAnimations": [part for r in rows["player"] for part in (r[:6], r[6:])],
                "ObjectAnimations": [part for r in rows["objects"] for part in (r[:6], r[6:])],
            }
            for name, values in expected.items():
                if tables.get(name) != values:
                    failures.append(f"{name} in the written tables differs from the stage files")
        for number, (name, section, key, old, new, message) in enumerate(RULES):
            folder = os.path.join(work, f"rule{number}")
            shutil.copytree(STAGES, folder)
            shutil.copy(ROLES, os.path.join(folder, "cell_roles.txt"))
            edit(os.path.join(folder, name), section, key, old, new)
            output = os.path.join(folder, "tables.cpp")
            status, errors = run(folder, os.path.join(folder, "cell_roles.txt"), output)
            if status != 1 or message not in errors or os.path.exists(output):
                failures.append(f"{name} {section} {key}: expected a refusal with {message!r}, got {status}:\n{errors}")
    finally:
        shutil.rmtree(work)
    for failure in failures:
        print("FAILED:", failure)
    print(f"{len(RULES)} broken copies checked, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
