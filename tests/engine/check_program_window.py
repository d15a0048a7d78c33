#!/usr/bin/env python3
"""Runs the program under the harness: its window must have a 640x480 client area centred on the display showing
the banner picture from its resources, a second copy started meanwhile must be refused and end while the first
carries on (it does not wait for the first), and Escape must end the first with exit code 0 and a complete log.
Usage: check_program_window.py PROGRAM RUN_FOLDER SOURCE_ROOT"""
import math
import os
import subprocess
import sys
import time


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def wait_for_window(name, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        found = subprocess.run(["xdotool", "search", "--name", f"^{name}$"], capture_output=True, text=True)
        if found.returncode == 0 and found.stdout.split():
            return found.stdout.split()[0]
        time.sleep(0.2)
    raise AssertionError(f"no window named {name} appeared")


def geometry(window):
    values = {}
    for line in run("xwininfo", "-id", window).splitlines():
        line = line.strip()
        for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"):
            if line.startswith(key + ":"):
                values[key] = int(line.split(":")[1])
    return (values["Absolute upper-left X"], values["Absolute upper-left Y"], values["Width"], values["Height"])


def screenshot(root, path):
    subprocess.run([os.path.join(root, "scripts", "harness-shot"), path], check=True)
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    size = run("identify", "-format", "%w %h", path).split()
    return int(size[0]), int(size[1]), raw


def is_black(image, x, y):
    width, _, raw = image
    offset = (y * width + x) * 3
    return raw[offset] < 16 and raw[offset + 1] < 16 and raw[offset + 2] < 16


def client_area(image, left, top, width, height):
    """The client area inside the painted frame: the demo's test card has a black border, found along the window's
    middle lines and checked all round."""
    middle_y, middle_x = top + height // 2, left + width // 2
    x0 = next(x for x in range(left, left + width) if is_black(image, x, middle_y))
    x1 = next(x for x in range(left + width - 1, left, -1) if is_black(image, x, middle_y))
    y0 = next(y for y in range(top, top + height) if is_black(image, middle_x, y))
    y1 = next(y for y in range(top + height - 1, top, -1) if is_black(image, middle_x, y))
    for x in range(x0, x1 + 1, 7):
        assert is_black(image, x, y0) and is_black(image, x, y1), f"no black border at column {x}"
    for y in range(y0, y1 + 1, 7):
        assert is_black(image, x0, y) and is_black(image, x1, y), f"no black border at row {y}"
    assert not is_black(image, x0 - 1, middle_y) and not is_black(image, middle_x, y0 - 1), "no frame around it"
    return x0, y0, x1 - x0 + 1, y1 - y0 + 1


def check_banner(image, client):
    """The banner picture loaded from the program's resources shows at (360, 200) of the client area, its pixels
    following the formula it was made from."""
    width, _, raw = image
    for i, j in ((0, 0), (120, 31), (239, 63), (45, 20), (200, 50)):
        offset = ((client[1] + 200 + j) * width + client[0] + 360 + i) * 3
        expected = (0.2 + 0.8 * i / 239, 0.2 + 0.8 * j / 63, 0.6 + 0.4 * math.sin(i / 9) * math.cos(j / 7))
        for channel in range(3):
            assert abs(raw[offset + channel] - round(expected[channel] * 255)) <= 6, \
                f"banner pixel ({i}, {j}) is {tuple(raw[offset:offset + 3])}"


def check_client_shows_banner(root, folder, frame):
    """A loaded machine may show the window some frames before the program has drawn into it: screenshots are taken
    until the client area shows the banner, for at most thirty seconds; the last one's failure is reported."""
    deadline = time.time() + 30
    while True:
        try:
            image = screenshot(root, os.path.join(folder, "window.png"))
            client = client_area(image, *frame)
            assert client[2:] == (640, 480), f"client area {client[2]}x{client[3]}, not 640x480"
            check_banner(image, client)
            return client
        except (AssertionError, StopIteration):
            if time.time() > deadline:
                raise
            time.sleep(0.5)


def press_escape_until_exit(process, window):
    """Focuses the window and presses Escape until the process ends (a loaded machine may run a frame late and miss
    a short press); answers its exit code."""
    subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True)
    for _ in range(60):
        subprocess.run(["xdotool", "keydown", "Escape"], check=True)
        time.sleep(0.3)
        subprocess.run(["xdotool", "keyup", "Escape"], check=True)
        if process.poll() is not None:
            break
        time.sleep(0.2)
    return process.wait(timeout=30)


def read_log(folder):
    return open(os.path.join(folder, "Log.txt"), "rb").read().decode("cp932")


def main():
    program, folder, root = sys.argv[1:4]
    wine_run = os.path.join(root, "scripts", "wine-run")
    first_folder, second_folder = os.path.join(folder, "first"), os.path.join(folder, "second")
    for path in (first_folder, second_folder):
        os.makedirs(path, exist_ok=True)
        if os.path.exists(os.path.join(path, "Log.txt")):
            os.remove(os.path.join(path, "Log.txt"))
    first = subprocess.Popen([wine_run, program], cwd=first_folder)
    try:
        window = wait_for_window("QvGame", 30)
        time.sleep(1.0)
        left, top, width, height = geometry(window)
        screen_width, screen_height = [int(v) for v in run("xdotool", "getdisplaygeometry").split()]
        print(f"window {width}x{height} at {left},{top} on {screen_width}x{screen_height}")
        assert left == (screen_width - width) // 2 and top == (screen_height - height) // 2, "window not centred"
        client = check_client_shows_banner(root, folder, (left, top, width, height))
        print(f"client area {client[2]}x{client[3]} at {client[0]},{client[1]}")

        second = subprocess.run([wine_run, program], cwd=second_folder, timeout=120)
        print(f"second copy ended with {second.returncode}")
        assert second.returncode == 1, "the second copy was not refused"
        second_log = read_log(second_folder)
        assert "ソフトの二重起動検査... 二重起動されています、ソフトを終了します\r\n" in second_log, second_log
        assert "ウインドウの作成に成功しました" not in second_log
        assert second_log.rstrip("\r\n").split("\r\n")[-2].endswith("Alloc num:0"), "the refused copy left memory behind"

        assert first.poll() is None, "the first copy did not carry on"
        assert window == wait_for_window("QvGame", 30), "the first copy lost its window"
        assert press_escape_until_exit(first, window) == 0, "Escape did not end the program with 0"
    finally:
        if first.poll() is None:
            first.kill()
    first_log = read_log(first_folder)
    lines = first_log.rstrip("\r\n").split("\r\n")
    assert lines[-2].endswith("\tTotal size:0(0.000kb)  Alloc num:0"), lines[-3:]
    print("window, refusal of a second copy and Escape all as expected")


if __name__ == "__main__":
    main()
