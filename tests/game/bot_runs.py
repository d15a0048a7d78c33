"""What the bot's end-to-end checks share: a run of the test build in a folder of its own that goes on in the
background (so that runs side by side on one display do not wait for each other), its report read back, runs
spread over a small pool of processes, and the replay of a recorded run compared with the bot's. Runs on the build
machine inside scripts/harness.sh."""
import concurrent.futures
import os
import shutil
import subprocess

from game_harness import NO_STAGE_PICTURES, display_mode_kept, wine_path

SECONDS_LIMIT = 900


def run_game(root, program, folder, options, files=None, frames=20000):
    """Runs the test build in `folder` (emptied first, then given `files`: name -> bytes) with pacing off, in the
    background, on the software screen, for at most `frames` frames (a bot that never reaches its end rule ends
    there); the hash goes into hash.txt, the report into report.txt. Options name their files relative to the
    folder. Answers the exit code; the run must have left the display at the harness's mode."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in (files or {}).items():
        open(os.path.join(folder, name), "wb").write(data)
    arguments = [os.path.join(root, "scripts", "wine-run"), program, "--dir", wine_path(folder), "--multi",
                 "--software", "--no-pacing", "--background", "--frames", str(frames),
                 "--hash", "hash.txt", "--report", "report.txt"] + list(options)
    environment = dict(os.environ, QV_RUN_TIMEOUT=str(SECONDS_LIMIT))
    code = subprocess.run(arguments, cwd=folder, env=environment, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode
    display_mode_kept(f"{folder}: the run")
    return code


def read_report(folder):
    """The report's lines: {"frames": N, "clears": [dict of the clear's fields as numbers], "events": [dict of the
    event's fields as text], "entered": {stage: set of record indices}}."""
    report = {"frames": 0, "clears": [], "events": [], "entered": {}}
    path = os.path.join(folder, "report.txt")
    for line in open(path).read().splitlines() if os.path.exists(path) else []:
        words = line.split()
        fields = dict(word.split("=", 1) for word in words if "=" in word)
        if words[0].startswith("frames="):
            report["frames"] = int(fields["frames"])
        elif words[0] == "clear":
            report["clears"].append({key: int(value) for key, value in fields.items()})
        elif words[0] == "event":
            report["events"].append(fields)
        elif words[0] == "entered":
            seen = report["entered"].setdefault(int(fields["stage"]), set())
            seen.update(int(i) for i in fields["records"].split(",") if i)
    return report


def differences(bot_folder, replay_folder, names):
    """The files among `names` that the replay did not write byte for byte as the bot's run did."""
    def read(folder, name):
        path = os.path.join(folder, name)
        return open(path, "rb").read() if os.path.exists(path) else None

    return [name for name in names
            if read(bot_folder, name) is None or read(bot_folder, name) != read(replay_folder, name)]


def replay_options(options, every_frame=False):
    """The options of a bot run made into those of its replay: the recorded input instead of the bot. The replay
    draws the stage pictures of its shots only (the bot's run draws them every so often, and their shots must
    match), or with `every_frame` those of every frame."""
    replay, words = [], list(options)
    while words:
        word = words.pop(0)
        if word in ("--bot", "--bot-give-up", "--record"):
            words.pop(0)
        else:
            replay.append(word)
    return replay + ["--input", "../bot/in.txt"] + (["--draw-every", "1"] if every_frame else NO_STAGE_PICTURES)


def in_parallel(job, cases):
    """`job`(case) for every case on a pool of about four processes (fewer on a smaller machine); answers the
    results in the cases' order."""
    workers = max(1, min(4, os.cpu_count() or 1))
    with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
        return list(pool.map(job, cases))
