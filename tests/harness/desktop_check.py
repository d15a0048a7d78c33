#!/usr/bin/env python3
# The prefix's desktop process (explorer.exe), inside scripts/harness.sh: it is there before any run, a run ended by
# a signal as the checks end theirs leaves it running, and a quiet spell does not close it. Programs still open when
# their desktop process dies keep its X cursor-clip window, and unmapping that window ends them with an X error.
import os
import subprocess
import sys
import time

scripts = sys.argv[1]
prefix = os.environ["WINEPREFIX"].encode()


def desktops():
    """The prefix's desktop processes as {pid: start time}."""
    found = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            command = open(f"/proc/{pid}/cmdline", "rb").read().split(b"\0")
            environment = open(f"/proc/{pid}/environ", "rb").read().split(b"\0")
            start = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[19]
        except OSError:
            continue
        if command[0].endswith(b"explorer.exe") and b"/desktop" in command and b"WINEPREFIX=" + prefix in environment:
            found[int(pid)] = start
    return found


before = desktops()
assert before, "no desktop process before the run"

# A run that waits on an empty pipe, ended once it has started, as run_until ends a game at its game over.
run = subprocess.Popen([os.path.join(scripts, "wine-run"), "cmd", "/c", "pause"], stdin=subprocess.PIPE,
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
assert run.stdout.read(1), "the run did not start"
run.terminate()
run.wait(timeout=60)
after_run = desktops()
assert before.items() <= after_run.items(), f"desktop processes {before} before the run, {after_run} after it"

time.sleep(2)  # Wine closes a desktop one second after its last program leaves
after_quiet = desktops()
assert before.items() <= after_quiet.items(), f"desktop processes {before} before, {after_quiet} after 2 s"
print(f"desktop process {sorted(before)} outlived a run ended by a signal and a quiet spell")
