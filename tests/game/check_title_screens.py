#!/usr/bin/env python3
"""Screenshots of the title side, each held with --stop-at after an input file has walked there, with a "Save.Dat"
of high score 1,234,567 and the EASY and HARD flags: the title and difficulty menus over the title picture, the
option screen, and the title again on the software screen, each compared pixel by pixel with the drawing rules.
Usage: check_title_screens.py PROGRAM RUN_FOLDER SOURCE_ROOT CONTENT_FOLDER"""
import os
import struct
import sys

from game_harness import BUTTON1, DOWN, GameRun, read_png, screenshot_client
import screen_rules

SAVE = struct.pack("<6i", 1234567, -1, 1, 0, 1, 0)

# (name, options, input steps, frame held, MainState there, cursor, screen, steps allowed where anything was blended
# (None: one per blend))
CASES = [
    ("title", [], [(0, 4), (DOWN, 2)], 10, 30, 2, "title", None),
    ("difficulty", [], [(0, 4), (BUTTON1, 1), (0, 1), (DOWN, 3)], 12, 80, 3, "difficulty", None),
    ("option", [], [(0, 4), (DOWN, 3), (0, 1), (BUTTON1, 1), (0, 3), (DOWN, 1)], 16, 95, 1, "option", None),
    ("title_software", ["--software"], [(0, 4), (DOWN, 1)], 10, 30, 1, "title", 2),
]


def expected_screen(kind, cursor, picture, tiles, high_score, flags):
    if kind == "option":
        return screen_rules.option_screen(cursor)
    marks = [d for d, flag in enumerate(flags) if flag == 1] if kind == "difficulty" else []
    items = screen_rules.TITLE_ITEMS if kind == "title" else screen_rules.DIFFICULTY_ITEMS
    return screen_rules.title_side(picture, tiles, high_score, cursor, items, marks)


def held_screen(root, program, folder, options, steps, frame, **run_options):
    """Runs to `frame`, takes the client area while it is held, lets the run end; answers (dump line, shot)."""
    with GameRun(root, program, folder, options + ["--stop-at", str(frame), "--frames", str(frame + 3)],
                 steps=steps, **run_options) as run:
        line = run.wait_held()
        shot = screenshot_client(run, "shot.png")
        run.release()
        code = run.finish()
    assert code == 0, f"{folder}: the run ended with {code}"
    return line, shot


def main():
    program, folder, root, content = sys.argv[1:5]
    picture, tiles = read_png(os.path.join(content, "cg_110.png")), read_png(os.path.join(content, "png_103.png"))
    failed = []
    for name, options, steps, frame, state, cursor, kind, blended_steps in CASES:
        line, shot = held_screen(root, program, os.path.join(folder, name), options, steps, frame,
                                 files={"Save.Dat": SAVE})
        assert (line["MainState"], line["MenuCursor"]) == (str(state), str(cursor)), f"{name}: held at {line}"
        assert line["HighScore"] == "1234567" and line["ClearFlags"] == "1,0,1,0", f"{name}: save not read: {line}"
        failures = screen_rules.compare(expected_screen(kind, cursor, picture, tiles, 1234567, [1, 0, 1, 0]),
                                        shot, blended_steps)
        print(f"{name}: " + ("as the rules draw it" if not failures else "\n  ".join(["differs:"] + failures)))
        if failures:
            failed.append(name)
    assert not failed, f"screens not as drawn by the rules: {failed}"


if __name__ == "__main__":
    main()
