#!/usr/bin/env python3
"""Going on from stage 0: the recorded input tests/game/inputs/clear_stage0_normal.txt (START, NORMAL, stage 0
played to its boss's defeat) run through the input hook without pacing. The dump shows the clear (its bonus of
2,000 on NORMAL, the hand-over 201 frames after the boss fell, "Save.Dat" written with the clear recorded), the
event paged in the fast mode and ended with A, and stage 1's intro open on the frame after the event with the lives,
score, extra-life threshold and continue flag of the hand-over, to the end of the input. A second run of the same input gives the same state
hash on every frame. The runs draw to the software screen, the event's pages but no stage pictures: the state
depends on neither, and under Wine drawing is most of a frame's cost, too much for the ten thousand frames of the
input.
Usage: check_stage_clear.py PROGRAM RUN_FOLDER SOURCE_ROOT"""
import os
import struct
import sys

from game_harness import NO_STAGE_PICTURES, GameRun, input_frames, shut_down_cleanly, wine_path

INPUT = os.path.join("tests", "game", "inputs", "clear_stage0_normal.txt")
CLEAR_FRAMES = 201
RUN_SECONDS = 900  # a loaded machine; the run itself takes one or two minutes
KEPT = ("Lives", "Score", "ExtraLifeThreshold", "ContinuedFlag")


def play(root, program, folder, text):
    frames = input_frames(text)
    options = ["--input", wine_path(os.path.join(folder, "input.txt")), "--no-pacing", "--frames", str(frames),
               "--software"] + NO_STAGE_PICTURES
    with GameRun(root, program, folder, options, files={"input.txt": text.encode()}) as run:
        code = run.finish(RUN_SECONDS)
    assert code == 0, f"{folder}: the run ended with {code}"
    shut_down_cleanly(run)
    dump = run.dump()
    assert len(dump) == frames, f"{len(dump)} dump lines for {frames} frames"
    return run, dump


def number(line, key):
    return int(line[key])


def check_going_on(run, dump):
    cleared = next(i for i, line in enumerate(dump) if number(line, "ClearState") > 0)
    handed = next(i for i in range(cleared, len(dump)) if number(dump[i], "EventState") > 0)
    opened = next(i for i in range(handed, len(dump)) if number(dump[i], "EventState") == 0)
    clear, hand, first = dump[cleared], dump[handed], dump[opened]
    pages = {line["PageStart"] for line in dump[handed:opened] if line["EventState"] == "20"}
    assert len(pages) == 6, f"the event showed the pages at {sorted(pages)}"
    assert (clear["StageIndex"], clear["DifficultyIndex"]) == ("0", "1"), f"the clear began elsewhere: {clear}"
    assert handed - cleared == CLEAR_FRAMES and hand["ClearState"] == "0", f"hand-over after {handed - cleared}"
    bonus = number(hand, "Score") - number(clear, "Score")
    assert bonus == 2000, f"the clear's bonus was {bonus}"
    saved = struct.unpack("<6i", open(run.path("Save.Dat"), "rb").read())
    assert hand["FurthestStageCleared"] == "0" and saved == (number(hand, "HighScore"), 0, 0, 0, 0, 0), saved
    wanted = {key: hand[key] for key in KEPT}
    assert {key: first[key] for key in KEPT} == wanted, f"kept {wanted}, stage 1 began with {first}"
    for line in dump[opened:]:
        state = (line["StageIndex"], line["EventState"], line["MainState"], line["MissState"])
        assert state == ("1", "0", "0", "0") and number(line, "IntroState") > 0, f"not in stage 1's intro: {line}"
    print(f"stage 0 cleared on frame {cleared + 1} (bonus {bonus}), handed over on frame {handed + 1}, stage 1's "
          f"intro open from frame {opened + 1} with {wanted}")


def main():
    program, folder, root = sys.argv[1:4]
    os.environ["QV_RUN_TIMEOUT"] = str(RUN_SECONDS)
    text = open(os.path.join(root, INPUT)).read()
    run, dump = play(root, program, os.path.join(folder, "first"), text)
    check_going_on(run, dump)
    hashes = open(run.path("hash.txt")).read()
    again, _ = play(root, program, os.path.join(folder, "second"), text)
    assert open(again.path("hash.txt")).read() == hashes, "the second run's state hashes differ"
    print(f"a second run gave the same state hash on all {len(dump)} frames")


if __name__ == "__main__":
    main()
