#!/usr/bin/env python3
"""The effects log against the state: runs of stage play through the input hook (jumps, strikes both ways and walks
on the first stage; button 1 held on the stage of edge shots; button 1 and left held on the last stage on EASY, up
to its bombs and first mid-stage boss; the recorded clear of the first stage from the title, which earns an extra
life; the recorded survival of the last stage, through every mid-stage boss to its last boss's weight), and in every
frame the effects dumped must be exactly those that the dumped state changes call for: a take-off sound with each
rise begun, an attack sound with each attack begun, a hit sound with each hurt player and each object struck (the
type-8 sound for type 8), the enemy sound with each drop, leap, launch and shot at an edge, the drop sound with the
last boss's weight, the extra-life sound with each life gained. Each cause named below must occur in the runs.
Usage: check_stage_effects.py PROGRAM RUN_FOLDER SOURCE_ROOT"""
import os
import re
import sys
from collections import Counter

from game_harness import BUTTON1, UP, GameRun, NO_STAGE_PICTURES, input_file, input_frames, wine_path
from stage_play import LEFT, RIGHT, effects_against_state, stage_records

MOVES = [(UP, 1), (0, 20), (BUTTON1, 1), (0, 40), (BUTTON1, 30), (LEFT, 6), (BUTTON1, 30), (RIGHT, 6)]
# (name, difficulty and stage, input)
RUNS = [
    ("moves", "1,0", [(0, 75)] + MOVES * 12),
    ("edge_shots", "1,4", [(BUTTON1, 1500)]),
    ("bombs_and_hopper", "0,5", [(LEFT | BUTTON1, 2600)]),
]
# Recorded input files; the first line of each names the --start it needs, if any.
RECORDED = ["clear_stage0_normal.txt", "stage5_boss_easy.txt"]
CAUSES = ["take-off", "attack start", "player hurt", "hit", "hit on type 8", "type 18 at an edge", "type 9 drops",
          "type 10 launches a shot", "type 11 drops a shot", "type 12 sends its body", "type 14 leaps",
          "type 15 drops its weight", "extra life"]
RUN_SECONDS = 900  # a loaded machine; the longest run takes a minute or two


def recorded(root, name):
    """A recorded input file as a run: its name, the --start its first line names (None: from the title), its
    text."""
    text = open(os.path.join(root, "tests", "game", "inputs", name)).read()
    start = re.search(r"--start (\d,\d)", text.splitlines()[0])
    return os.path.splitext(name)[0], start and start.group(1), text


def judged_run(root, program, folder, records, name, start, text):
    folder, frames = os.path.join(folder, name), input_frames(text)
    options = ["--software", "--no-pacing", "--input", wine_path(os.path.join(folder, "input.txt")),
               "--frames", str(frames)] + NO_STAGE_PICTURES + (["--start", start] if start else [])
    with GameRun(root, program, folder, options, files={"input.txt": text.encode()}) as run:
        code = run.finish(RUN_SECONDS)
        lines = run.dump()
    assert code == 0 and len(lines) == frames, f"{name}: ended with {code} after {len(lines)} frames"
    return (name,) + effects_against_state(lines, records)


def main():
    program, folder, root = sys.argv[1:4]
    os.environ["QV_RUN_TIMEOUT"] = str(RUN_SECONDS)
    records = [stage_records(root, stage) for stage in range(6)]
    runs = [(name, start, input_file(steps)) for name, start, steps in RUNS]
    runs += [recorded(root, name) for name in RECORDED]
    results = [judged_run(root, program, folder, records, *run) for run in runs]
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
