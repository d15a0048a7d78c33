"""What the end-to-end checks of stage play share: the input that walks the title to a chosen difficulty, runs that
end once a dumped frame meets a condition, the dump's object list, the stage files' starting records, and the sound
effects that the rules of stage play call for between two dumped frames. Runs on the build machine inside
scripts/harness.sh."""
import itertools
import os
import signal
import time
from collections import Counter

from game_harness import BUTTON1, DOWN

LEFT, RIGHT = 0x02, 0x04

# Effects: hit, take-off, attack start, hit on a type-8 object, enemy attack move, weight dropped, extra life.
HIT, TAKE_OFF, ATTACK, HIT_TYPE_8, ENEMY_MOVE, DROP, EXTRA_LIFE = 300, 301, 302, 303, 304, 305, 307
STAGE_EFFECTS = {HIT, TAKE_OFF, ATTACK, HIT_TYPE_8, ENEMY_MOVE, DROP, EXTRA_LIFE}
HURT_OR_KNOCKED = {6, 7, 8, 9, 10, 15, 16, 17, 18, 19}


def to_difficulty(difficulty):
    """Input from the first frame: START on the title, then the difficulty item chosen; play begins two frames
    after the choice."""
    return [(0, 3), (BUTTON1, 1), (0, 1), (DOWN, difficulty), (0, 1), (BUTTON1, 1)]


def game_over(previous, line):
    """The frame in which the game over hands back to the title."""
    return previous is not None and previous["MainState"] == "0" and line["MainState"] == "10"


def run_until(run, stop, seconds=280, keys=None):
    """Reads the run's dump as it grows; once `stop`(previous line, line) holds, or the run ends by itself, the
    run is ended and the lines read so far are answered (the stopping line last), with only `keys` if given."""
    lines, previous, offset, deadline = [], None, 0, time.time() + seconds
    while True:
        ended = run.process.poll() is not None
        try:
            with open(run.path("dump.txt"), "rb") as dump:
                dump.seek(offset)
                text = dump.read()
        except FileNotFoundError:
            text = b""
        complete = text[:text.rfind(b"\n") + 1]
        offset += len(complete)
        for raw in complete.decode("ascii").splitlines():
            line = dict(field.split("=", 1) for field in raw.split())
            lines.append({key: line[key] for key in keys} if keys else line)
            if stop(previous, line):
                run.process.send_signal(signal.SIGTERM)
                run.finish()
                return lines
            previous = line
        if ended:
            return lines
        assert time.time() < deadline, f"{run.folder}: no stop after {len(lines)} frames"
        time.sleep(0.2)


def objects(line):
    """The dumped active records: index -> dict of type, state, anim, frame, x, y, w, h, hp."""
    found = {}
    for item in filter(None, line.get("objects", "").split(";")):
        values = [int(v) for v in item.split(":")]
        found[values[0]] = dict(zip(("type", "state", "anim", "frame", "x", "y", "w", "h", "hp"), values[1:]))
    return found


def stage_records(root, stage):
    """The starting records of content/stages/stageN.txt: index -> dict of their fields as numbers."""
    records, inside = {}, False
    for text in open(os.path.join(root, "content", "stages", f"stage{stage}.txt"), encoding="utf-8"):
        words = text.split("#")[0].split()
        if words[:1] == ["records"]:
            inside = True
        elif inside and words and words[0].isdigit():
            records[int(words[0])] = {k: int(v) for k, v in (w.split("=", 1) for w in words[1:])}
        elif inside and words:
            break
    return records


def in_stage_play(line):
    """A frame after this one runs stage play (no title side, miss screen or event)."""
    return line["MainState"] == "0" and line["MissState"] == "0" and line["EventState"] == "0"


def _launches(index, records):
    """The effect and cause of a child at `index` appearing, by the kind of record owning it (children follow their
    owner: type 12 its body at i + 1, type 10 its shots at i + 1 .. i + 3, types 11 and 15 a shot at i + 3), or
    None for a record whose appearing plays nothing."""
    def kind(offset):
        return records.get(index - offset, {}).get("type")

    if kind(1) == 12:
        return ENEMY_MOVE, "type 12 sends its body"
    if 10 in (kind(1), kind(2), kind(3)):
        return ENEMY_MOVE, "type 10 launches a shot"
    if kind(3) == 11:
        return ENEMY_MOVE, "type 11 drops a shot"
    if kind(3) == 15:
        return DROP, "type 15 drops its weight"
    return None


