#!/usr/bin/env python3
"""The effects log against the state: runs of stage play through the input hook (jumps, strikes both ways and walks
on the first stage; button 1 held on the stage of edge shots; button 1 and left held on the last stage on EASY, up
to its bombs and first mid-stage boss), and in every frame the effects dumped must be exactly those that the dumped
state changes call for: a take-off sound with each rise begun, an attack sound with each attack begun, a hit sound
with each hurt player and each object struck (the type-8 sound for type 8), the enemy sound with each drop, leap,
launch and shot at an edge, the drop sound with the last boss's weight, the extra-life sound with each life gained.
Each cause named below must occur in the runs.
Usage: check_stage_effects.py PROGRAM RUN_FOLDER SOURCE_ROOT"""
import os
import sys
from collections import Counter

from game_harness import BUTTON1, UP, GameRun
from stage_play import LEFT, RIGHT, effects_against_state, stage_records

MOVES = [(UP, 1), (0, 20), (BUTTON1, 1), (0, 40), (BUTTON1, 30), (LEFT, 6), (BUTTON1, 30), (RIGHT, 6)]
# (name, difficulty and stage, input, frames)
RUNS = [
    ("moves", "1,0", [(0, 75)] + MOVES * 12, 1700),
    ("edge_shots", "1,4", [(BUTTON1, 1500)], 1500),
    ("bombs_and_hopper", "0,5", [(LEFT | BUTTON1, 2600)], 2600),
]
CAUSES = ["take-off", "attack start", "player hurt", "hit", "hit on type 8", "type 18 at an edge", "type 9 drops"]


def judged_run(root, program, folder, records, name, start, steps, frames):
    with GameRun(root, program, os.path.join(folder, name), ["--software", "--start", start, "--frames", str(frames)],
                 steps=steps) as run:
        code = run.finish(300)
        lines = run.dump()
    assert code == 0 and len(lines) == frames, f"{name}: ended with {code} after {len(lines)} frames"
    return (name,) + effects_against_state(lines, records)


def main():
    program, folder, root = sys.argv[1:4]
    records = [stage_records(root, stage) for stage in range(6)]
    results = [judged_run(root, program, folder, records, *run) for run in RUNS]
    seen, differing = Counter(), []
    for name, causes, frames in results:
        print(f"{name}: " + ", ".join(f"{cause} x{count}" for cause, count in sorted(causes.items())))
        seen.update(causes)
        differing += [f"{name}, {frame}" for frame in frames]
    assert not differing, "effects that the state does not call for:\n  " + "\n  ".join(differing[:40])
    missing = [cause for cause in CAUSES if not seen[cause]]
    assert not missing, f"never reached: {missing}"


if __name__ == "__main__":
    main()
