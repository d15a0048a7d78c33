"""What the game's end-to-end checks share: reading the generated content (PNG and WAV, standard library only),
running the test build under the Wine harness in a folder of its own (input file, dump, held frames), finding its
window (through tests/harness/harness_window.py, which every check's window and keys go through) and client area
on the display, and the screenshot in the screen's 16-bit format. Runs on the build machine inside
scripts/harness.sh; one check at a time holds the display."""
import os
import re
import struct
import subprocess
import sys
import time
import wave
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness_window import (GAME_WINDOW_TITLE, display_mode_kept, display_size, end_program,  # noqa: E402,F401
                            focus_window, num_lock_off, press_escape_until_exit, wait_for_window, window_geometry,
                            xdotool)

SCREEN_WIDTH, SCREEN_HEIGHT = 640, 480

# Pad bits of the input file: directions and buttons 1 (Z) and 2 (X).
DOWN, UP, BUTTON1, BUTTON2 = 0x01, 0x08, 0x10, 0x20


class Image:
    """An 8-bit RGB picture, rows top to bottom, three bytes a pixel."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        offset = (y * self.width + x) * 3
        return self.rgb[offset], self.rgb[offset + 1], self.rgb[offset + 2]


def _unfilter(raw, width, height):
    stride, rows, prior = width * 3, [], bytearray(width * 3)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        if kind == 1:
            for i in range(3, stride):
                line[i] = (line[i] + line[i - 3]) & 255
        elif kind == 2:
            line = bytearray((a + b) & 255 for a, b in zip(line, prior))
        elif kind == 3:
            for i in range(stride):
                line[i] = (line[i] + (((line[i - 3] if i >= 3 else 0) + prior[i]) >> 1)) & 255
        elif kind == 4:
            for i in range(stride):
                a, b, c = (line[i - 3], prior[i], prior[i - 3]) if i >= 3 else (0, prior[i], 0)
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        else:
            assert kind == 0, f"PNG filter {kind}"
        rows.append(bytes(line))
        prior = line
    return b"".join(rows)


def read_png(path):
    """An 8-bit RGB, non-interlaced PNG as the generator writes it."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is no PNG"
    position, compressed = 8, []
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        position += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert (depth, colour, interlace) == (8, 2, 0), f"{path}: depth {depth}, colour type {colour}"
        elif kind == b"IDAT":
            compressed.append(body)
    return Image(width, height, _unfilter(zlib.decompress(b"".join(compressed)), width, height))


