#!/usr/bin/env python3
"""The frame timing of the test program. A run from the title into stage play with --frame-costs writes one line
per frame of six whole numbers (frame, logic, drawing, flip, whole frame, pump) whose phases fit in the whole frame;
the drawing is 0 exactly on the frames outside stage play, and stage play's frames draw. A --bare run leaves the
game's state alone (one hash throughout) and flips a cleared back screen: the held frame shows the background
colour over the whole client area, not the stage and not start-up's loading line.
Usage: check_frame_costs.py PROGRAM RUN_FOLDER SOURCE_ROOT CONTENT_FOLDER"""
import os
import sys

from game_harness import GameRun, judge_held_frame
from stage_play import to_difficulty

FRAMES = 120


def read_costs(path):
    lines = [line for line in open(path).read().splitlines() if line and not line.startswith("#")]
    rows = [[int(value) for value in line.split()] for line in lines]
    assert all(len(row) == 6 and min(row) >= 0 for row in rows), f"malformed frame-cost lines in {path}"
    return rows


def check_game_run(program, folder, root):
    with GameRun(root, program, folder, ["--frames", str(FRAMES), "--frame-costs", "costs.txt"],
                 steps=to_difficulty(3)) as run:
        assert run.finish() == 0, "the timed run failed"
        rows, dump = read_costs(run.path("costs.txt")), run.dump()
    assert [row[0] for row in rows] == list(range(1, FRAMES + 1)), "not one line per frame"
    for row, line in zip(rows, dump):
        frame, logic, draw, flip, whole, _ = row
        assert logic + draw + flip <= whole, f"frame {frame}: the phases exceed the whole frame: {row}"
        stage_play = all(int(line[key]) <= 0 for key in ("MainState", "MissState", "EventState"))
        assert stage_play or draw == 0, f"frame {frame}: drawing timed outside stage play: {row}"
    stage_draws = [row[2] for row, line in zip(rows, dump) if int(line["MainState"]) <= 0]
    assert stage_draws and sum(stage_draws) > 0, "stage play's drawing is never timed"


def check_bare_run(program, folder, root):
    def judge(client):
        background = client[0][0]
        others = sum(pixel != background for row in client for pixel in row)
        return [f"background {background}, {others} other pixels"] if background != (0, 0, 0) or others else []

    _, failures = judge_held_frame(root, program, folder, ["--start", "3,5", "--bare", "--frame-costs", "costs.txt"],
                                   20, judge, steps=[])
    assert not failures, f"the bare frame shows more than a cleared screen: {failures}"
    hashes = {line.split()[1] for line in open(os.path.join(folder, "hash.txt"))}
    assert len(hashes) == 1, "a bare run changed the game's state"
    assert len(read_costs(os.path.join(folder, "costs.txt"))) == 23, "a bare run's frames are not all timed"


def main():
    program, folder, root = sys.argv[1], sys.argv[2], sys.argv[3]
    check_game_run(program, os.path.join(folder, "game"), root)
    check_bare_run(program, os.path.join(folder, "bare"), root)
    print("frame costs: one line per frame, phases in place; bare frames flip a cleared screen")


if __name__ == "__main__":
    main()
