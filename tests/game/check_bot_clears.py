#!/usr/bin/env python3
"""The bot clears every stage on every difficulty, started through the stage option: each run must reach the
clear's last frame without a game over, its recorded input replayed without the bot must give the same per-frame
hashes and the same back-buffer shots, and the bot's runs of a stage together must show at least 90 % of that
stage's records that are not children on the visible screen. One stage is replayed once more with every frame
drawn: leaving pictures out must not change a hash. The input logs stay in the run folder. Prints a table of lives
lost and frames per clear.
Usage: check_bot_clears.py PROGRAM RUN_FOLDER SOURCE_ROOT CONTENT_FOLDER"""
import os
import sys

from bot_runs import differences, in_parallel, read_report, replay_options, run_game
from stage_play import stage_records

DRAW_EVERY = 64  # the bot's own runs draw every so often; the shots are always drawn
SHOTS = (700, 5000)
DIFFICULTIES = ("EASY", "NORMAL", "HARD", "LUNATIC")
STAGES = range(6)
SHOWN_SHARE = 0.9
DRAWN_EVERY_FRAME = (0, 5)  # the (difficulty, stage) replayed again with --draw-every 1


def child_records(records):
    """The records owned by another: types 9, 11, 14 and 15 own the two after them, 11 and 15 the third as well,
    type 10 the three after it and type 12 the one after it."""
    owned = {9: 2, 11: 3, 14: 2, 15: 3, 10: 3, 12: 1}
    return {index + k for index, record in records.items() for k in range(1, owned.get(record["type"], 0) + 1)}


def play_stage(case):
    """The bot's run of a stage and its replay; answers (report, failures)."""
    program, root, folder, difficulty, stage = case
    options = ["--draw-every", str(DRAW_EVERY), "--start", f"{difficulty},{stage}", "--end-after-clear",
               "--shot-at", ",".join(map(str, SHOTS))]
    bot = os.path.join(folder, "bot")
    name = f"{DIFFICULTIES[difficulty]} stage {stage}"
    code = run_game(root, program, bot, options + ["--bot", str(difficulty), "--record", "in.txt"])
    report, failures = read_report(bot), []
    clears = report["clears"]
    if code != 0 or len(clears) != 1 or clears[0]["stage"] != stage:
        return report, [f"{name}: the bot did not clear it (exit {code}, {report['frames']} frames, clears {clears})"]
    if clears[0]["frames"] != report["frames"]:
        failures.append(f"{name}: cleared only after a game over and a continue")
    replayed = [("replay", replay_options(options))]
    if (difficulty, stage) == DRAWN_EVERY_FRAME:
        replayed.append(("replay_every_frame", replay_options(options, every_frame=True)))
    for replay_name, replay in replayed:
        replay_folder = os.path.join(folder, replay_name)
        code = run_game(root, program, replay_folder, replay)
        differing = differences(bot, replay_folder, ["hash.txt"] + [f"shot_{frame}.ppm" for frame in SHOTS])
        if code != 0 or differing:
            failures.append(f"{name}: the {replay_name} ended with {code} and differs in {differing}")
    return report, failures


def main():
    program, folder, root = sys.argv[1:4]
    cases = [(program, root, os.path.join(folder, f"d{d}_s{s}"), d, s) for d in range(len(DIFFICULTIES))
             for s in STAGES]
    results = in_parallel(play_stage, cases)
    failures = [failure for _, found in results for failure in found]
    print("stage  " + "  ".join(f"{name:>15}" for name in DIFFICULTIES) + "   (lives lost / frames)")
    for stage in STAGES:
        cells = []
        for (*_, s), (report, _) in zip(cases, results):
            if s == stage:
                clear = report["clears"][0] if report["clears"] else None
                cells.append(f"{clear['lives_lost']:>5} / {clear['frames']:>6}" if clear else f"{'no clear':>15}")
        print(f"{stage:>5}  " + "  ".join(f"{cell:>15}" for cell in cells))
    for stage in STAGES:
        wanted = set(stage_records(root, stage)) - child_records(stage_records(root, stage))
        seen = set().union(*(report["entered"].get(stage, set()) for (*_, s), (report, _) in zip(cases, results)
                             if s == stage))
        shown = len(wanted & seen) / len(wanted)
        missing = sorted(wanted - seen)
        print(f"stage {stage}: {shown:.1%} of {len(wanted)} records that are not children entered the screen; "
              f"never: {missing}")
        if shown < SHOWN_SHARE:
            failures.append(f"stage {stage}: only {shown:.1%} of its records that are not children were shown")
    print("\n".join(failures) if failures else "every clear replayed to the same hashes and shots")
    assert not failures, f"{len(failures)} failures"


if __name__ == "__main__":
    main()
