#!/usr/bin/env python3
"""The save and option files under Wine. Prepared "Save.Dat" records are read as the rules say (the record the game
writes for high score 123456, no stage and flags 1, 0, 0, 1; the same read-only; damaged records refused whole; a
negative high score ignored with the rest taken): each run is held on the difficulty menu, whose dump and screenshot
(high-score digits, "済" marks) must show the values. Then every step of the option file's safe write is failed in
turn: the old file stays byte-identical, no temporary is left, every frame up to the end has its hash and the run
ends with 0. Last, "Save.Dat" is written after the third frame (as game over and stage clear write it) from a
record whose stage reads as -1: it must hold exactly the written record, and with each step failed the old bytes,
no temporary, and the title answers the next press. Usage: check_saves.py PROGRAM RUN_FOLDER SOURCE_ROOT CONTENT_FOLDER"""
import os
import struct
import sys

from check_title_screens import CASES, expected_screen, held_screen_failures
from game_harness import BUTTON1, DOWN, GameRun, read_png, shut_down_cleanly

WRITTEN = bytes.fromhex("40E20100FFFFFFFF01000000000000000000000001000000")  # 123456, -1, flags 1, 0, 0, 1
DEFAULTS = (0, -1, [0, 0, 0, 0])


def record(high_score, stage, *flags):
    return struct.pack("<6i", high_score, stage, *flags)


# (name, "Save.Dat", read-only, (HighScore, FurthestStageCleared, ClearFlags) read)
RECORDS = [
    ("written", WRITTEN, False, (123456, -1, [1, 0, 0, 1])),
    ("read_only", WRITTEN, True, (123456, -1, [1, 0, 0, 1])),
    ("stage_255", record(42, 255, 0, 1, 0, 0), False, (42, -1, [0, 1, 0, 0])),
    ("stage_5", record(9999999, 5, 0, 0, 1, 1), False, (9999999, 5, [0, 0, 1, 1])),
    ("high_score_over", record(10000000, -1, 1, 1, 1, 1), False, DEFAULTS),
    ("stage_6", record(500, 6, 1, 0, 1, 0), False, DEFAULTS),
    ("stage_127", record(500, 127, 1, 1, 0, 0), False, DEFAULTS),
    ("negative_high_score", record(-5, 3, 1, 0, 0, 0), False, (0, 3, [1, 0, 0, 0])),
]

# The failed step of the option write, and what "Option.Dat" (0, 4242 before) then holds.
OLD_OPTION = struct.pack("<2i", 0, 4242)
WRITE_STEPS = [(None, struct.pack("<2i", 1, 4242))] + [
    (step, OLD_OPTION) for step in ("create", "write", "commit", "close", "replace")]
TO_FULL_SCREEN_CHOICE = [(0, 3), (DOWN, 3), (0, 1), (BUTTON1, 1), (0, 3), (DOWN, 1), (0, 1), (BUTTON1, 1)]


def check_records(program, folder, root, content):
    picture, tiles = read_png(os.path.join(content, "cg_110.png")), read_png(os.path.join(content, "png_103.png"))
    _, _, steps, frame, state, cursor, kind, _ = next(case for case in CASES if case[0] == "difficulty")
    failed = []
    for name, data, read_only, (high_score, stage, flags) in RECORDS:
        wanted = {"MainState": str(state), "MenuCursor": str(cursor), "HighScore": str(high_score),
                  "FurthestStageCleared": str(stage), "ClearFlags": ",".join(map(str, flags))}
        screen = expected_screen(kind, cursor, picture, tiles, high_score, flags)
        failures = held_screen_failures(root, program, os.path.join(folder, name), [], steps, frame, wanted, screen,
                                        files={"Save.Dat": data}, read_only=["Save.Dat"] if read_only else [])
        print(f"{name}: " + ("read as the rules say" if not failures else "\n  ".join(["differs:"] + failures)))
        if failures:
            failed.append(name)
    assert not failed, f"records not read as the rules say: {failed}"


def check_failed_writes(program, folder, root):
    for step, after in WRITE_STEPS:
        options = (["--fail-save", step] if step else []) + ["--frames", "100"]
        with GameRun(root, program, os.path.join(folder, f"write_{step}"), options,
                     files={"Option.Dat": OLD_OPTION, "Save.Dat": WRITTEN}, steps=TO_FULL_SCREEN_CHOICE) as run:
            code = run.finish()
        assert code == 0, f"failing {step}: the run ended with {code}"
        shut_down_cleanly(run)
        assert open(run.path("Option.Dat"), "rb").read() == after, f"failing {step}: Option.Dat changed wrongly"
        assert open(run.path("Save.Dat"), "rb").read() == WRITTEN, f"failing {step}: Save.Dat changed"
        left = sorted(set(os.listdir(run.folder)) - {"Option.Dat", "Save.Dat", "Log.txt", "input.txt", "dump.txt",
                                                     "hash.txt"})
        assert not left, f"failing {step}: left behind {left}"
        hashed = [int(line.split()[0]) for line in open(run.path("hash.txt")).read().splitlines()]
        last = int(run.dump()[-1]["frame"])
        assert hashed == list(range(1, last + 1)), f"failing {step}: hashes of frames {hashed}, last frame {last}"
        print(f"failing {step}: Option.Dat {after.hex()}, nothing left behind, {last} frames hashed, ended with 0")


# The failed step of the save write, and what "Save.Dat" then holds; the press after the save must move the cursor.
OLD_SAVE = record(123456, 255, 1, 0, 0, 1)
SAVE_STEPS = [(None, WRITTEN)] + [(step, OLD_SAVE) for step in ("create", "write", "commit", "close", "replace")]
AFTER_THE_SAVE = [(0, 5), (DOWN, 1), (0, 3)]


def check_saved_records(program, folder, root):
    for step, after in SAVE_STEPS:
        options = (["--fail-save", step] if step else []) + ["--save-at", "3", "--frames", "9"]
        with GameRun(root, program, os.path.join(folder, f"save_{step}"), options, files={"Save.Dat": OLD_SAVE},
                     steps=AFTER_THE_SAVE) as run:
            code = run.finish()
        assert code == 0, f"failing {step}: the run ended with {code}"
        assert open(run.path("Save.Dat"), "rb").read() == after, f"failing {step}: Save.Dat holds the wrong bytes"
        left = [name for name in os.listdir(run.folder) if name.lower().endswith(".tmp")]
        assert not left, f"failing {step}: left behind {left}"
        hashed = [int(line.split()[0]) for line in open(run.path("hash.txt")).read().splitlines()]
        assert hashed == list(range(1, 10)), f"failing {step}: hashes of frames {hashed}"
        assert run.dump()[-1]["MenuCursor"] == "1", f"failing {step}: the title did not answer after the save"
        print(f"save failing {step}: Save.Dat {after.hex()}, nothing left behind, the title answered")


def main():
    program, folder, root, content = sys.argv[1:5]
    check_records(program, folder, root, content)
    check_failed_writes(program, folder, root)
    check_saved_records(program, folder, root)


if __name__ == "__main__":
    main()
