#!/usr/bin/env python3
"""How the probe program leaves, read from its exit code and "Log.txt": a fatal error from the window thread or in
the middle of start-up runs the whole end sequence (the allocation dump last; after start-up the screen saver is on
again), one from another thread ends at once without waiting for the window thread; a copy ending while another
copy's window lies above its own still destroys its own window and class.
Usage: check_fatal_exits.py PROBE RUN_FOLDER SOURCE_ROOT"""
import os
import shutil
import subprocess
import sys
import time


def run_probe(probe, folder, root, mode, expected_code=255, wait=True):
    path = os.path.join(folder, mode)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    command = [os.path.join(root, "scripts", "wine-run"), probe, mode]
    if not wait:
        return subprocess.Popen(command, cwd=path), path
    result = subprocess.run(command, cwd=path, timeout=120)
    assert result.returncode == expected_code, f"{mode}: exit code {result.returncode}, not {expected_code}"
    if expected_code == 10:
        return None
    lines = open(os.path.join(path, "Log.txt"), "rb").read().decode("cp932").rstrip("\r\n").split("\r\n")
    print(f"{mode}: exit {result.returncode}, {len(lines)} log lines")
    return [line.split(":", 1)[1] for line in lines]


def main():
    probe, folder, root = sys.argv[1:4]
    for mode, message in (("fatal-main", "ウインドウスレッドでの致命的エラー"), ("fatal-start", "起動中の致命的エラー")):
        bodies = run_probe(probe, folder, root, mode)
        assert "ＣＯＭを終了... 完了" in bodies[bodies.index(message) + 1:], f"{mode}: no end sequence after the message"
        assert bodies[-3:] == ["Alloc memory dump", "\tTotal size:0(0.000kb)  Alloc num:0", ""], bodies[-3:]
    run_probe(probe, folder, root, "screen-saver", 10)  # 11: still off after the fatal start-up

    bodies = run_probe(probe, folder, root, "fatal-thread")
    assert "別スレッドからの致命的エラー" in bodies, bodies
    assert "ＣＯＭを終了... 完了" not in bodies, "the end sequence ran off the window thread"

    holder, path = run_probe(probe, folder, root, "hold-window", wait=False)
    try:
        for _ in range(1200):
            if os.path.exists(os.path.join(path, "holding")):
                break
            time.sleep(0.05)
        assert os.path.exists(os.path.join(path, "holding")), "the other copy's window never came up"
        bodies = run_probe(probe, folder, root, "beside-other-copy", 20)  # 21: its own window or class left
        assert "ソフトの二重起動検査... 二重起動されていますが続行します" in bodies, bodies
    finally:
        open(os.path.join(path, "release"), "w").close()
        holder.wait(timeout=120)
    print("fatal exits and ends as expected")


if __name__ == "__main__":
    main()
