#!/usr/bin/env python3
"""Whole runs: on each difficulty the bot plays from the title through the six stages back to the title, paging
through every story event. "Save.Dat" must then hold furthest stage 5, that difficulty's clear flag alone and the
run's final score as high score, and a short run on that save must show the score on the title, "済" beside that
difficulty alone on the difficulty menu and all six thumbnails in the gallery (back-buffer shots against the
drawing rules). A run that gives up on stage 4 (a game over, then CONTINUE) must clear stages 4 and 5 and leave
furthest stage 3 and no clear flag; its last two events are the continue notice, one line on black that the next
press ends. Every event plays track 204 and takes one press per page of its script's walk, and its first page
shows as the walk predicts. Every recorded input must replay to the same per-frame hashes and the same shots.
Usage: check_bot_runs.py PROGRAM RUN_FOLDER SOURCE_ROOT CONTENT_FOLDER"""
import os
import struct
import sys

from bot_runs import differences, in_parallel, read_report, replay_options, run_game
from game_harness import BUTTON1, BUTTON2, DOWN, Image, input_file, read_png, to_565
import screen_rules

DRAW_EVERY = 64  # the bot's own runs draw every so often; the shots are always drawn
FRAME_LIMIT = 120000  # six stages of at most 16,000 frames each, and the title between them
SHOT_EVERY = 10000  # the bot's run and its replay write their back buffers at these frames
GIVE_UP_STAGE, GIVE_UP_DIFFICULTY = 4, 1
NOTICE_SCRIPT = 6
# The title at frame 10 (cursor on START), the difficulty menu at 18 with its cursor on LUNATIC, then X back to
# the title and its third item: the gallery at 31.
MENU_STEPS = [(0, 10), (BUTTON1, 1), (0, 1), (DOWN, 3), (0, 5), (BUTTON2, 1), (0, 3), (DOWN, 2), (0, 1),
              (BUTTON1, 1), (0, 3)]
TITLE_FRAME, MENU_FRAME, GALLERY_FRAME = 10, 18, 31
SOFTWARE_BLEND_STEPS = 2


def shot_rows(path):
    """A 640x480 PPM shot in the screen's 16-bit format: a list of rows of (r5, g6, b5)."""
    data = open(path, "rb").read()
    header = b"P6\n640 480\n255\n"
    assert data.startswith(header), f"{path} is no 640x480 PPM"
    shot = Image(640, 480, data[len(header):])
    return [[to_565(shot.pixel(x, y)) for x in range(640)] for y in range(480)]


def script_pages(root, script):
    return screen_rules.script_pages(os.path.join(root, "content", "events", f"script{script}.txt"))


def menu_failures(paths, folder, save, difficulty, score):
    """The title, the difficulty menu and the gallery shown on `save`, against the drawing rules with `score` as
    high score."""
    program, root, content = paths
    menus = os.path.join(folder, "menus")
    code = run_game(root, program, menus,
                    ["--input", "input.txt", "--shot-at", f"{TITLE_FRAME},{MENU_FRAME},{GALLERY_FRAME}"],
                    files={"Save.Dat": save, "input.txt": input_file(MENU_STEPS).encode()}, frames=GALLERY_FRAME)
    if code != 0:
        return [f"the menu run ended with {code}"]
    png = lambda name: read_png(os.path.join(content, name))
    picture, tiles = png("cg_110.png"), png("png_103.png")
    screens = [(TITLE_FRAME, screen_rules.title_side(picture, tiles, score, 0, screen_rules.TITLE_ITEMS),
                SOFTWARE_BLEND_STEPS),
               (MENU_FRAME, screen_rules.title_side(picture, tiles, score, 3, screen_rules.DIFFICULTY_ITEMS,
                                                    [difficulty]), SOFTWARE_BLEND_STEPS),
               (GALLERY_FRAME, screen_rules.gallery_screen(png("png_104.png"), 5), None)]
    failures = []
    for frame, screen, steps in screens:
        rows = shot_rows(os.path.join(menus, f"shot_{frame}.ppm"))
        failures += [f"frame {frame}: {line}" for line in screen_rules.compare(screen, rows, steps)]
    return failures


def event_failures(root, report, give_up):
    """The events the report shows against those of a whole run (or of the run that gave up): script, one press
    per page, track 204 throughout, and the stage (or -1, the title) that followed."""
    wanted = []
    for stage in range(6):
        script = NOTICE_SCRIPT if give_up is not None and stage >= give_up else stage
        wanted.append({"stage": str(stage), "script": str(script), "presses": str(len(script_pages(root, script))),
                       "tracks": "204", "then": str(stage + 1 if stage < 5 else -1)})
    played = [{key: event.get(key) for key in wanted[0]} for event in report["events"]]
    return [] if played == wanted else [f"the events played {played}, wanted {wanted}"]


