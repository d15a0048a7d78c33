#!/usr/bin/env python3
"""Runs the game under the harness: its window, titled with the game's name, must be centred on the display and show
the title picture from its resources, a second copy started meanwhile must be refused at once with -1 (status 255)
while the first carries on, and Escape must end the first with exit code 0 and a complete log.
Usage: check_program_window.py PROGRAM RUN_FOLDER SOURCE_ROOT TITLE_PICTURE"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness_window import (GAME_WINDOW_TITLE, display_mode_kept, display_size, end_program,  # noqa: E402
                            press_escape_until_exit, wait_for_window, window_geometry)

WINDOW_MODE_SET = "ウインドウスタイルをウインドウモード用に変更します... 完了\r\n".encode("cp932")


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def placed_frame(window, folder, seconds=30):
    """The window's frame once start-up has placed it: the window is shown before start-up gives it the window
    mode's style and place (its log line tells when), and X may carry out the move a little later, so the frame is
    read until it is centred on the display, for at most `seconds`."""
    deadline = time.time() + seconds
    while True:
        left, top, width, height = frame = window_geometry(window)
        screen_width, screen_height = display_size()
        try:
            placed = WINDOW_MODE_SET in open(os.path.join(folder, "Log.txt"), "rb").read()
        except FileNotFoundError:
            placed = False
        centred = left == (screen_width - width) // 2 and top == (screen_height - height) // 2
        if placed and centred or time.time() > deadline:
            print(f"window {width}x{height} at {left},{top} on {screen_width}x{screen_height}")
            assert placed, "start-up never gave the window the window mode's style"
            assert centred, "window not centred"
            return frame
        time.sleep(0.2)


def load_picture(path):
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    size = run("identify", "-format", "%w %h", path).split()
    return int(size[0]), int(size[1]), raw


def screenshot(root, path):
    subprocess.run([os.path.join(root, "scripts", "harness-shot"), path], check=True)
    return load_picture(path)


def pixel(image, x, y):
    width, _, raw = image
    offset = (y * width + x) * 3
    return raw[offset:offset + 3]


def matches(shot, x, y, picture, px, py):
    """Within the 16-bit screen format's steps of the picture's pixel."""
    return all(abs(a - b) <= 8 for a, b in zip(pixel(shot, x, y), pixel(picture, px, py)))


# Points of the title picture that nothing is drawn over: below the high-score row, above and beside the menu
# window, and the picture's right column.
PICTURE_POINTS = [(x, y) for x in range(150, 640, 41) for y in range(40, 300, 23)] + [(639, y) for y in (40, 300)]


def find_client(shot, picture, frame):
    """The client area's origin: the offset inside the window's frame at which the screen shows the title picture
    ("CG" 110 of the program's resources) at every point; the column just right of it is no longer the picture."""
    left, top, _, _ = frame
    for dy in range(0, 48):
        for dx in range(0, 16):
            x0, y0 = left + dx, top + dy
            if all(matches(shot, x0 + x, y0 + y, picture, x, y) for x, y in PICTURE_POINTS) and \
                    not matches(shot, x0 + 642, y0 + 300, picture, 639, 300):
                return x0, y0
    raise AssertionError("the window does not show the title picture")


def check_client_shows_title(root, folder, frame, picture_path):
    """A loaded machine may show the window some frames before the program has drawn into it: screenshots are taken
    until the window shows the title picture, for at most thirty seconds; the last one's failure is reported."""
    picture = load_picture(picture_path)
    deadline = time.time() + 30
    while True:
        try:
            return find_client(screenshot(root, os.path.join(folder, "window.png")), picture, frame)
        except AssertionError:
            if time.time() > deadline:
                raise
            time.sleep(0.5)


def read_log(folder):
    return open(os.path.join(folder, "Log.txt"), "rb").read().decode("cp932")


def main():
    program, folder, root, picture_path = sys.argv[1:5]
    wine_run = os.path.join(root, "scripts", "wine-run")
    first_folder, second_folder = os.path.join(folder, "first"), os.path.join(folder, "second")
    for path in (first_folder, second_folder):
        os.makedirs(path, exist_ok=True)
        if os.path.exists(os.path.join(path, "Log.txt")):
            os.remove(os.path.join(path, "Log.txt"))
    first = subprocess.Popen([wine_run, program], cwd=first_folder)
    try:
        window = wait_for_window(GAME_WINDOW_TITLE, 30)
        client = check_client_shows_title(root, folder, placed_frame(window, first_folder), picture_path)
        print(f"title picture shown at {client[0]},{client[1]}")

        second = subprocess.run([wine_run, program], cwd=second_folder, timeout=120)
        print(f"second copy ended with {second.returncode}")
        assert second.returncode == 255, "the second copy was not refused"
        second_log = read_log(second_folder)
        assert "ソフトの二重起動検査... 二重起動されています、ソフトを終了します\r\n" in second_log, second_log
        assert "ウインドウの作成に成功しました" not in second_log
        assert second_log.rstrip("\r\n").split("\r\n")[-2].endswith("Alloc num:0"), "the refused copy left memory behind"

        assert first.poll() is None, "the first copy did not carry on"
        assert window == wait_for_window(GAME_WINDOW_TITLE, 30), "the first copy lost its window"
        assert press_escape_until_exit(first, window) == 0, "Escape did not end the program with 0"
        display_mode_kept("the program")
    finally:
        end_program(first)
    first_log = read_log(first_folder)
    lines = first_log.rstrip("\r\n").split("\r\n")
    assert lines[-2].endswith("\tTotal size:0(0.000kb)  Alloc num:0"), lines[-3:]
    print("window, refusal of a second copy and Escape all as expected")


if __name__ == "__main__":
    main()
