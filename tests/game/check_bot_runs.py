#!/usr/bin/env python3
"""Whole runs: on each difficulty the bot plays from the title through the six stages back to the title. "Save.Dat"
must then hold furthest stage 5, that difficulty's clear flag alone and the run's final score as high score, and a
short run on that save must show the score on the title and "済" beside that difficulty alone on the difficulty
menu (back-buffer shots against the drawing rules). A run that gives up on stage 4 (a game over, then CONTINUE)
must clear stages 4 and 5 and leave furthest stage 3 and no clear flag. Every recorded input must replay to the
same per-frame hashes.
Usage: check_bot_runs.py PROGRAM RUN_FOLDER SOURCE_ROOT CONTENT_FOLDER"""
import os
import struct
import sys

from bot_runs import differences, in_parallel, read_report, replay_options, run_game
from game_harness import BUTTON1, DOWN, Image, input_file, read_png, to_565
import screen_rules

DRAW_EVERY = 16
FRAME_LIMIT = 120000  # six stages of at most 16,000 frames each, and the title between them
GIVE_UP_STAGE, GIVE_UP_DIFFICULTY = 4, 1
# The title at frame 10 (cursor on START), then the difficulty menu with its cursor on LUNATIC.
MENU_STEPS = [(0, 10), (BUTTON1, 1), (0, 1), (DOWN, 3), (0, 5)]
TITLE_FRAME, MENU_FRAME = 10, 18
SOFTWARE_BLEND_STEPS = 2


def read_ppm(path):
    data = open(path, "rb").read()
    header = b"P6\n640 480\n255\n"
    assert data.startswith(header), f"{path} is no 640x480 PPM"
    return Image(640, 480, data[len(header):])


def menu_failures(paths, folder, save, difficulty, score):
    """The title and the difficulty menu shown on `save`, against the drawing rules with `score` as high score."""
    program, root, content = paths
    menus = os.path.join(folder, "menus")
    code = run_game(root, program, menus, ["--input", "input.txt", "--shot-at", f"{TITLE_FRAME},{MENU_FRAME}"],
                    files={"Save.Dat": save, "input.txt": input_file(MENU_STEPS).encode()}, frames=MENU_FRAME)
    if code != 0:
        return [f"the menu run ended with {code}"]
    picture, tiles = read_png(os.path.join(content, "cg_110.png")), read_png(os.path.join(content, "png_103.png"))
    failures = []
    for frame, items, cursor, marks in ((TITLE_FRAME, screen_rules.TITLE_ITEMS, 0, []),
                                        (MENU_FRAME, screen_rules.DIFFICULTY_ITEMS, 3, [difficulty])):
        shot = read_ppm(os.path.join(menus, f"shot_{frame}.ppm"))
        rows = [[to_565(shot.pixel(x, y)) for x in range(640)] for y in range(480)]
        screen = screen_rules.title_side(picture, tiles, score, cursor, items, marks)
        failures += [f"frame {frame}: {line}" for line in screen_rules.compare(screen, rows, SOFTWARE_BLEND_STEPS)]
    return failures


def whole_run(case):
    """A bot run from the title and its replay; answers (report, "Save.Dat" bytes, failures)."""
    (program, root, _), folder, difficulty, give_up = case
    options = ["--draw-every", str(DRAW_EVERY), "--end-at-title"]
    bot = os.path.join(folder, "bot")
    extra = ["--bot-give-up", str(give_up)] if give_up is not None else []
    code = run_game(root, program, bot, options + ["--bot", str(difficulty), "--record", "in.txt"] + extra,
                    frames=FRAME_LIMIT)
    report = read_report(bot)
    save_path = os.path.join(bot, "Save.Dat")
    save = open(save_path, "rb").read() if os.path.exists(save_path) else b""
    cleared = [clear["stage"] for clear in report["clears"]]
    if code != 0 or cleared != list(range(6)):
        return report, save, [f"the bot's run ended with {code} after {report['frames']} frames, clearing {cleared}"]
    failures = []
    code = run_game(root, program, os.path.join(folder, "replay"), replay_options(options), frames=FRAME_LIMIT)
    differing = differences(bot, os.path.join(folder, "replay"), ["hash.txt"])
    if code != 0 or differing:
        failures.append(f"the replay ended with {code} and differs in {differing}")
    return report, save, failures


def judge(case, report, save, failures):
    """The save a whole run (or the run that gave up) left, and for a whole run the menus shown on it."""
    paths, folder, difficulty, give_up = case
    if failures:
        return failures
    if len(save) != 24:
        return failures + [f"Save.Dat holds {len(save)} bytes"]
    high_score, furthest, *flags = struct.unpack("<6i", save)
    score = report["clears"][-1]["score"]
    wanted_flags = [int(give_up is None and d == difficulty) for d in range(4)]
    # A continue starts the score afresh: the high score is then the best before it, which no report line shows.
    wanted = (score if give_up is None else high_score, 5 if give_up is None else give_up - 1, wanted_flags)
    if (high_score, furthest, flags) != wanted:
        failures.append(f"Save.Dat holds {(high_score, furthest, flags)}, wanted {wanted}")
    elif give_up is None:
        failures += menu_failures(paths, folder, save, difficulty, score)
    return failures


def main():
    program, folder, root, content = sys.argv[1:5]
    paths = (program, root, content)
    cases = [(paths, os.path.join(folder, f"d{d}"), d, None) for d in range(4)]
    cases.append((paths, os.path.join(folder, f"d{GIVE_UP_DIFFICULTY}_give_up"), GIVE_UP_DIFFICULTY, GIVE_UP_STAGE))
    failed = []
    for case, (report, save, failures) in zip(cases, in_parallel(whole_run, cases)):
        failures = judge(case, report, save, failures)
        name = os.path.basename(case[1])
        lives = ",".join(str(clear["lives_lost"]) for clear in report["clears"])
        print(f"{name}: {report['frames']} frames, lives lost per clear {lives}, Save.Dat {save.hex()}: "
              + ("as the rules say" if not failures else "\n  ".join(["differs:"] + failures)))
        failed += [name] if failures else []
    assert not failed, f"runs not as the rules say: {failed}"


if __name__ == "__main__":
    main()
