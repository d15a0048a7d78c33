#!/usr/bin/env python3
"""The game over through the input hook: from the title's START on LUNATIC, button 1 held (the player strikes what
comes from the right and is hurt by what comes from behind), over a "Save.Dat" of high score 1, furthest stage 255
and the NORMAL clear flag. A first run finds the frame in which the game over hands back to the title; a second
run with the same input is held at that frame: its dump must show the title's state and a high score above 1, and
"Save.Dat" must already hold it (furthest stage -1, the flags kept). After the release the title opens on CONTINUE
and button 1 restarts the stage of the game over with 3 lives and score 0.
Usage: check_game_over.py PROGRAM RUN_FOLDER SOURCE_ROOT"""
import os
import struct
import sys

from game_harness import BUTTON1, NO_STAGE_PICTURES, GameRun, drawn_from
from stage_play import game_over, run_until, to_difficulty

OLD_SAVE = struct.pack("<6i", 1, 255, 0, 1, 0, 0)
PLAY = to_difficulty(3) + [(BUTTON1, 30000)]
TO_CONTINUE = [(0, 6), (BUTTON1, 1), (0, 8)]  # released through the title's load and reset, then CONTINUE


def first_game_over(root, program, folder):
    options = ["--software"] + NO_STAGE_PICTURES  # the dump is all it reads
    with GameRun(root, program, folder, options, files={"Save.Dat": OLD_SAVE}, steps=PLAY) as run:
        lines = run_until(run, game_over)
    assert lines and lines[-1]["MainState"] == "10", f"no game over in {len(lines)} frames"
    return lines[-1]


def main():
    program, folder, root = sys.argv[1:4]
    line = first_game_over(root, program, os.path.join(folder, "first"))
    frame = int(line["frame"])
    steps, left = [], frame
    for bits, frames in PLAY:
        steps.append((bits, min(frames, left)))
        left -= steps[-1][1]
    steps += TO_CONTINUE
    total = frame + sum(frames for _, frames in TO_CONTINUE)
    options = ["--software", "--stop-at", str(frame), "--frames", str(total)] + drawn_from(frame)
    with GameRun(root, program, os.path.join(folder, "held"), options, files={"Save.Dat": OLD_SAVE},
                 steps=steps) as run:
        held = run.wait_held(600)
        saved = open(run.path("Save.Dat"), "rb").read()
        run.release()
        code = run.finish(600)
        lines = run.dump()
    high_score = int(held["HighScore"])
    assert held["MainState"] == "10" and held["Lives"] == "0", f"frame {frame} held: {held}"
    assert high_score > 1 and high_score >= int(held["Score"]), f"no new high score: {held}"
    wanted = struct.pack("<6i", high_score, -1, 0, 1, 0, 0)
    assert saved == wanted, f"Save.Dat at the game over holds {saved.hex()}, wanted {wanted.hex()}"
    print(f"game over at frame {frame} on stage {held['StageIndex']}: Save.Dat holds the high score {high_score}")
    assert code == 0, f"the held run ended with {code}"
    title = next(x for x in lines[frame:] if x["MainState"] == "30")
    assert title["MenuCursor"] == "1", f"the title opened on item {title['MenuCursor']}"
    chosen = next(x for x in lines[frame:] if x["MainState"] == "100")
    wanted = {"Lives": "3", "Score": "0", "StageIndex": held["StageIndex"], "IntroState": "10", "MissState": "0"}
    assert {key: chosen[key] for key in wanted} == wanted, f"CONTINUE gave {chosen}"
    assert lines[-1]["MainState"] == "0", f"play did not resume: {lines[-1]}"
    print(f"the title opened on CONTINUE, which restarted stage {held['StageIndex']} with 3 lives and score 0")


if __name__ == "__main__":
    main()