def read_wav_mono(path):
    """A 16-bit PCM WAV as (rate, samples) with the channels averaged."""
    with wave.open(path) as w:
        assert w.getsampwidth() == 2, f"{path}: {8 * w.getsampwidth()}-bit"
        rate, channels, frames = w.getframerate(), w.getnchannels(), w.readframes(w.getnframes())
    values = struct.unpack("<%dh" % (len(frames) // 2), frames)
    if channels == 1:
        return rate, list(values)
    return rate, [sum(values[i:i + channels]) / channels for i in range(0, len(values), channels)]


def cell(sheet, index, size=32):
    """Cell `index` of a sheet of `size` squares, row by row: a list of rows of (r, g, b)."""
    per_row = sheet.width // size
    left, top = (index % per_row) * size, (index // per_row) * size
    return [[sheet.pixel(left + x, top + y) for x in range(size)] for y in range(size)]


# ---------------------------------------------------------------------------------------------------------------
# Running the test build.

def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def input_file(steps):
    """The input file's text for [(pad bits, frames), ...]."""
    return "".join(f"{bits:x}*{frames}\n" for bits, frames in steps if frames)


def input_frames(text):
    """The frames an input file's text gives: one a line, "*N" repeating it, "#" starting a comment."""
    total = 0
    for line in text.splitlines():
        line = line.split("#")[0].strip()
        if line:
            total += int(line.split("*")[1]) if "*" in line else 1
    return total


def drawn_from(frame):
    """The test build's option that leaves out the stage pictures, and their flips, of the frames before `frame`:
    a run whose check reads only the dump, or looks at one late frame, need not draw the thousands before it (under
    Wine, drawing is most of a frame's cost). The state does not depend on the pictures."""
    return ["--draw-from", str(max(1, frame))]


# No stage picture in the whole run: for the runs whose checks read only the dump.
NO_STAGE_PICTURES = drawn_from(10 ** 9)


def make_unwritable(path):
    """Takes the write permission away, and sets the immutable flag: the harness runs as root, for whom Wine's
    server opens a file for writing whatever its permission says, but not an immutable one."""
    os.chmod(path, 0o444)
    if subprocess.run(["chattr", "+i", path], capture_output=True).returncode:
        print(f"{path}: no immutable flag here, only the permission is taken")


class GameRun:
    """One run of the test build in `folder` (emptied first, then given `files`: name -> bytes, those named in
    `read_only` made unwritable). Options name their files relative to the folder; --dir and --multi are always
    given, --dump into dump.txt and --hash into hash.txt; `steps` make the input file and turn pacing off; with
    `console` the program's standard output and error go to console.txt (read by console()). Used in a `with`
    statement, which ends a run still going."""

    def __init__(self, root, program, folder, options=(), files=None, steps=None, read_only=(), console=False):
        os.makedirs(folder, exist_ok=True)
        for name in os.listdir(folder):
            path = os.path.join(folder, name)
            subprocess.run(["chattr", "-i", path], capture_output=True)
            os.remove(path)
        for name, data in (files or {}).items():
            path = os.path.join(folder, name)
            open(path, "wb").write(data)
            if name in read_only:
                make_unwritable(path)
        self.read_only = [os.path.join(folder, name) for name in read_only]
        arguments = [os.path.join(root, "scripts", "wine-run"), program, "--dir", wine_path(folder), "--multi",
                     "--dump", wine_path(os.path.join(folder, "dump.txt")),
                     "--hash", wine_path(os.path.join(folder, "hash.txt"))]
        if steps is not None:
            open(os.path.join(folder, "input.txt"), "w").write(input_file(steps))
            arguments += ["--input", wine_path(os.path.join(folder, "input.txt")), "--no-pacing"]
        self.root, self.folder = root, folder
        output = open(os.path.join(folder, "console.txt"), "wb") if console else None
        try:
            self.process = subprocess.Popen(arguments + list(options), cwd=folder, stdout=output, stderr=output)
        finally:
            if output:
                output.close()

    def path(self, name):
        return os.path.join(self.folder, name)

    def wait_held(self, seconds=120):
        """Waits until the program holds its stopped frame on screen; answers that frame's dump line."""
        deadline = time.time() + seconds
        while not (os.path.exists(self.path("held")) and open(self.path("held")).read().endswith("\n")):
            assert self.process.poll() is None, f"the game ended ({self.process.returncode}) before holding a frame"
            assert time.time() < deadline, "the game did not hold its frame"
            time.sleep(0.1)
        frame = open(self.path("held")).read().split()[0]
        while True:
            lines = [line for line in self.dump() if line["frame"] == frame]
            if lines:
                return lines[-1]
            assert time.time() < deadline, f"frame {frame} is held but not in the dump"
            time.sleep(0.1)

    def release(self):
        open(self.path("release"), "w").close()

    def finish(self, seconds=120):
        """Waits for the end of the run; answers its exit code. The run must have left the display at the harness's
        mode."""
        code = self.process.wait(timeout=seconds)
        display_mode_kept(f"{self.folder}: the run")
        return code

    def __enter__(self):
        return self

    def __exit__(self, *_):
        """A run a failed check leaves going is ended; the folder is left removable."""
        end_program(self.process)
        for path in self.read_only:
            subprocess.run(["chattr", "-i", path], capture_output=True)

    def dump(self):
        """The dump's whole lines (a running game may be writing the next), each a dict of its key=value fields."""
        try:
            text = open(self.path("dump.txt"), encoding="ascii").read().rpartition("\n")[0]
        except FileNotFoundError:
            return []
        return [dict(field.split("=", 1) for field in line.split()) for line in text.splitlines() if line.strip()]

    def console(self):
        """What the program wrote to its standard output and error (a run started with `console`)."""
        return open(self.path("console.txt"), "rb").read().decode("utf-8", "replace")

    def log_lines(self):
        return open(self.path("Log.txt"), "rb").read().decode("cp932").rstrip("\r\n").split("\r\n")


# What the decoding libraries' default message functions print: libpng's "libpng error: ..." and "libpng warning:
# ...", libjpeg's texts ("Not a JPEG file: starts with 0x89 0x50", "Premature end of JPEG file", "Empty input
# file", ...). The loaders install quiet ones: the dispatcher offers every picture to both libraries.
LIBRARY_MESSAGE = re.compile(r"libpng (error|warning)|JPEG|Empty input file")


def library_messages(run):
    """The lines of a run's console output (a run started with `console`) that the image libraries printed."""
    return [line for line in run.console().splitlines() if LIBRARY_MESSAGE.search(line)]


def shut_down_cleanly(run):
    """The engine's shut-down is in "Log.txt": ready to end, then at its end the allocation dump with nothing left."""
    lines = run.log_lines()
    assert any(line.endswith("ソフトを終了する準備が整いました") for line in lines), "no shut-down in the log"
    assert lines[-2].endswith("\tTotal size:0(0.000kb)  Alloc num:0"), f"the log ends {lines[-3:]}"


# ---------------------------------------------------------------------------------------------------------------
# The window on the display.

def find_window(seconds=60):
    return wait_for_window(GAME_WINDOW_TITLE, seconds)


def client_origin(window):
    """The client area's top-left corner on the display: the frame's borders are equal left, right and below, the
    caption above; a full-screen window has none of them."""
    left, top, width, height = window_geometry(window)
    border = (width - SCREEN_WIDTH) // 2
    return left + border, top + height - SCREEN_HEIGHT - border


def screenshot_client(run, name):
    """The client area of the game's window, from a screenshot of the display, in the screen's 16-bit format:
    a list of rows of (r5, g6, b5)."""
    left, top = client_origin(find_window())
    path = run.path(name)
    subprocess.run([os.path.join(run.root, "scripts", "harness-shot"), path], check=True)
    raw = subprocess.run(["convert", path, "-crop", f"{SCREEN_WIDTH}x{SCREEN_HEIGHT}+{left}+{top}", "+repage",
                          "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    assert len(raw) == SCREEN_WIDTH * SCREEN_HEIGHT * 3, "the client area is not on the display"
    return [[to_565(raw[o:o + 3]) for o in range(y * SCREEN_WIDTH * 3, (y + 1) * SCREEN_WIDTH * 3, 3)]
            for y in range(SCREEN_HEIGHT)]


def judge_held_frame(root, program, folder, options, frame, judge, seconds=120, **run_options):
    """Runs to `frame` (waiting at most `seconds`) and holds it; `judge` answers the failures of a screenshot of
    the client area. A loaded machine may show the picture late, so screenshots are taken until one passes, for at
    most twenty seconds. Lets the run end; answers the held frame's dump line and the last failures."""
    with GameRun(root, program, folder, options + ["--stop-at", str(frame), "--frames", str(frame + 3)],
                 **run_options) as run:
        line = run.wait_held(seconds)
        deadline = time.time() + 20
        while True:
            failures = judge(screenshot_client(run, "shot.png"))
            if not failures or time.time() > deadline:
                break
            time.sleep(0.5)
        run.release()
        code = run.finish()
    assert code == 0, f"{folder}: the run ended with {code}"
    return line, failures


def to_565(rgb):
    """An 8-bit colour (values may be fractions) truncated to the 16-bit screen format."""
    return int(rgb[0]) >> 3, int(rgb[1]) >> 2, int(rgb[2]) >> 3


def steps_apart(a, b):
    return max(abs(a[0] - b[0]), abs(a[1] - b[1]), abs(a[2] - b[2]))
