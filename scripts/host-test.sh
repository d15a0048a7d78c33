#!/usr/bin/env bash
# Builds the image decoders, the pixel code, the software blits and shapes, the archive decompressor and the sound
# converter (RIFF WAVE, Ogg Vorbis, the MPEG frame walk) for the Linux host with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (tests/host), runs the image loader unit tests there over freshly generated fixtures and
# the pixel code's, the blits', the shapes' and the converter's unit tests, then runs each fuzz target briefly over a
# seed corpus generated the same way.
# The unit test programs run side by side, and so do the fuzz targets (each for its full time), as many at once as
# there are cores.
# QV_FUZZ_SECONDS sets the time per target (default 5); QV_HOST_BUILD_DIR the build folder (default build-host).
# With QV_STEP_MARKS naming a file (scripts/test.sh does), the moment fuzzing starts is written there.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QV_HOST_BUILD_DIR:-$root/build-host}
seconds=${QV_FUZZ_SECONDS:-5}

CC=clang CXX=clang++ cmake -S "$root/tests/host" -B "$build" -G Ninja >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 1; }
cmake --build "$build"

work=$(mktemp -d /tmp/qvhost.XXXXXX)
trap 'rm -rf "$work"' EXIT
python3 "$root/tests/image/make_image_fixtures.py" "$work/fixtures"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The host's libvorbisfile loses an 8-byte list of its own when it refuses some damaged headers (untracked, inside
# the library, not ours to mend); the converter's own blocks are counted by the fuzz target itself.
echo "leak:libvorbisfile.so" >"$work/lsan.supp"
export LSAN_OPTIONS=suppressions=$work/lsan.supp

# Steps that do not depend on each other: `spawn FUNCTION ARGS...` starts one in the background once fewer than a
# core's worth run (waiting for the oldest first: the steps of a kind take about the same time), `settle` waits
# for the rest and fails the run if any step failed.
slots=$(nproc)
running=()
failures=0
spawn() {
    if [ "${#running[@]}" -ge "$slots" ]; then
        wait "${running[0]}" || failures=$((failures + 1))
        running=("${running[@]:1}")
    fi
    "$@" &
    running+=($!)
}
settle() {
    local pid
    for pid in "${running[@]}"; do
        wait "$pid" || failures=$((failures + 1))
    done
    running=()
    [ "$failures" = 0 ] || { echo "$failures host step(s) failed" >&2; exit 1; }
}

# A unit test program, in the work folder (the image tests read the fixtures there). Its output is shown once it
# ends. The loaders keep the decoding libraries quiet (the tests check it), so only a sanitizer report would go to
# stderr: it is kept aside and shown when the program fails.
unit_tests() {
    local name=$1 status=0
    (cd "$work" && "$build/$name" --gtest_brief=1 >"$work/$name.stdout" 2>"$work/$name.stderr") || status=$?
    cat "$work/$name.stdout"
    [ "$status" = 0 ] || { cat "$work/$name.stderr" >&2; echo "$name failed" >&2; }
    return "$status"
}
for program in host_image_tests host_image_core_tests host_blit_tests host_shape_tests host_sound_tests \
    host_framing_tests; do
    spawn unit_tests "$program"
done
settle

[ -z "${QV_STEP_MARKS:-}" ] || printf 'fuzzing\t%s\n' "$EPOCHREALTIME" >>"$QV_STEP_MARKS"

