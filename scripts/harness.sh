#!/usr/bin/env bash
# The Wine harness: runs one command inside a private test world and tears it down afterwards:
#   - an X display of its own (Xvfb with the 640x480, 800x600 and 1024x768 modes, at 1024x768), unless
#     QV_USE_DISPLAY=1 and $DISPLAY answers; its mode is QV_DISPLAY_MODE (WIDTHxHEIGHT), which every run that ends
#     by itself must leave it at;
#   - a PulseAudio null sink "recsink" whose monitor tests can record;
#   - a Wine prefix of its own with crash handling, unmanaged windows, pulse audio and the Japanese font mapping;
#   - a persistent wineserver started detached from the command's pipes.
# Usage: scripts/harness.sh COMMAND [ARGS...]
# The command sees DISPLAY, QV_DISPLAY_MODE, WINEPREFIX, PULSE_SERVER, LC_CTYPE=ja_JP.UTF-8 and QV_HARNESS_DIR; the
# helpers scripts/harness-shot FILE and scripts/harness-record start|stop FILE work inside it.
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

dir=$(mktemp -d /tmp/qvharness.XXXXXX)
export QV_HARNESS_DIR=$dir
xvfb_pid=
pulse_pid=
export WINEPREFIX=$dir/prefix

cleanup() {
    set +e
    [ -d "$WINEPREFIX" ] && timeout 20 wineserver -k >/dev/null 2>&1
    [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_display() {
    if [ "${QV_USE_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return
    fi
    # Xvfb picks a free display number itself and reports it, so harnesses started together never collide.
    Xvfb -displayfd 3 -screen 0 1024x768x24 +extension RANDR -nolisten tcp -noreset \
        3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
    xvfb_pid=$!
    # A loaded machine can take many seconds to start it: wait up to a minute.
    for _ in $(seq 1200); do
        [ -s "$dir/display" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.05
    done
    [ -s "$dir/display" ] || { echo "harness: Xvfb did not start (see $dir/xvfb.log)" >&2; exit 1; }
    export DISPLAY=":$(head -n 1 "$dir/display")"
    xrandr --newmode 640x480_60 25.175 640 656 752 800 480 490 492 525 -hsync -vsync
    xrandr --newmode 800x600_60 40.0 800 840 968 1056 600 601 605 628 +hsync +vsync
    xrandr --newmode 1024x768_60 65.0 1024 1048 1184 1344 768 771 777 806 -hsync -vsync
    local mode
    for mode in 640x480_60 800x600_60 1024x768_60; do
        xrandr --addmode screen "$mode"
    done
    xrandr --output screen --mode 1024x768_60
}

# The sink never rewinds: a rewinding sink mixes a new stream into audio its monitor has already delivered, so the
# recording lost the first few milliseconds of every sound (and an idle sink ran two seconds ahead).
start_pulse() {
    mkdir -p "$dir/pulse"
    cat >"$dir/pulse/default.pa" <<PA
load-module module-null-sink sink_name=recsink format=s16le rate=44100 channels=2 norewinds=1
set-default-sink recsink
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/pulse/socket
PA
    HOME=$dir/pulse XDG_RUNTIME_DIR=$dir/pulse PULSE_RUNTIME_PATH=$dir/pulse \
        pulseaudio -n -F "$dir/pulse/default.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        --disallow-exit --disable-shm=yes >"$dir/pulse.log" 2>&1 </dev/null &
    pulse_pid=$!
    export PULSE_SERVER=unix:$dir/pulse/socket
    for _ in $(seq 100); do
        [ -S "$dir/pulse/socket" ] && pactl info >/dev/null 2>&1 && return
        sleep 0.05
    done
    echo "harness: PulseAudio did not start (see $dir/pulse.log)" >&2
    exit 1
}

# Registry settings, written as UTF-16LE because of the Japanese font names.
write_registry() {
    {
        printf '\xef\xbb\xbfWindows Registry Editor Version 5.00\r\n\r\n'
        printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]\r\n"Auto"="1"\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\r\n"Audio"="pulse"\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
        printf '"ＭＳ ゴシック"="IPAGothic"\r\n"MS Gothic"="IPAGothic"\r\n'
        printf '"ＭＳ 明朝"="IPAGothic"\r\n"MS Mincho"="IPAGothic"\r\n'
        printf '"ＭＳ Ｐゴシック"="IPAPGothic"\r\n"MS PGothic"="IPAPGothic"\r\n\r\n'
    } | iconv -f UTF-8 -t UTF-16LE >"$dir/settings.reg"
}

start_wine() {
    export WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" LC_CTYPE=ja_JP.UTF-8
    timeout 120 wineboot -i >"$dir/wineboot.log" 2>&1 </dev/null
    write_registry
    timeout 60 wine regedit /S "$(winepath -w "$dir/settings.reg" 2>/dev/null)" >/dev/null 2>&1 </dev/null
    timeout 30 wineserver -w >/dev/null 2>&1 </dev/null || true
    # The harness's own server, started apart from the command's pipes (otherwise every program start waits for
    # it) and up before the next program starts: wineserver returns once its background copy serves the prefix.
    # Started in the background it could lose that race, and the program's own server then kept that program's
    # error output (a ctest pipe) open for minutes and stopped as soon as no program ran, taking the prefix's
    # services with it to be started again mid-run. It stays a minute after the last program, as before.
    setsid wineserver -p60 </dev/null >/dev/null 2>&1
    start_desktop
}

# The prefix's desktop process (explorer.exe) belongs to the harness. Wine closes it a second after the last program
# leaves, and the next program starts it again as its own child, in that program's process group and with its error
# output: a run ended by a signal (as the checks end theirs) took it down, and the programs still running kept the
# dead desktop's X cursor-clip window, whose next unmap is an X error that ends them. A harness program that waits on
# a pipe, apart from the command's process groups and pipes, keeps the desktop in use from before the warm-up run to
# the end. The harness alone holds the pipe's writing end (descriptor 9, closed for every program it starts): however
# the harness ends, the holder then reads the end of the pipe and leaves.
start_desktop() {
    mkfifo "$dir/desktop-hold"
    exec 9<>"$dir/desktop-hold"
    (setsid wine cmd /c "echo held& pause" <"$dir/desktop-hold" >"$dir/desktop-hold.log" 2>&1 9>&- &)
    for _ in $(seq 1200); do
        grep -q held "$dir/desktop-hold.log" 2>/dev/null && break
        sleep 0.05
    done
    grep -q held "$dir/desktop-hold.log" || { echo "harness: the desktop holder did not start" >&2; exit 1; }
    timeout 60 wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
}

start_display
QV_DISPLAY_MODE=$(xdotool getdisplaygeometry | tr ' ' x)
export QV_DISPLAY_MODE
start_pulse
start_wine
set +e
"$@" 9>&-
status=$?
exit $status
