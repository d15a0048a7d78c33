#!/usr/bin/env python3
"""Screenshots of the title side, each held with --stop-at after an input file has walked there, with a "Save.Dat"
of high score 1,234,567 and the EASY and HARD flags: the title and difficulty menus over the title picture, the
option screen, and the title again on the software screen, each compared pixel by pixel with the drawing rules.
Usage: check_title_screens.py PROGRAM RUN_FOLDER SOURCE_ROOT CONTENT_FOLDER"""
import os
import struct
import sys

from game_harness import BUTTON1, DOWN, judge_held_frame, read_png
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


def held_screen_failures(root, program, folder, options, steps, frame, wanted, screen, blended_steps=None,
                         **run_options):
    """Runs to `frame` and judges the held frame: its dump line must hold the `wanted` values, its screenshot follow
    `screen`. Answers the failures."""
    line, shown = judge_held_frame(root, program, folder, options, frame,
                                   lambda shot: screen_rules.compare(screen, shot, blended_steps), steps=steps,
                                   **run_options)
    return [f"{key}={line[key]}, wanted {value}" for key, value in wanted.items() if line[key] != value] + shown


def main():
    program, folder, root, content = sys.argv[1:5]
    picture, tiles = read_png(os.path.join(content, "cg_110.png")), read_png(os.path.join(content, "png_103.png"))
    failed = []
    for name, options, steps, frame, state, cursor, kind, blended_steps in CASES:
        wanted = {"MainState": str(state), "MenuCursor": str(cursor), "HighScore": "1234567", "ClearFlags": "1,0,1,0"}
        screen = expected_screen(kind, cursor, picture, tiles, 1234567, [1, 0, 1, 0])
        failures = held_screen_failures(root, program, os.path.join(folder, name), options, steps, frame, wanted,
                                        screen, blended_steps, files={"Save.Dat": SAVE})
        print(f"{name}: " + ("as the rules draw it" if not failures else "\n  ".join(["differs:"] + failures)))
        if failures:
            failed.append(name)
    assert not failed, f"screens not as drawn by the rules: {failed}"


if __name__ == "__main__":
    main()
