#!/usr/bin/env python3
"""A fatal error ends the process with exit code -1 and its message in the log: from the window thread after the
whole end sequence (the allocation dump last), from another thread at once, without waiting for the window
thread.  Usage: check_fatal_exits.py PROBE RUN_FOLDER SOURCE_ROOT"""
import os
import subprocess
import sys
import time


def run_probe(probe, folder, root, mode):
    path = os.path.join(folder, mode)
    os.makedirs(path, exist_ok=True)
    started = time.time()
    result = subprocess.run([os.path.join(root, "scripts", "wine-run"), probe, mode], cwd=path, timeout=60)
    elapsed = time.time() - started
    lines = open(os.path.join(path, "Log.txt"), "rb").read().decode("cp932").rstrip("\r\n").split("\r\n")
    bodies = [line.split(":", 1)[1] for line in lines]
    print(f"{mode}: exit {result.returncode} after {elapsed:.1f} s, {len(bodies)} log lines")
    assert result.returncode == 255, f"{mode}: exit code {result.returncode}, not -1"
    assert elapsed < 20, f"{mode}: took {elapsed:.1f} s"
    return bodies


def main():
    probe, folder, root = sys.argv[1:4]
    bodies = run_probe(probe, folder, root, "fatal-main")
    message = bodies.index("ウインドウスレッドでの致命的エラー")
    assert "ＣＯＭを終了... 完了" in bodies[message + 1:], "the end sequence did not run after the message"
    assert bodies[-3:] == ["Alloc memory dump", "\tTotal size:0(0.000kb)  Alloc num:0", ""], bodies[-3:]

    bodies = run_probe(probe, folder, root, "fatal-thread")
    assert "別スレッドからの致命的エラー" in bodies, bodies
    assert "ＣＯＭを終了... 完了" not in bodies, "the end sequence ran off the window thread"
    print("fatal exits as expected")


if __name__ == "__main__":
    main()