# Seed corpora: the fixtures by format, and a few packed buffers for the archive decompressor.
declare -A extensions=([bmp]=bmp [tga]=tga [bgra]=bgra [dds]=dds [png]=png [jpeg]=jpg)
for target in "${!extensions[@]}"; do
    mkdir -p "$work/corpus/$target"
    cp "$work"/fixtures/*."${extensions[$target]}" "$work/corpus/$target/"
done
mkdir -p "$work/corpus/archive"
python3 - "$work/corpus/archive" <<'PY'
import struct, sys
def packed(unpacked_size, escape, body):
    return struct.pack("<II", unpacked_size, 9 + len(body)) + bytes((escape,)) + body
seeds = {
    "literals": packed(5, 0xFF, b"hello"),
    "escaped": packed(3, 0x41, b"A" + b"AA" + b"B"),  # the escape byte doubled stands for itself
    "reference": packed(8, 0xFF, b"abcd" + bytes((0xFF, 0, 3))),  # length 4 from 4 bytes back
    "long-reference": packed(4 + 36, 0xFF, b"wxyz" + bytes((0xFF, 4, 1, 3))),  # length 4 + 1 x 32
}
for name, data in seeds.items():
    open(sys.argv[1] + "/" + name, "wb").write(data)
PY
# The blit and shape targets read their choices from any bytes: a few fixed random inputs start each off.
mkdir -p "$work/corpus/blits" "$work/corpus/shapes"
python3 - "$work/corpus" <<'PY'
import random, sys
for target, length in (("blits", 96), ("shapes", 256)):
    generator = random.Random(1)
    for n in range(8):
        seed = bytes(generator.randrange(256) for _ in range(length))
        open("%s/%s/seed%d" % (sys.argv[1], target, n), "wb").write(seed)
PY

# Sound seeds: PCM WAVE files in the chunk layouts the RIFF walk takes, Ogg Vorbis tones from the host's encoder
# library, and MP3 tones with an ID3v2 tag and a trailing "TAG", plain, and as MPEG 2.5 (8 kHz).
mkdir -p "$work/corpus/wave" "$work/corpus/ogg" "$work/corpus/mp3"
python3 - "$work/corpus/wave" <<'PY'
import struct, sys
def chunk(name, body):
    return name + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")
def wave(channels, bits, rate, fmt_size, extra=()):
    align = channels * bits // 8
    fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * align, align, bits).ljust(fmt_size, b"\0")
    body = b"WAVE" + b"".join(chunk(n, b) for n, b in extra if n == b"bext") + chunk(b"fmt ", fmt)
    body += b"".join(chunk(n, b) for n, b in extra if n != b"bext") + chunk(b"data", bytes(range(256)) * 2)
    return b"RIFF" + struct.pack("<I", len(body)) + body
seeds = {
    "mono8": wave(1, 8, 8000, 16),
    "stereo16": wave(2, 16, 44100, 18),
    "bext": wave(2, 16, 22050, 18, [(b"bext", b"b" * 602)]),
    "odd": wave(1, 16, 11025, 17, [(b"LIST", b"l" * 13)]),
}
for name, data in seeds.items():
    open(sys.argv[1] + "/" + name, "wb").write(data)
PY
"$build/host_ogg_seeds" "$work/corpus/ogg"
sox -n -r 22050 -c 1 -b 16 "$work/tone.wav" synth 0.3 sine 440
lame --quiet -b 32 --add-id3v2 --tt Tone "$work/tone.wav" "$work/corpus/mp3/tagged"
lame --quiet -b 64 -t "$work/tone.wav" "$work/corpus/mp3/plain"
lame --quiet -b 24 --resample 8 "$work/tone.wav" "$work/corpus/mp3/mpeg25"

# The network block framing's seeds: a few generated streams (a script of piece sizes, the end flag, then blocks of
# the sizes around the ring's powers of two and one refused length).
mkdir -p "$work/corpus/framing"
python3 - "$work/corpus/framing" <<'PY'
import random, struct, sys
generator = random.Random(1)
for n in range(8):
    script = bytes(generator.choice((0, 1, 2, 3, 7, 64, 130, 200)) for _ in range(generator.randrange(1, 40)))
    blocks = b"".join(struct.pack("<I", size) + generator.randbytes(size)
                      for size in generator.choices((0, 1, 3, 5, 255, 257, 4096, 4097), k=6))
    bad = struct.pack("<I", generator.choice((0x80000000, 0xFFFFFFFF, 0x4000001))) if n % 2 else b""
    open("%s/seed%d" % (sys.argv[1], n), "wb").write(bytes((len(script), n & 1)) + script + blocks + bad)
PY

fuzz() {
    local target=$1
    (cd "$work" && "$build/fuzz_$target" -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 "$work/corpus/$target" 2>"$work/fuzz_$target.log") ||
        { tail -n 60 "$work/fuzz_$target.log"; echo "fuzz target $target failed" >&2; return 1; }
    echo "fuzzed $target for ${seconds}s: $(grep -E '^stat::number_of_executed_units' "$work/fuzz_$target.log" || true)"
}
for target in bmp tga bgra dds png jpeg archive blits shapes wave ogg mp3 framing; do
    spawn fuzz "$target"
done
settle
echo "host tests and fuzzing passed"
