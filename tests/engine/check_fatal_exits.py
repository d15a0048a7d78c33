#!/usr/bin/env python3
"""How the probe program leaves, read from its exit code and "Log.txt": a fatal error from the window thread runs
the whole end sequence (the allocation dump last), one from another thread ends at once without waiting for the
window thread, one in the middle of start-up still runs the end sequence and turns the screen saver back on; a
copy ending while another copy's window lies above its own still destroys its own window and class.
Usage: check_fatal_exits.py PROBE RUN_FOLDER SOURCE_ROOT"""
import os
import shutil
import subprocess
import sys
import time

DUMP_END = ["Alloc memory dump", "\tTotal size:0(0.000kb)  Alloc num:0", ""]


def wine_run(root, probe, mode):
    return [os.path.join(root, "scripts", "wine-run"), probe, mode]


def run_probe(probe, folder, root, mode, expected_code=255):
    path = os.path.join(folder, mode)
    os.makedirs(path, exist_ok=True)
    result = subprocess.run(wine_run(root, probe, mode), cwd=path, timeout=120)
    lines = open(os.path.join(path, "Log.txt"), "rb").read().decode("cp932").rstrip("\r\n").split("\r\n")
    bodies = [line.split(":", 1)[1] for line in lines]
    print(f"{mode}: exit {result.returncode}, {len(bodies)} log lines")
    assert result.returncode == expected_code, f"{mode}: exit code {result.returncode}, not {expected_code}"
    return bodies


def expect_end_after(bodies, message):
    at = bodies.index(message)
    assert "ＣＯＭを終了... 完了" in bodies[at + 1:], f"the end sequence did not run after {message}"
    assert bodies[-3:] == DUMP_END, bodies[-3:]


def check_beside_other_copy(probe, folder, root):
    path = os.path.join(folder, "hold-window")
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    holder = subprocess.Popen(wine_run(root, probe, "hold-window"), cwd=path)
    try:
        for _ in range(1200):
            if os.path.exists(os.path.join(path, "holding")):
                break
            time.sleep(0.05)
        assert os.path.exists(os.path.join(path, "holding")), "the other copy's window never came up"
        bodies = run_probe(probe, folder, root, "beside-other-copy", 20)
        assert "ソフトの二重起動検査... 二重起動されていますが続行します" in bodies, bodies
    finally:
        open(os.path.join(path, "release"), "w").close()
        holder.wait(timeout=120)


def main():
    probe, folder, root = sys.argv[1:4]
    expect_end_after(run_probe(probe, folder, root, "fatal-main"), "ウインドウスレッドでの致命的エラー")

    bodies = run_probe(probe, folder, root, "fatal-thread")
    assert "別スレッドからの致命的エラー" in bodies, bodies
    assert "ＣＯＭを終了... 完了" not in bodies, "the end sequence ran off the window thread"

    expect_end_after(run_probe(probe, folder, root, "fatal-start"), "起動中の致命的エラー")
    path = os.path.join(folder, "screen-saver")
    os.makedirs(path, exist_ok=True)
    state = subprocess.run(wine_run(root, probe, "screen-saver"), cwd=path, timeout=120).returncode
    assert state == 10, f"the screen saver stayed off after a fatal start-up (probe answered {state})"

    check_beside_other_copy(probe, folder, root)
    print("fatal exits and ends as expected")


if __name__ == "__main__":
    main()
