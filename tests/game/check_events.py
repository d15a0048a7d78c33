#!/usr/bin/env python3
"""The gallery and its events under the input hook, from a "Save.Dat" naming the furthest stage cleared: the
gallery screen with stages 0-2 cleared and with none (thumbnails or locked cells, help lines, choices, the disc and
the triangle); stage 0 with text (pages over the picture the script's page walk predicts, in the half-transparent
window, a "BK" page on black, the picture alone after X, chaining into event 1, A back to the title with
StageIndex as before, CONTINUE from there); stage 0 as pictures only with every stage cleared (PictureIndex 1-46,
one per press after the first, which only releases the choosing press; three pictures as generated, then the
title). Music: 209 in the gallery, 204 in its events, 201 back at the title, 202 in the stage.
Usage: check_events.py PROGRAM RUN_FOLDER SOURCE_ROOT CONTENT_FOLDER"""
import os
import struct
import sys

from game_harness import BUTTON1, BUTTON2, DOWN, GameRun, judge_held_frame, read_png
import screen_rules

RIGHT, LEFT, BUTTON4 = 0x04, 0x02, 0x80
TO_GALLERY = [(0, 4), (DOWN, 2), (0, 1), (BUTTON1, 1), (0, 3)]


def save(furthest):
    return {"Save.Dat": struct.pack("<6i", 0, furthest, 0, 0, 0, 0)}


def presses(count, bits=BUTTON1):
    return [(bits, 1), (0, 1)] * count


TEXT_RUN = TO_GALLERY + [(DOWN, 1), (0, 1), (BUTTON1, 1), (0, 4)] + presses(34) + presses(1, BUTTON2) + \
    presses(2) + [(BUTTON4, 1), (0, 6), (DOWN, 1), (0, 1), (BUTTON1, 1), (0, 3)]
PICTURE_RUN = TO_GALLERY + [(RIGHT, 1), (0, 1), (DOWN, 1), (0, 1), (LEFT, 1), (0, 1), (BUTTON1, 1), (0, 4)] + \
    presses(47) + [(0, 4)]


def dump_run(root, program, folder, files, steps):
    with GameRun(root, program, folder, ["--frames", str(sum(n for _, n in steps))], files=files,
                 steps=steps) as run:
        assert run.finish() == 0, f"{folder}: the run failed"
        return run.dump()


def music(lines):
    return [int(id) for line in lines for id in line["music"].split(",") if id]


def judge(root, program, folder, frame, steps, files, screen, failed, name):
    line, failures = judge_held_frame(root, program, os.path.join(folder, name), [], frame,
                                      lambda shot: screen_rules.compare(screen, shot), steps=steps, files=files)
    print(f"{name} (frame {frame}): " + ("as the rules draw it" if not failures else "\n  ".join(failures)))
    if failures:
        failed.append(name)
    return line


def main():
    program, folder, root, content = sys.argv[1:5]
    png = lambda name: read_png(os.path.join(content, name))
    thumbnails, failed = png("png_104.png"), []

    # The gallery screen, with stages 0-2 cleared and with none; Z on a locked thumbnail starts nothing.
    steps = TO_GALLERY + [(RIGHT, 1), (0, 1), (DOWN, 1), (0, 2)]
    frame = sum(n for _, n in steps)
    judge(root, program, folder, frame, steps, save(2),
          screen_rules.gallery_screen(thumbnails, 2, 1, (80 + 158, 140)), failed, "gallery_0_2")
    steps = TO_GALLERY + [(DOWN, 1), (0, 1), (BUTTON1, 1), (0, 2)]
    frame = sum(n for _, n in steps)
    line = judge(root, program, folder, frame, steps, save(-1),
                 screen_rules.gallery_screen(thumbnails, -1, 0, (80, 140)), failed, "gallery_locked")
    assert line["MainState"] == "35" and line["EventState"] == "0", "a locked thumbnail started an event"

    # Stage 0 with text: pick the frames from a whole run's dump, and judge each by the page the walk predicts.
    lines = dump_run(root, program, os.path.join(folder, "text_dump"), save(5), TEXT_RUN)
    pages = {(stage, start): (len(text), offset) for stage in (0, 1) for start, text, offset in
             screen_rules.script_pages(os.path.join(root, "content", "events", f"script{stage}.txt"))}
    predicted = lambda l: pages[int(l["StageIndex"]), int(l["PageStart"])]
    # Frames that drew a page: state 20 before and after (the frame that chose the script draws nothing).
    events = [l for before, l in zip(lines, lines[1:])
              if l["MainState"] == "0" and before["EventState"] == l["EventState"] == "20"]
    shown = [l for l in events if l["TextWindowHidden"] == "0"]
    picture_page = next(l for l in shown if (predicted(l)[1] or 0) > 0)
    black_page = next(l for l in shown if predicted(l)[1] is None)
    hidden = next(l for l in events if l["TextWindowHidden"] == "1" and predicted(l)[1] is not None)
    for name, l, window in (("text_page", picture_page, True), ("black_page", black_page, True),
                            ("window_hidden", hidden, False)):
        count, offset = predicted(l)
        base = screen_rules.EVENT_PICTURE_BASE[int(l["StageIndex"])]
        picture = png(f"cg_{110 + base + offset}.png") if offset is not None else None
        judge(root, program, folder, int(l["frame"]), TEXT_RUN, save(5),
              screen_rules.event_screen(picture, count if window else None), failed, name)
    stages = sorted({int(l["StageIndex"]) for l in events})
    assert stages == [0, 1], f"the events played {stages}, wanted 0 and 1"
    assert music(lines) == [201, 209, 204, 201, 202], f"music {music(lines)}"
    after = [l for l in lines if l["MainState"] == "0" and l["EventState"] == "0"]
    assert after and after[0]["StageIndex"] == "0", "CONTINUE after the gallery did not start stage 0"
    assert max(int(l["graphs"]) for l in lines) <= max(int(l["graphs"]) for l in lines[:4]) + 1

    # Pictures only from stage 0 with every stage cleared: 111-156, one per press, then the title.
    lines = dump_run(root, program, os.path.join(folder, "pictures_dump"), save(5), PICTURE_RUN)
    shown = [int(l["PictureIndex"]) for l in lines if l["EventState"] == "25" and l["MainState"] == "0"]
    runs = [value for i, value in enumerate(shown) if i == 0 or value != shown[i - 1]]
    assert runs == list(range(1, 47)), f"pictures {runs}"
    assert lines[-1]["MainState"] == "30", "the title did not follow the last picture"
    for index in (1, 23, 46):
        l = next(l for before, l in zip(lines, lines[1:])
                 if before["EventState"] == l["EventState"] == "25" and l["PictureIndex"] == str(index))
        judge(root, program, folder, int(l["frame"]), PICTURE_RUN, save(5),
              screen_rules.event_screen(png(f"cg_{110 + index}.png"), None), failed, f"picture_{index}")
    assert not failed, f"screens not as drawn by the rules: {failed}"


if __name__ == "__main__":
    main()
