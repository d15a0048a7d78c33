"""Stage play's pictures as the drawing rules make them, pixel by pixel, from the generated sheets (sprites
"png_102.png", tiles "png_103.png"), the stage's maps and animation rows as written in content/stages, and the
state the test build dumped for the frame: both scenery layers at the scroll position, every active object as its
block of cells (mirrored when it faces the other way, the knocked ones again on top), the player with the weapon,
the strike icon, and the heads-up display with its banners. Written from the rules alone: nothing of the game's
code is read. The pictures compare with screen_rules.compare."""
import os

from game_harness import SCREEN_HEIGHT, SCREEN_WIDTH, cell, read_png, to_565
from screen_rules import Screen

CELL = 32
SHEET_ROW = 20  # cells in a sheet row: the cell below cell n is cell n + 20
SPRITE_CELLS = 280
GONE = 127
KNOCKED = (8, 9, 10, 17, 18, 19)
WEAPON_ROW = 5
STRIKE_ICON = 2
DIGITS_X = 128
GAUGE_CELLS = 42
# The difficulty label's cells and their x, by difficulty (y 0).
DIFFICULTY_LABELS = [[(100, 576), (101, 608)], [(102, 544), (103, 576), (104, 608)], [(105, 576), (106, 608)],
                     [(107, 544), (108, 576), (109, 608)]]
# Where the caption's text may show: "STAGE n" at (264, 160) in the caption font, above the caption cells.
CAPTION_TEXT_BOX = (262, 158, 420, 192)


def read_numbered_rows(lines):
    """The numbered rows of a section: number -> the words after it (comments dropped)."""
    rows = {}
    for line in lines:
        words = line.split("#", 1)[0].split()
        if words and words[0].isdigit():
            rows[int(words[0])] = words[1:]
    return rows


def sections(path):
    """A content text file cut at its section names (a line of one lower-case word): name -> its lines."""
    found, name = {}, None
    for line in open(path, encoding="utf-8"):
        words = line.split("#", 1)[0].split()
        if len(words) in (1, 2) and words[0].isalpha() and words[0].islower():
            name = words[0]
            found[name] = []
        elif name is not None:
            found[name].append(line)
    return found


def animation_cells(words):
    """An animation row's five cells: those listed after "cells", then 0; "empty" is all 0."""
    cells = [int(w) for w in words[words.index("cells") + 1:]] if "cells" in words else []
    return (cells + [0] * 5)[:5]


def parse_objects(text):
    """The dump's objects field: index:type:state:anim:frame:x:y:w:h:hp;... as dicts."""
    keys = ("index", "type", "state", "anim", "frame", "x", "y", "w", "h", "hp")
    return [dict(zip(keys, (int(v) for v in item.split(":")))) for item in text.split(";") if item]


def mirrored(pixels):
    return [row[::-1] for row in pixels]


def turned(pixels):
    """A square cell turned a quarter turn so that its top edge becomes its left edge."""
    size = len(pixels)
    return [[pixels[i][size - 1 - j] for i in range(size)] for j in range(size)]


class StageContent:
    """The sheets, maps and animation rows the pictures are made of, read once."""

    def __init__(self, content_folder, source_root):
        self.sprites = read_png(os.path.join(content_folder, "png_102.png"))
        self.tiles = read_png(os.path.join(content_folder, "png_103.png"))
        stages = os.path.join(source_root, "content", "stages")
        animations = sections(os.path.join(stages, "animations.txt"))
        self.player_rows = {n: animation_cells(w) for n, w in read_numbered_rows(animations["player"]).items()}
        self.object_rows = {n: animation_cells(w) for n, w in read_numbered_rows(animations["objects"]).items()}
        self.maps = []
        for stage in range(6):
            parts = sections(os.path.join(stages, f"stage{stage}.txt"))
            self.maps.append(tuple([[int(v) for v in row[1]] for row in sorted(read_numbered_rows(parts[name])
                                                                                     .items())]
                                   for name in ("background", "foreground")))
        self._cells = {}

    def sprite(self, index):
        return self._cell("sprite", self.sprites, index)

    def tile(self, index):
        return self._cell("tile", self.tiles, index)

    def _cell(self, kind, sheet, index):
        if (kind, index) not in self._cells:
            self._cells[kind, index] = cell(sheet, index, CELL)
        return self._cells[kind, index]


class StageScreen(Screen):
    """The expected picture with the drawing calls of stage play, clipped to the screen."""

    def __init__(self):
        super().__init__(lambda x, y: (0, 0, 0))

    def draw(self, pixels, left, top, keyed=True, half=False):
        """A cell with its transparency (black keyed) or opaque; `half` blends it at half over the picture."""
        for y, row in enumerate(pixels):
            py = top + y
            if not 0 <= py < SCREEN_HEIGHT:
                continue
            for x, value in enumerate(row):
                px = left + x
                if not 0 <= px < SCREEN_WIDTH or keyed and to_565(value) == (0, 0, 0):
                    continue
                if half:
                    self.blend_half(px, py, value)
                else:
                    self.colour[py][px] = value


