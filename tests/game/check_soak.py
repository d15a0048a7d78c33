#!/usr/bin/env python3
"""The soak: the bot plays run after run in a window while the device is made again every 20 seconds and the
window mode goes to full screen and back. The run must end by itself (exit code 0, no crash), every run's
figures (the engine's live allocations and live graphs, from "soak.txt") and the end's must not be above those
after the first run, "Save.Dat" must be a valid save and "Log.txt" must end in the allocation dump with no block
listed. Prints those figures.
The short form (the test command's) runs 2 minutes on the software screen with pacing off, the first run being
the last stage alone (opened with --start) so that it ends well within the time; the long form (scripts/soak.sh)
runs MINUTES on the Direct3D screen with pacing on, the mode switched every 3 minutes.
Usage: check_soak.py PROGRAM RUN_FOLDER SOURCE_ROOT [CONTENT] [--minutes MINUTES]"""
import os
import struct
import sys

from game_harness import GameRun, shut_down_cleanly

SHORT = ["--software", "--no-pacing", "--soak", "120", "--mode-switch-every", "50"]
LONG = ["--soak", "{seconds}", "--mode-switch-every", "180"]
BOTH = ["--start", "0,5", "--bot", "0", "--reinit-every", "20"]
SHEET_GRAPHS = 280 + 180 + 10  # the game's sprite, tile and thumbnail cells, live from start-up to the end


def save_problems(data):
    """What is wrong with a save's bytes: six int32, high score 0..9,999,999, furthest stage -1..5, flags 0/1."""
    if len(data) != 24:
        return [f"{len(data)} bytes"]
    high_score, furthest, *flags = struct.unpack("<6i", data)
    problems = [] if 0 <= high_score <= 9999999 else [f"high score {high_score}"]
    problems += [] if -1 <= furthest <= 5 else [f"furthest stage {furthest}"]
    return problems + [f"clear flag {flag}" for flag in flags if flag not in (0, 1)]


def read_figures(path):
    """The report's lines as (label, run, allocations, graphs, reinits, switches)."""
    return [(words[0],) + tuple(int(word.split("=")[1]) for word in words[1:])
            for words in (line.split() for line in open(path, encoding="ascii"))]


def main():
    program, folder, root = sys.argv[1:4]
    minutes = int(sys.argv[sys.argv.index("--minutes") + 1]) if "--minutes" in sys.argv else 0
    options = [word.format(seconds=minutes * 60) for word in (LONG if minutes else SHORT) + BOTH]
    seconds = int(options[options.index("--soak") + 1])
    os.environ["QV_RUN_TIMEOUT"] = str(seconds + 600)  # the soak's own time and the end of the run it is in
    with GameRun(root, program, folder, options) as run:
        code = run.finish(seconds + 900)
    print(f"exit code {code} ({'no crash' if code == 0 else 'CRASH or failure'})")
    figures = read_figures(run.path("soak.txt"))
    for label, number, allocations, graphs, reinits, switches in figures:
        print(f"{label:>4} {number}: allocations {allocations}, graphs {graphs} "
              f"(after {reinits} device rebuilds, {switches} mode switches)")
    save = open(run.path("Save.Dat"), "rb").read()
    problems = save_problems(save)
    print(f"Save.Dat {save.hex()}: {'valid' if not problems else 'INVALID: ' + ', '.join(problems)}")
    shut_down_cleanly(run)
    print("Log.txt ends in an empty allocation dump")

    assert code == 0, f"the soak ended with {code}"
    assert not problems, f"Save.Dat: {problems}"
    runs = [entry for entry in figures if entry[0] == "run"]
    assert runs and figures[-1][0] == "end", "no run ended, or the soak did not report its end"
    unloaded = [entry for entry in figures if entry[3] < SHEET_GRAPHS]
    assert not unloaded, f"the game's sheets are not all loaded: {unloaded}"
    # A restart of the screen empties the caches the engine fills on demand (glyph textures, its built-in model
    # pictures), so a figure may come back below run 1's; above it would be a leak.
    first = runs[0][2:4]
    grown = [entry for entry in figures[1:] if entry[2] > first[0] or entry[3] > first[1]]
    assert not grown, f"the figures after run 1 were {first}; later {grown}"
    end = figures[-1]
    assert end[4] >= 1 and end[5] >= 1, f"no device rebuild or no mode switch: {end}"


if __name__ == "__main__":
    main()
