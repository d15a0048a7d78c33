#!/usr/bin/env python3
"""The stages threaten: each stage opened on NORMAL and left without input ends in a game over (the title's state
again), the player hurt at least five times on the way. Each run has its own folder and is ended at its game over,
or by the frame limit; the runs go side by side in the background.
Usage: check_stage_threat.py PROGRAM RUN_FOLDER SOURCE_ROOT"""
import os
import sys

from bot_runs import in_parallel
from game_harness import NO_STAGE_PICTURES, GameRun
from stage_play import game_over, run_until, transitions

FRAME_LIMIT = 20000  # a stage that has not ended the game by then does not threaten
KEYS = ("frame", "MainState", "StageIndex", "PlayerHurt", "Lives", "StageTime")


def threat(root, program, folder, stage):
    options = ["--software", "--background", "--start", f"1,{stage}", "--frames", str(FRAME_LIMIT)]
    options += NO_STAGE_PICTURES  # the dump is all it reads
    with GameRun(root, program, os.path.join(folder, f"stage{stage}"), options, steps=[]) as run:
        lines = run_until(run, game_over, keys=KEYS)
    hurts = transitions(lines, "PlayerHurt", "0", "1")
    ended = bool(lines) and lines[-1]["MainState"] == "10" and lines[-2]["StageIndex"] == str(stage)
    if ended:
        for name in ("dump.txt", "hash.txt"):  # long, and read already
            os.remove(os.path.join(folder, f"stage{stage}", name))
    return stage, ended, hurts, len(lines)


def main():
    program, folder, root = sys.argv[1:4]
    results = in_parallel(lambda stage: threat(root, program, folder, stage), range(6))
    failed = []
    for stage, ended, hurts, frames in results:
        print(f"stage {stage}: {'game over' if ended else 'no game over'} after {frames} frames, hurt {hurts} times")
        if not ended or hurts < 5:
            failed.append(stage)
    assert not failed, f"stages that do not threaten: {failed}"


if __name__ == "__main__":
    main()
