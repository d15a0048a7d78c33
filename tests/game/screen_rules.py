"""The title side's pictures as the drawing rules make them, pixel by pixel, from the generated content: the title
picture, the high-score label and digits drawn keyed (black is transparent), the half-transparent framed window, the
cursor triangle, the places where text may show, the gallery and the story events' pages (with the page walk of
an event script). A screenshot's client area is compared with it in the screen's 16-bit format, one step allowed
per blend."""
from game_harness import SCREEN_HEIGHT, SCREEN_WIDTH, cell, steps_apart, to_565

WHITE = (255, 255, 255)
WINDOW = (234, 310, 192, 118)  # the menu window: x, y, width, height
# The menus' items at x 270, by their lengths in full-width characters: START .. QUIT, EASY .. LUNATIC.
TITLE_ITEMS = [5, 8, 7, 6, 4]
DIFFICULTY_ITEMS = [4, 6, 4, 7]
ESCAPE_LINE = (0, 460, 8)  # x, y, characters
# A full-width character's width (16 pixels apart, its glyph may reach a pixel further) and a text line's height.
CHARACTER, LINE = 17, 18


def text_box(x, y, characters):
    return (x, y, x + CHARACTER * characters + 2, y + LINE)


class Screen:
    """The expected picture: an 8-bit colour and a blend count per pixel, boxes where text must show (each needs
    text pixels; elsewhere none may), and the cursor's box (filled white inside the triangle, as expected outside)."""

    def __init__(self, colour):
        self.colour = [[colour(x, y) for x in range(SCREEN_WIDTH)] for y in range(SCREEN_HEIGHT)]
        self.blends = [[0] * SCREEN_WIDTH for _ in range(SCREEN_HEIGHT)]
        self.text_boxes, self.cursor_box = [], None

    def draw_keyed(self, pixels, left, top):
        for y, row in enumerate(pixels):
            for x, value in enumerate(row):
                if to_565(value) != (0, 0, 0):
                    self.colour[top + y][left + x] = value

    def blend_half(self, x, y, value):
        """`value` at half over the pixel (the rule's halves; the screen's 128 of 255 is within its step)."""
        old = self.colour[y][x]
        self.colour[y][x] = tuple((o + v) / 2 for o, v in zip(old, value))
        self.blends[y][x] += 1

    def draw_framed_window(self, x, y, width, height):
        right, bottom = x + width, y + height
        for py in range(y, bottom):
            for px in range(x, right):
                self.blend_half(px, py, WHITE)
                if x + 3 <= px < right - 3 and y + 3 <= py < bottom - 3:
                    self.blend_half(px, py, (0, 0, 0))
        for px, py in ((x, y), (right - 1, y), (x, bottom - 1), (right - 1, bottom - 1)):
            self.blend_half(px, py, (0, 0, 0))
        for px, py in ((x + 3, y + 3), (right - 4, y + 3), (x + 3, bottom - 4), (right - 4, bottom - 4)):
            self.blend_half(px, py, WHITE)


def title_side(picture, tiles, high_score, cursor, items, marks=()):
    """The title or difficulty menu (`items`: TITLE_ITEMS or DIFFICULTY_ITEMS) over the picture, with "済" beside
    the difficulties in `marks`."""
    screen = Screen(picture.pixel)
    for i in range(4):
        screen.draw_keyed(cell(tiles, 36 + i), 32 * i, 0)
    for k, digit in enumerate(f"{high_score:07d}"):
        screen.draw_keyed(cell(tiles, 10 + int(digit)), 112 + 16 * k, 0)
    screen.draw_framed_window(*WINDOW)
    screen.cursor_box = (255, 320 + 20 * cursor, 268, 337 + 20 * cursor)
    screen.text_boxes = [text_box(270, 320 + 20 * i, n) for i, n in enumerate(items)]
    screen.text_boxes += [text_box(400, 320 + 20 * d, 1) for d in marks]
    screen.text_boxes.append(text_box(*ESCAPE_LINE))
    return screen


def option_screen(cursor):
    screen = Screen(lambda x, y: (0, 0, 0))
    screen.text_boxes = [(0, 0, SCREEN_WIDTH, LINE), (0, 20, SCREEN_WIDTH, 20 + LINE),
                         (20, 40, SCREEN_WIDTH, 40 + LINE), (20, 60, SCREEN_WIDTH, 60 + LINE)]
    screen.cursor_box = (5, 40 + 20 * cursor, 18, 57 + 20 * cursor)
    return screen


