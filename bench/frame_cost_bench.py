"""The game's frame cost: the bot records the busiest run it plays (stage 6 on LUNATIC: the most records, blast
chains and the last boss), then the test program replays that input with pacing off on the Direct3D screen and on
the software screen, timing every frame (--frame-costs), then runs as many bare frames (a clear and the flip only,
--bare) on each screen, and last a few hundred frames with pacing on. It prints the mean and worst of each phase as
ratios to the 16 ms frame budget, and the paced runs' mean frame period. It reports and never fails: a run that
goes wrong is printed as such. Runs inside scripts/harness.sh on the build machine; the paths may be relative to
the folder it is started in.
Usage: frame_cost_bench.py QvGameTest.exe SCRATCH_FOLDER ROOT [MAX_FRAMES]"""
import os
import subprocess
import sys

BUDGET_MICROSECONDS = 16000
PACED_FRAMES = 300
WARM_UP_FRAMES = 10
START = ["--start", "3,5"]
COLUMNS = ["logic", "draw", "flip", "whole", "pump"]


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


class Runner:
    def __init__(self, program, scratch, root):
        self.program, self.scratch, self.root = program, scratch, root

    def run(self, name, options):
        """One run of the test program in a folder of its own; answers (exit code, folder)."""
        folder = os.path.join(self.scratch, name)
        os.makedirs(folder, exist_ok=True)
        arguments = [os.path.join(self.root, "scripts", "wine-run"), self.program, "--dir", wine_path(folder),
                     "--multi"] + options
        environment = dict(os.environ, QV_RUN_TIMEOUT="3600")
        result = subprocess.run(arguments, cwd=folder, env=environment, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        return result.returncode, folder, result.stderr.decode(errors="replace")


def record(runner, max_frames):
    """The bot's run, cut where the stage's clear hands over to the event (or the title), or at max_frames;
    answers the input file and the frames to replay, and prints what the run holds."""
    options = START + ["--no-pacing", "--software", "--bot", "3", "--frames", str(max_frames), "--record",
                       "input.txt", "--dump", "dump.txt"]
    code, folder, errors = runner.run("record", options)
    if code != 0 or not os.path.exists(os.path.join(folder, "dump.txt")):
        print(f"recording the bot's run failed (exit code {code}) {errors.strip()}")
        return None, 0
    frames, most, boss, clear, lives = 0, 0, None, None, []
    for text in open(os.path.join(folder, "dump.txt")):
        line = dict(field.split("=", 1) for field in text.split() if "=" in field)
        if int(line["MainState"]) > 0 or int(line["EventState"]) > 0:
            break
        frames = int(line["frame"])
        most = max(most, len(line["objects"].split(";")) if line.get("objects") else 0)
        boss = boss or (frames if int(line["BossPhase"]) > 0 else None)
        clear = clear or (frames if int(line["ClearState"]) > 0 else None)
        lives.append(int(line["Lives"]))
    print(f"The bot's run of stage 6 on LUNATIC: {frames} frames, up to {most} records at once, boss from frame "
          f"{boss}, clear from frame {clear}, lives {lives[0] if lives else '-'} -> {lives[-1] if lives else '-'}")
    return os.path.join(folder, "input.txt"), frames


def frame_costs(runner, name, options):
    """The --frame-costs lines of one run as lists of ints, or None when the run failed."""
    code, folder, errors = runner.run(name, options + ["--frame-costs", "costs.txt"])
    path = os.path.join(folder, "costs.txt")
    if code != 0 or not os.path.exists(path):
        print(f"{name}: the run failed (exit code {code}) {errors.strip()}")
        return None
    rows = [[int(v) for v in line.split()[1:]] for line in open(path) if line.strip() and line[0] != "#"]
    return rows or None


def ratio(value):
    return f"{value / BUDGET_MICROSECONDS:.3f}"


def summary_line(label, rows):
    """Mean/worst of each phase and of the frame in all (whole frame and pump), as ratios to 16 ms, after the
    first frames, whose draws make the device's textures and shaders."""
    rows = rows[WARM_UP_FRAMES:] or rows
    cells = []
    for column in range(len(COLUMNS)):
        values = [row[column] for row in rows]
        cells.append(f"{ratio(sum(values) / len(values))}/{ratio(max(values))}")
    in_all = sorted(row[3] + row[4] for row in rows)
    cells.append(f"{ratio(sum(in_all) / len(in_all))}/{ratio(in_all[-1])}")
    return (f"{label:<15}" + "".join(f"{cell:>14}" for cell in cells) +
            f"   99% within {ratio(in_all[len(in_all) * 99 // 100])}")


def main():
    # Each run starts in a folder of its own, and Wine resolves the program against that folder.
    program, scratch, root = (os.path.abspath(path) for path in sys.argv[1:4])
    max_frames = int(sys.argv[4]) if len(sys.argv) > 4 else 12000
    runner = Runner(program, scratch, root)
    path, frames = record(runner, max_frames)
    if path is None:
        return
    replay = START + ["--input", wine_path(path), "--frames", str(frames)]
    screens = [("Direct3D", []), ("software", ["--software"])]
    print(f"Replayed with pacing off, from frame {WARM_UP_FRAMES + 1}: mean/worst as ratios to the "
          f"{BUDGET_MICROSECONDS // 1000} ms budget")
    print(f"{'':<15}" + "".join(f"{name:>14}" for name in COLUMNS + ["in all"]))
    for screen, screen_options in screens:
        for kind, options in [("game", replay), ("bare", ["--bare", "--frames", str(frames)])]:
            rows = frame_costs(runner, f"{screen}-{kind}", options + screen_options + ["--no-pacing"])
            if rows is not None:
                print(summary_line(f"{screen} {kind}", rows), flush=True)
    periods = []
    for screen, screen_options in screens:
        rows = frame_costs(runner, f"{screen}-paced", START + ["--input", wine_path(path), "--frames",
                                                               str(PACED_FRAMES)] + screen_options)
        if rows is not None:
            steady = rows[WARM_UP_FRAMES:] or rows
            periods.append(f"{screen} {sum(r[3] + r[4] for r in steady) / len(steady) / 1000:.1f} ms")
    print(f"Pacing on, {PACED_FRAMES} frames: mean frame period " + ", ".join(periods) + " (expected 16-17 ms)")


if __name__ == "__main__":
    main()
