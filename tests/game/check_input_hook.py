#!/usr/bin/env python3
"""The title side driven through the input hook (input file, no pacing, per-frame dump), each run in a folder of its
own, and every run that ends with nothing of the image libraries on its console: holding down walks the menu to QUIT
with four cursor sounds and QUIT ends the run with 0; START, LUNATIC and the hand-over leave stage play's state and
LUNATIC's bytes; each option choice writes "Option.Dat" (second value kept) and ends with 0, and the start after
choosing full screen runs at 640x480 full screen; twenty visits to the option screen leave the engine as many live
graphs as the first.
Usage: check_input_hook.py PROGRAM RUN_FOLDER SOURCE_ROOT"""
import os
import struct
import subprocess
import sys

from game_harness import (BUTTON1, BUTTON2, DOWN, GameRun, display_size, find_window, library_messages,
                          shut_down_cleanly, window_geometry)

CURSOR_SOUND = "306"
TO_OPTION = [(DOWN, 3), (0, 1), (BUTTON1, 1), (0, 3)]  # from START: the option screen, cursor on the window item


def run_to_end(root, program, folder, steps, frames, files=None):
    """Runs to its end, which must be clean: exit code 0, the shut-down in the log, and nothing of the image
    libraries on the console (the start loads every picture of the title side through the loader dispatcher)."""
    with GameRun(root, program, folder, ["--frames", str(frames)], files=files, steps=steps, console=True) as run:
        code = run.finish()
    assert code == 0, f"{folder}: the run ended with {code}; its console:\n{run.console()}"
    shut_down_cleanly(run)
    printed = library_messages(run)
    assert not printed, f"{folder}: the image libraries printed on the console: {printed}"
    return run, run.dump()


def check_walk_to_quit(root, program, folder):
    steps = [(0, 2), (DOWN, 10), (0, 3), (BUTTON1, 1)]
    _, dump = run_to_end(root, program, folder, steps, 100)
    sounds = sum(line["effects"].split(",").count(CURSOR_SOUND) for line in dump[:-1])
    last = dump[-1]
    assert sounds == 4, f"{sounds} cursor sounds on the way down"
    assert (last["frame"], last["MenuCursor"], last["QuitFlag"]) == ("16", "4", "1"), f"QUIT not chosen: {last}"
    print("down held: four cursor sounds, then QUIT ended the run with 0 and nothing of the image libraries printed")


def check_lunatic_hand_over(root, program, folder):
    steps = [(0, 3), (BUTTON1, 1), (0, 1), (DOWN, 3), (0, 1), (BUTTON1, 1)]
    _, dump = run_to_end(root, program, folder, steps, 15)
    last = dump[-1]
    wanted = {"MainState": "0", "FrameTarget": "16", "AttackPower": "1", "DamageMultiplier": "9",
              "DifficultyIndex": "3"}
    assert {key: last[key] for key in wanted} == wanted, f"after the hand-over: {last}"
    print("START, LUNATIC: handed over to stage play with 1, 9, 3")


def check_full_screen_start(root, program, folder, option_file):
    before = display_size()
    try:
        with GameRun(root, program, folder, ["--stop-at", "3", "--frames", "5"], files={"Option.Dat": option_file},
                     steps=[]) as run:
            run.wait_held()
            size, frame = display_size(), window_geometry(find_window())
            run.release()
            code = run.finish()
    finally:
        if display_size() != before:  # the other checks need the display as it was
            subprocess.run(["xrandr", "-s", "%dx%d" % before], check=False)
    assert (size, frame) == ((640, 480), (0, 0, 640, 480)), f"display {size}, window {frame}"
    assert code == 0 and display_size() == before, f"ended with {code}, display {display_size()}"
    print("the next start ran full screen at 640x480")


def check_option_choices(root, program, folder):
    # (choice, "Option.Dat" before as two values, after)
    for choice, before, after in ((0, (0, 777), (0, 777)), (1, (2, -9), (1, -9))):
        steps = [(0, 3)] + TO_OPTION + [(DOWN, choice), (0, 1), (BUTTON1, 1)]
        run, dump = run_to_end(root, program, folder, steps, 100, {"Option.Dat": struct.pack("<2i", *before)})
        written = open(run.path("Option.Dat"), "rb").read()
        assert dump[-1]["QuitFlag"] == "1", f"the choice did not end the run: {dump[-1]}"
        assert written == struct.pack("<2i", *after), f"choice {choice} wrote {written.hex()}"
    print("both option choices wrote their value, kept the second and ended with 0")
    check_full_screen_start(root, program, folder, written)


def check_option_visits(root, program, folder):
    steps = [(0, 3)] + (TO_OPTION + [(BUTTON2, 1), (0, 4)]) * 20
    _, dump = run_to_end(root, program, folder, steps, sum(frames for _, frames in steps) + 3)
    states = [line["MainState"] for line in dump]
    graphs = [line["graphs"] for i, line in enumerate(dump) if states[i] == "30" and states[i - 1] == "20"]
    visits = sum(1 for i in range(1, len(states)) if states[i] == "95" and states[i - 1] != "95")
    assert visits == 20, f"{visits} option visits"
    assert len(graphs) == 21 and graphs[1] == graphs[20], f"live graphs at each title: {graphs}"
    print(f"twenty option visits: {graphs[1]} live graphs after the first and after the last")


def main():
    program, folder, root = sys.argv[1:4]
    check_walk_to_quit(root, program, os.path.join(folder, "walk"))
    check_lunatic_hand_over(root, program, os.path.join(folder, "lunatic"))
    check_option_choices(root, program, os.path.join(folder, "option"))
    check_option_visits(root, program, os.path.join(folder, "visits"))


if __name__ == "__main__":
    main()