def first_page_failures(paths, folder, report):
    """Each event's first drawn page in the replay's shots against the page the script's walk predicts."""
    _, root, content = paths
    failures = []
    for event in report["events"]:
        stage, script, frame = int(event["stage"]), int(event["script"]), event["shown"]
        _, text, offset = script_pages(root, script)[0]
        base = screen_rules.EVENT_PICTURE_BASE[stage]
        picture = read_png(os.path.join(content, f"cg_{110 + base + offset}.png")) if offset is not None else None
        rows = shot_rows(os.path.join(folder, f"shot_{frame}.ppm"))
        failures += [f"the first page of script {script} at frame {frame}: {line}" for line in
                     screen_rules.compare(screen_rules.event_screen(picture, len(text)), rows, SOFTWARE_BLEND_STEPS)]
    return failures


def whole_run(case):
    """A bot run from the title and its replay; answers (report, "Save.Dat" bytes, failures)."""
    paths, folder, difficulty, give_up = case
    program, root, _ = paths
    periodic = ",".join(str(frame) for frame in range(SHOT_EVERY, FRAME_LIMIT, SHOT_EVERY))
    options = ["--draw-every", str(DRAW_EVERY), "--end-at-title", "--shot-at", periodic]
    bot = os.path.join(folder, "bot")
    extra = ["--bot-give-up", str(give_up)] if give_up is not None else []
    code = run_game(root, program, bot, options + ["--bot", str(difficulty), "--record", "in.txt"] + extra,
                    frames=FRAME_LIMIT)
    report = read_report(bot)
    save_path = os.path.join(bot, "Save.Dat")
    save = open(save_path, "rb").read() if os.path.exists(save_path) else b""
    cleared = [clear["stage"] for clear in report["clears"]]
    if code != 0 or cleared != list(range(6)):
        return report, save, [f"the bot's run ended with {code} after {report['frames']} frames, clearing {cleared}"]
    failures = event_failures(root, report, give_up)
    shown = ",".join(event["shown"] for event in report["events"])
    replay = os.path.join(folder, "replay")
    code = run_game(root, program, replay, replay_options(options) + ["--shot-at", shown], frames=FRAME_LIMIT)
    shots = sorted(name for name in os.listdir(bot) if name.startswith("shot_"))
    differing = differences(bot, replay, ["hash.txt"] + shots)
    if code != 0 or differing or not shots:
        failures.append(f"the replay ended with {code} and differs in {differing} (shots compared: {shots})")
    elif not failures:
        failures += first_page_failures(paths, replay, report)
    return report, save, failures


def judge(case, report, save, failures):
    """The save a whole run (or the run that gave up) left, and for a whole run the menus shown on it."""
    paths, folder, difficulty, give_up = case
    if failures:
        return failures
    if len(save) != 24:
        return failures + [f"Save.Dat holds {len(save)} bytes"]
    high_score, furthest, *flags = struct.unpack("<6i", save)
    score = report["clears"][-1]["score"]
    wanted_flags = [int(give_up is None and d == difficulty) for d in range(4)]
    # A continue starts the score afresh: the high score is then the best before it, which no report line shows.
    wanted = (score if give_up is None else high_score, 5 if give_up is None else give_up - 1, wanted_flags)
    if (high_score, furthest, flags) != wanted:
        failures.append(f"Save.Dat holds {(high_score, furthest, flags)}, wanted {wanted}")
    elif give_up is None:
        failures += menu_failures(paths, folder, save, difficulty, score)
    return failures


def main():
    program, folder, root, content = sys.argv[1:5]
    paths = (program, root, content)
    cases = [(paths, os.path.join(folder, f"d{d}"), d, None) for d in range(4)]
    cases.append((paths, os.path.join(folder, f"d{GIVE_UP_DIFFICULTY}_give_up"), GIVE_UP_DIFFICULTY, GIVE_UP_STAGE))
    failed = []
    for case, (report, save, failures) in zip(cases, in_parallel(whole_run, cases)):
        failures = judge(case, report, save, failures)
        name = os.path.basename(case[1])
        lives = ",".join(str(clear["lives_lost"]) for clear in report["clears"])
        print(f"{name}: {report['frames']} frames, lives lost per clear {lives}, Save.Dat {save.hex()}: "
              + ("as the rules say" if not failures else "\n  ".join(["differs:"] + failures)))
        failed += [name] if failures else []
    assert not failed, f"runs not as the rules say: {failed}"


if __name__ == "__main__":
    main()