def _edge_shot_sounds(start, end, record):
    """A type-18 shot updated between two frames (moved, or removed by its own update) plays its edge sound: placed
    from y -128, or (moving every frame) at the top edge y -96, the left edge x -96 or the right edge x 640, on the
    way in or out."""
    updated = end is None or (start["x"], start["y"]) != (end["x"], end["y"])
    calm = start["state"] not in HURT_OR_KNOCKED and (end is None or end["state"] not in HURT_OR_KNOCKED)
    at_edge = record["period"] == 0 and (start["y"] == -96 or start["x"] in (-96, 640))
    return updated and calm and (start["y"] == -128 or at_edge)


def kill_score(value, difficulty):
    """A kill's score on a difficulty: halved on EASY, doubled on HARD, tripled on LUNATIC."""
    return {0: value // 2, 2: value * 2, 3: value * 3}.get(difficulty, value)


def expected_effects(before, after, records):
    """The stage effects the rules call for in the frame dumped as `after`, the frame before it dumped as `before`:
    a list of choices, each a list of (effect, cause). The choices differ only in the hits on objects that left in
    the frame of their hit (a flyer's chain carries them off at once): those whose kill scores make up the score
    that the hits still seen do not explain."""
    if not in_stage_play(before):
        return [[]]
    found = []
    for key, effect, cause in (("JumpRising", TAKE_OFF, "take-off"), ("PlayerAttacking", ATTACK, "attack start"),
                               ("PlayerHurt", HIT, "player hurt")):
        if before[key] == "0" and after[key] == "1":
            found.append((effect, cause))
    if after["MainState"] == "0" and int(after["Lives"]) > int(before["Lives"]):
        found.append((EXTRA_LIFE, "extra life"))
    old, new, difficulty = objects(before), objects(after), int(after["DifficultyIndex"])
    unexplained = int(after["Score"]) - int(before["Score"]) if after["ClearState"] == "0" else 0
    hit = lambda kind: (HIT_TYPE_8, "hit on type 8") if kind == 8 else (HIT, "hit")
    for index, end in new.items():
        start = old.get(index)
        if start is None:
            launch = _launches(index, records) if records[index]["state"] == 127 else None
            if launch:
                found.append(launch)
            start = dict(records[index], hp=end["hp"])  # first active frame: it starts from its template
        if end["hp"] < start["hp"] and end["state"] in HURT_OR_KNOCKED:
            found.append(hit(end["type"]))
            if end["hp"] <= 0:
                unexplained -= kill_score(records[index]["scoreValue"], difficulty)
        if end["type"] == 9 and start["state"] != 5 and end["state"] == 5:
            found.append((ENEMY_MOVE, "type 9 drops"))
        if end["type"] == 14 and start["state"] != 1 and end["state"] == 1:
            found.append((ENEMY_MOVE, "type 14 leaps"))
        if end["type"] == 18 and _edge_shot_sounds(start, end, records[index]):
            found.append((ENEMY_MOVE, "type 18 at an edge"))
    left = [(index, start) for index, start in old.items() if index not in new]
    found += [(ENEMY_MOVE, "type 18 at an edge") for index, start in left
              if start["type"] == 18 and _edge_shot_sounds(start, None, records[index])]
    hittable = [(index, start) for index, start in left
                if start["state"] not in HURT_OR_KNOCKED and start["type"] != 16 and start["hp"] >= 0]
    choices = []
    for chosen in itertools.product((False, True), repeat=min(len(hittable), 8)):
        taken = [(index, start) for (index, start), take in zip(hittable, chosen) if take]
        if sum(kill_score(records[index]["scoreValue"], difficulty) for index, _ in taken) == unexplained:
            choices.append(found + [hit(start["type"]) for _, start in taken])
    return choices or [found]


def effects_against_state(lines, records):
    """Each frame's dumped effects against those its state changes call for. Answers (the causes seen with their
    counts, the frames that differ as text)."""
    causes, differing = Counter(), []
    for before, after in zip(lines, lines[1:]):
        choices = expected_effects(before, after, records[int(after["StageIndex"])])
        played = Counter(int(e) for e in after["effects"].split(",") if e and int(e) in STAGE_EFFECTS)
        matching = [wanted for wanted in choices if played == Counter(effect for effect, _ in wanted)]
        if matching:
            causes.update(cause for _, cause in matching[0])
        else:
            differing.append(f"frame {after['frame']}: played {sorted(played.elements())}, the state calls for "
                             f"{' or '.join(str(sorted(wanted)) for wanted in choices)}")
    return causes, differing


def transitions(lines, key, start, end):
    """How often `key` goes from `start` to `end` between two dumped frames."""
    return sum(1 for a, b in zip(lines, lines[1:]) if a[key] == start and b[key] == end)