def draw_layers(screen, content, stage, scroll_x):
    background, foreground = content.maps[stage]
    for layer, keyed in ((background, False), (foreground, True)):
        for r in range(15):
            for c in range(21):
                tile = layer[r][scroll_x // CELL + c]
                if keyed and tile == 0:
                    continue
                screen.draw(content.tile(tile), CELL * c - scroll_x % CELL, CELL * r, keyed)


def draw_block(screen, content, first, record):
    """An object's h/32 rows and w/32 columns of cells from `first`, mirrored as a whole from state 11 on; a cell
    outside the sheet draws nothing."""
    rows, columns, mirror = record["h"] // CELL, record["w"] // CELL, record["state"] > 10
    for r in range(rows):
        for c in range(columns):
            index = first + SHEET_ROW * r + (columns - 1 - c if mirror else c)
            if 0 <= index < SPRITE_CELLS:
                pixels = content.sprite(index)
                screen.draw(mirrored(pixels) if mirror else pixels, record["x"] + CELL * c, record["y"] + CELL * r)


def draw_objects(screen, content, objects):
    live = [o for o in objects if o["state"] != GONE]
    for record in live + [o for o in live if o["state"] in KNOCKED]:
        draw_block(screen, content, content.object_rows[record["anim"]][record["frame"]], record)


def draw_player(screen, content, line, icon_shift):
    half = line["InvulnerableFlag"] == 1
    x, y, facing, frame = line["PlayerX"], line["PlayerY"], line["PlayerFacing"], line["PlayerAnimFrame"]
    flip = mirrored if facing == 1 else (lambda pixels: pixels)
    screen.draw(flip(content.sprite(content.player_rows[line["PlayerAnimRow"]][frame])), x, y, half=half)
    if line["PlayerAttacking"] == 1 and line["PlayerHP"] > 0 and line["PlayerHurt"] != 1:
        weapon = content.player_rows[WEAPON_ROW][frame]
        if 0 <= weapon < SPRITE_CELLS:
            screen.draw(flip(content.sprite(weapon)), x - CELL if facing == 1 else x + CELL, y, half=half)
    icon = content.sprite(STRIKE_ICON)
    if line["StrikeMode"] == 0:
        screen.draw(flip(icon), x, y - 48, half=half)
    else:
        # Centred on (x + 16, y - 32): the turned cell's box, moved by the one pixel the turn may lie off.
        screen.draw(turned(icon), x + icon_shift[0], y - 48 + icon_shift[1], half=half)


def draw_digits(screen, content, value, y):
    for k, digit in enumerate(f"{value:07d}"):
        screen.draw(content.tile(10 + int(digit)), DIGITS_X + 16 * k, y)


def draw_gauge_frame(screen, content, left_cell, y):
    screen.draw(content.tile(left_cell), 254, y)
    screen.draw(content.tile(51), 272, y)
    screen.draw(content.tile(53), 624, y)
    for x in range(288, 609, 16):
        screen.draw(content.tile(52), x, y)


def draw_gauge(screen, content, tile, points, y):
    for k in range(min(max(points, 0), GAUGE_CELLS)):
        screen.draw(content.tile(tile), 288 + 8 * k, y)


def draw_heads_up(screen, content, line):
    tile = content.tile
    for i, cell_index in enumerate((36, 37, 38, 39)):
        screen.draw(tile(cell_index), 16 + 32 * i, 16)
    draw_digits(screen, content, line["HighScore"], 16)
    for i, cell_index in enumerate((37, 38, 39)):
        screen.draw(tile(cell_index), 48 + 32 * i, 32)
    draw_digits(screen, content, line["Score"], 32)
    screen.draw(tile(44), 64, 48)
    screen.draw(tile(45), 96, 48)
    draw_digits(screen, content, line["ExtraLifeThreshold"], 48)
    draw_gauge_frame(screen, content, 56, 16)
    draw_gauge(screen, content, 54, line["PlayerHP"], 16)
    for i in range(line["Lives"] - 1):
        screen.draw(tile(43), 608 - 16 * i, 48)
    draw_gauge_frame(screen, content, 57, 32)
    draw_gauge(screen, content, 55, line["BossHealthDisplay"], 32)
    if line["ClearState"] > 0:
        for i in range(11):
            screen.draw(tile(20 + i), 160 + 32 * i, 192, keyed=False)
    if line["IntroState"] > 0:
        screen.text_boxes.append(CAPTION_TEXT_BOX)
        for i in range(5):
            screen.draw(tile(31 + i), line["IntroX"] + 32 * i, line["IntroY"], keyed=False)
    if line["PauseFlag"] > 0:
        for i in range(3):
            screen.draw(tile(40 + i), 272 + 32 * i, 192)
    difficulty = line["DifficultyIndex"]
    for cell_index, x in DIFFICULTY_LABELS[difficulty] if 0 <= difficulty < 4 else []:
        screen.draw(tile(cell_index), x, 0)


def numbers(line):
    """A dump line's fields as numbers where they are single numbers; the objects parsed."""
    values = {key: int(value) for key, value in line.items() if value.lstrip("-").isdigit()}
    values["objects"] = parse_objects(line.get("objects", ""))
    return values


def stage_frame(content, line, icon_shift=(0, 0)):
    """The stage frame of a dump line (dict of its fields, as GameRun.dump gives them)."""
    values = numbers(line)
    screen = StageScreen()
    draw_layers(screen, content, values["StageIndex"], values["ScrollX"])
    draw_objects(screen, content, values["objects"])
    draw_player(screen, content, values, icon_shift)
    draw_heads_up(screen, content, values)
    return screen


def icon_shifts(line):
    """The places the strike icon may take: its own, or with the turned icon also a pixel off each way."""
    return [(0, 0)] if line["StrikeMode"] == "0" else [(0, 0), (-1, 0), (1, 0), (0, -1), (0, 1)]


def game_over_frame(content, last_stage_line, icon_shift=(0, 0)):
    """The game-over banner over the last stage frame, which the back buffer keeps."""
    screen = stage_frame(content, last_stage_line, icon_shift)
    for i in range(10):
        screen.draw(content.tile(i), 160 + 32 * i, 224, keyed=False)
    return screen
