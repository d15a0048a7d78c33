#!/usr/bin/env python3
"""Screenshots of stage play, each compared pixel by pixel with the picture stage_screens composes from the sheets,
the stage's maps and the state dumped for the held frame: the player mirrored in the air with the strike icon
turned, an invulnerable player, a bomb's blast, a boss with its gauge, the pause, the intro caption, the clear
banner and the game-over banner over the last stage frame. A first run of each case with --dump finds the first
frame that shows the wanted state; a second run, identical up to there, holds that frame for the screenshot. Each
screenshot also passes anchors worked out by hand: the seven digit cells of the score at x 128-224, y 32, and the
player's cell at the dumped PlayerX, PlayerY. The mirrored invulnerable player and the pause are taken again on
the software screen, within two steps where blended; the boss and the clear are held there only.
Usage: check_stage_screens.py PROGRAM RUN_FOLDER SOURCE_ROOT CONTENT_FOLDER"""
import os
import sys

from game_harness import (BUTTON1, BUTTON2, NO_STAGE_PICTURES, UP, GameRun, cell, drawn_from, judge_held_frame,
                          steps_apart, to_565, wine_path)
import screen_rules
import stage_screens
from stage_play import run_until

LEFT, RIGHT, PAUSE = 0x02, 0x04, 0x80
# A held run draws the stage pictures of the frames shortly before the held one only; on the Direct3D screen under
# Wine a drawn frame may take a tenth of a second on a loaded machine.
HOLD_SECONDS = 800
DRAWN_BEFORE_HELD = 120  # covers every case's wanted state from its first frame, and the game over's last stage frame
INTRO = 72  # frames before the stage moves (the 70-frame intro and a margin)
CLEAR_STAGE0 = "tests/game/inputs/clear_stage0_normal.txt"  # from the title: clears stage 0 on NORMAL


