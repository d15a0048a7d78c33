#!/usr/bin/env bash
# Builds and runs the benchmarks: the engine's benchmark program under the Wine harness, then the archive packer
# against gzip and the software blits against memcpy and SDL2 on the build machine. Every line is a ratio against a
# reference measured in the same run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QV_BUILD_DIR:-$root/build}
"$root/scripts/build.sh" >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && "$root/scripts/harness.sh" "$root/scripts/wine-run" "$build/bench/qvbench.exe" .) | tr -d '\r'
(cd "$scratch" && "$root/scripts/harness.sh" "$root/scripts/wine-run" "$build/bench/graphics_draw_bench.exe") |
    tr -d '\r'
(cd "$scratch" && "$root/scripts/harness.sh" "$root/scripts/wine-run" "$build/bench/network_bench.exe") | tr -d '\r'
(cd "$scratch" && "$root/scripts/harness.sh" "$root/scripts/wine-run" "$build/bench/font_draw_bench.exe") |
    tr -d '\r'
# The game's frame cost on the bot's busiest run, against a bare frame (a clear and the flip) on each screen.
mkdir "$scratch/frames"
"$root/scripts/harness.sh" python3 -B "$root/bench/frame_cost_bench.py" "$build/game/QvGameTest.exe" "$scratch/frames" \
    "$root"
# MP3 to PCM against the platform's own chain on a 60 s stereo sweep made here (sox, lame at 128 kbit/s).
sox -n -r 44100 -c 2 -b 16 "$scratch/sweep60.wav" synth 60 sine 220-1760 vol 0.5
lame --quiet -b 128 "$scratch/sweep60.wav" "$scratch/sweep60.mp3"
(cd "$scratch" && "$root/scripts/harness.sh" "$root/scripts/wine-run" "$build/bench/mp3_convert_bench.exe" sweep60.mp3) |
    tr -d '\r'


# The packer against gzip -6 on the same bytes, on the build machine: one incompressible 8 MB file and a mixed
# tree of about 16 MB (text, runs, structured and random files in nested folders). The packer's own decode-back
# check proves that the archive reads back (it exits non-zero otherwise); best of three runs each.
python3 - "$build/host-tools/qvapack" "$scratch/packtree" <<'PY'
import os, random, subprocess, sys, time
packer, root = sys.argv[1], sys.argv[2]
rng = random.Random(1)
files = []
def write(name, data):
    path = os.path.join(root, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    files.append(path)
write("NOISE/BIG.BIN", rng.randbytes(8 << 20))
words = [b"alpha ", b"beta ", b"gamma\r\n", b"stage ", b"enemy ", b"\x81\x40", b"0123456789"]
for i in range(48):
    kind, size = i % 4, 64 * 1024 + rng.randrange(512 * 1024)
    if kind == 0:
        data = b"".join(rng.choice(words) for _ in range(size // 5))
    elif kind == 1:
        data = b"".join(bytes([rng.randrange(256)]) * rng.randrange(1, 300) for _ in range(size // 150))
    elif kind == 2:
        data = b"".join(n.to_bytes(4, "little") + bytes([rng.randrange(4)]) * 4 for n in range(size // 8))
    else:
        data = rng.randbytes(size)
    write(f"MIXED/D{i % 5}/S{i % 3}/F{i}.DAT", data)
total = sum(os.path.getsize(f) for f in files)
def best(run):
    times = []
    for _ in range(3):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)
def pack():
    subprocess.run([packer, "-c", root, root + ".qva"], check=True)
def gzip():
    with open(root + ".gz", "wb") as out:
        proc = subprocess.Popen(["gzip", "-6"], stdin=subprocess.PIPE, stdout=out)
        for f in sorted(files):
            with open(f, "rb") as data:
                proc.stdin.write(data.read())
        proc.stdin.close()
        if proc.wait() != 0:
            sys.exit("gzip failed")
packer_seconds, gzip_seconds = best(pack), best(gzip)
name = f"qvapack -c of a {total >> 20} MB tree"
print(f"{name:<44} {packer_seconds * 1000:9.3f} ms / {'gzip -6 of the same bytes':<28} "
      f"{gzip_seconds * 1000:9.3f} ms = {packer_seconds / gzip_seconds:6.2f}x", flush=True)
PY
"$root/scripts/bench-host.sh"