# The gallery's help lines and choices: x, y and length in full-width characters.
GALLERY_TEXTS = [(0, 0, 18), (0, 20, 20), (0, 40, 21), (0, 60, 22), (50, 100, 4), (200, 100, 4)]
# Each stage's first event picture, as offsets from "CG" 110; the last entry ends stage 5's pictures.
EVENT_PICTURE_BASE = [1, 5, 11, 17, 25, 42, 47]
SCRIPT_MARKERS = ("@C", "@CG", "@CGR", "@BK", "@END")


def gallery_screen(thumbnails, furthest, text_off=0, cursor=None):
    """The gallery with the stages up to `furthest` cleared; `cursor`: (x, y) of the triangle, by default on row
    0 at the current choice."""
    screen = Screen(lambda x, y: (0, 0, 0))
    for k in range(6):
        index = k if k <= furthest else 9
        left, top = 95 + 158 * (k % 3), 140 + 126 * (k // 3)
        sheet_x, sheet_y = 128 * (index % 5), 96 * (index // 5)
        for y in range(96):
            for x in range(128):
                screen.colour[top + y][left + x] = thumbnails.pixel(sheet_x + x, sheet_y + y)
    screen.text_boxes = [text_box(*text) for text in GALLERY_TEXTS]
    x, y = cursor or (15 + 150 * text_off, 100)
    screen.cursor_box = (x, y, x + 13, y + 17)
    centre = 40 + 150 * text_off
    for py in range(108 - 10, 108 + 11):
        for px in range(centre - 10, centre + 11):
            distance = ((px - centre) ** 2 + (py - 108) ** 2) ** 0.5
            if distance <= 7:
                screen.colour[py][px] = WHITE
            elif distance < 9.5:
                screen.blends[py][px] = 99  # the disc's rim: either colour
    return screen


def event_screen(picture, lines):
    """An event page: `picture` (None: black) under the framed window with `lines` text lines; None lines: the
    window hidden."""
    screen = Screen(picture.pixel if picture is not None else (lambda x, y: (0, 0, 0)))
    if lines is not None:
        screen.draw_framed_window(80, 352, 480, 116)
        screen.text_boxes = [text_box(90, 362 + 20 * i, 28) for i in range(lines)]
    return screen


def script_pages(path):
    """The pages of an event script (UTF-8, "#" comments) in the walk turned by single presses, as (first entry,
    text lines, picture offset from the event's first picture or None for black). A page shows the picture its
    closing marker names; the first page shows the first picture, or black after a leading "@BK"."""
    entries = [line for line in open(path, encoding="utf-8").read().splitlines() if line and line[0] != "#"]
    start = 1 if entries[0] == "@BK" else 0
    picture, black, pages = 0, start == 1, []
    while True:
        end = start
        while entries[end] not in SCRIPT_MARKERS:
            end += 1
        if pages:
            picture += (entries[end] == "@CG") - (entries[end] == "@CGR")
            black = entries[end] == "@BK"
        pages.append((start, entries[start:end], None if black else picture))
        if entries[end] == "@END" or entries[end + 1] == "@END":
            return pages
        start = end + 1


def inside(box, x, y):
    return box is not None and box[0] <= x < box[2] and box[1] <= y < box[3]


def compare(screen, shot, blended_steps=None):
    """Failures as lines (empty when the shot follows the rules): a pixel off by more than its blends allow (or
    than `blended_steps`, when given, wherever anything was blended), a text box without text, a cursor not
    filled."""
    failures, text_pixels, cursor_pixels = [], [0] * len(screen.text_boxes), 0
    for y in range(SCREEN_HEIGHT):
        colours, blends, row = screen.colour[y], screen.blends[y], shot[y]
        for x in range(SCREEN_WIDTH):
            allowed = blends[x] if blended_steps is None or not blends[x] else blended_steps
            expected = to_565(colours[x])
            if steps_apart(expected, row[x]) <= allowed:
                continue
            if inside(screen.cursor_box, x, y) and row[x] == (31, 63, 31):
                cursor_pixels += 1
                continue
            box = next((i for i, b in enumerate(screen.text_boxes) if inside(b, x, y)), None)
            if box is not None:
                text_pixels[box] += 1
            elif len(failures) < 12:
                failures.append(f"({x}, {y}) is {row[x]}, expected {expected} within {allowed}")
    failures += [f"no text in {box}" for box, count in zip(screen.text_boxes, text_pixels) if count < 8]
    if screen.cursor_box is not None and cursor_pixels < 48:
        failures.append(f"the cursor at {screen.cursor_box} has {cursor_pixels} white pixels")
    return failures