def attacking(frames, direction=0):
    """Button 1 pressed every other frame (it latches once per press), with a direction held."""
    return [(direction | BUTTON1, 1), (direction, 1)] * (frames // 2)


def objects(line):
    return stage_screens.parse_objects(line.get("objects", ""))


def number(line, key):
    return int(line[key])


def in_play(line):
    return all(number(line, key) == 0 for key in ("IntroState", "ClearState", "PauseFlag", "MissState"))


# (name, options, input: steps or a file of the source tree, frames searched, the wanted state, frames held after
# the first that shows it, steps allowed where anything was blended (None: one per blend)). The boss and the clear
# come thousands of frames into a stage; they are held on the software screen, which keeps such runs short.
CASES = [
    ("air_turned", ["--start", "1,0"], [(0, INTRO), (BUTTON2, 1), (LEFT, 4), (LEFT | UP, 12)], 200,
     lambda l: in_play(l) and number(l, "PlayerFacing") == 1 and number(l, "PlayerY") < 300
     and number(l, "StrikeMode") == 2, 4, None),
    ("invulnerable", ["--start", "1,0"], [(0, INTRO), (RIGHT, 3000)], 3000,
     lambda l: in_play(l) and number(l, "InvulnerableFlag") == 1, 20, None),
    ("invulnerable_mirrored_software", ["--start", "1,0", "--software"], [(0, INTRO), (LEFT, 3000)], 3000,
     lambda l: in_play(l) and number(l, "InvulnerableFlag") == 1 and number(l, "PlayerFacing") == 1, 20, 2),
    ("blast", ["--start", "0,1"], [(0, INTRO)] + attacking(4000), 4000,
     lambda l: any(o["type"] == 8 and o["w"] == 96 for o in objects(l)), 2, None),
    ("pause", ["--start", "1,0"], [(0, INTRO + 40), (PAUSE, 1), (0, 20)], 200,
     lambda l: number(l, "PauseFlag") == 10, 5, None),
    ("pause_software", ["--start", "1,0", "--software"], [(0, INTRO + 40), (PAUSE, 1), (0, 20)], 200,
     lambda l: number(l, "PauseFlag") == 10, 5, 2),
    ("intro_caption", ["--start", "1,2"], [(0, 100)], 100,
     lambda l: number(l, "IntroState") == 11 and number(l, "IntroX") == 224, 5, None),
    ("game_over", ["--start", "3,3"], [(0, 4000)], 4000,
     lambda l: number(l, "MissState") > 0 and number(l, "Lives") == 0, 30, None),
    ("boss_software", ["--software"], CLEAR_STAGE0, 12000,
     lambda l: in_play(l) and number(l, "BossPhase") == 1 and number(l, "BossHealthDisplay") > 0
     and any(o["w"] == 96 and 0 <= o["x"] <= 544 and 0 <= o["y"] for o in objects(l)), 10, 2),
    ("clear_software", ["--software"], CLEAR_STAGE0, 12000, lambda l: number(l, "ClearState") > 0, 120, 2),
]


def run_options(root, options, steps):
    """The run's options and input steps: a file of the source tree is given to --input as it is."""
    if isinstance(steps, str):
        return options + ["--input", wine_path(os.path.join(root, steps)), "--no-pacing"], None
    return options, steps


def search_run(root, program, folder, options, steps, frames, wanted, hold_after):
    """Runs up to `frames` frames on the software screen without stage pictures (the state depends on neither),
    reading the dump as it grows, until `hold_after` frames have passed since the first frame of stage play in the
    wanted state. Answers that frame's number (None when none came) and the dump's lines of stage play by frame
    number."""
    options, steps = run_options(root, options if "--software" in options else options + ["--software"], steps)
    found = None

    def held_long_enough(_, line):
        nonlocal found
        if line["MainState"] != "0":
            return False
        frame = int(line["frame"])
        found = frame if found is None and wanted(line) else found
        return found is not None and frame == found + hold_after

    with GameRun(root, program, folder, options + ["--frames", str(frames)] + NO_STAGE_PICTURES, steps=steps) as run:
        lines = run_until(run, held_long_enough, seconds=900)
    return found, {int(line["frame"]): line for line in lines if line["MainState"] == "0"}


def digit_anchor_failures(content, shot, score):
    """The score's digit k is tile 10 + d at x 128 + 16k, y 32; the left 16 columns of each are not covered by
    the next digit, so there every pixel the tile keeps must show on the screen as it is."""
    failures = []
    for k, digit in enumerate(f"{score:07d}"):
        tile = cell(content.tiles, 10 + int(digit))
        wrong = sum(1 for y in range(32) for x in range(16)
                    if to_565(tile[y][x]) != (0, 0, 0) and shot[32 + y][128 + 16 * k + x] != to_565(tile[y][x]))
        if wrong:
            failures.append(f"anchor: digit {k} of score {score} ({digit}) differs at {wrong} pixels")
    return failures


def player_anchor_failures(content, shot, line):
    """The player's cell at (PlayerX, PlayerY), mirrored when facing left: each pixel it keeps shows as it is, or
    for an invulnerable player as half of it over anything. Banners may cover a tenth of it."""
    row, frame = int(line["PlayerAnimRow"]), int(line["PlayerAnimFrame"])
    pixels = cell(content.sprites, content.player_rows[row][frame])
    if line["PlayerFacing"] == "1":
        pixels = stage_screens.mirrored(pixels)
    half, left, top = line["InvulnerableFlag"] == "1", int(line["PlayerX"]), int(line["PlayerY"])
    limits = (31, 63, 31)
    kept = wrong = 0
    for y in range(32):
        for x in range(32):
            colour = to_565(pixels[y][x])
            if colour == (0, 0, 0) or not (0 <= left + x < 640 and 0 <= top + y < 480):
                continue
            kept += 1
            shown = shot[top + y][left + x]
            if half:
                wrong += any(not c - 2 <= 2 * s <= c + m + 2 for s, c, m in zip(shown, colour, limits))
            else:
                wrong += steps_apart(shown, colour) > 0
    return [f"anchor: the player's cell at ({left}, {top}) differs at {wrong} of {kept} pixels"] if wrong * 10 > kept else []


def held_failures(root, program, folder, options, steps, frame, screens, anchor_line, content, blended_steps):
    """Holds `frame`; its screenshot must follow one of `screens` and the anchors of `anchor_line`. Answers the held
    dump line and the failures."""
    options, steps = run_options(root, options, steps)

    def judge(shot):
        failures = min((screen_rules.compare(screen, shot, blended_steps) for screen in screens), key=len)
        failures += digit_anchor_failures(content, shot, int(anchor_line["Score"]))
        return failures + player_anchor_failures(content, shot, anchor_line)

    return judge_held_frame(root, program, folder, options + drawn_from(frame - DRAWN_BEFORE_HELD), frame, judge,
                            seconds=HOLD_SECONDS, steps=steps)


def check_case(root, program, folder, content, case):
    name, options, steps, frames, wanted, hold_after, blended_steps = case
    found, lines = search_run(root, program, os.path.join(folder, name + "_search"), options, steps, frames, wanted,
                              hold_after)
    if found is None or found + hold_after not in lines:
        return [f"no frame up to {frames - hold_after} shows the wanted state"]
    frame = found + hold_after
    if not wanted(lines[frame]):
        return [f"frame {frame} no longer shows the wanted state"]
    # Under the game-over banner the back buffer keeps the last stage frame: the one whose logic ended the player.
    drawn = lines[found] if name == "game_over" else lines[frame]
    compose = stage_screens.game_over_frame if name == "game_over" else stage_screens.stage_frame
    screens = [compose(content, drawn, shift) for shift in stage_screens.icon_shifts(drawn)]
    held, failures = held_failures(root, program, os.path.join(folder, name), options, steps, frame, screens, drawn,
                                   content, blended_steps)
    # The same input gives the same state on either screen; only the engine's graph count may differ.
    differing = [key for key in lines[frame] if key != "graphs" and held.get(key) != lines[frame][key]]
    return failures + ([f"the held run differs from the first in {differing}"] if differing else [])


def main():
    program, folder, root, content_folder = sys.argv[1:5]
    os.environ["QV_RUN_TIMEOUT"] = str(HOLD_SECONDS)
    content = stage_screens.StageContent(content_folder, root)
    only = set(sys.argv[5:])
    failed = []
    for case in CASES:
        if only and case[0] not in only:
            continue
        failures = check_case(root, program, folder, content, case)
        print(f"{case[0]}: " + ("as the rules draw it" if not failures else "\n  ".join(["differs:"] + failures)))
        if failures:
            failed.append(case[0])
    assert not failed, f"stage screens not as drawn by the rules: {failed}"


if __name__ == "__main__":
    main()
