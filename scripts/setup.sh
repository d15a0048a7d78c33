#!/usr/bin/env bash
# One-time (idempotent) machine set-up for building the game on Debian 12 as root: the i386 architecture and
# source lines, the cross compiler, 32-bit Wine, Xvfb, PulseAudio and fonts, then the third-party libraries
# cross-built static for i686-w64-mingw32 into a prefix cached outside the clone, keyed by everything that can change
# what they build: the package list (the host's tools and headers) and the steps that build them.
# QV_CACHE=<folder> builds into a private cache folder, as a new machine would.
# Prints the prefix path as its last line.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache_root=${QV_CACHE:-/var/cache/qvgame}
key=$({
    sed -n '/^packages=(/,/^)/p; /^fetch_source()/,/^}/p; /^cmake_static()/,/^}/p; /^build_dependencies()/,/^}/p' \
        "$here/setup.sh"
    cat "$here/../cmake/mingw-i686.cmake"
} | sha256sum | cut -c1-16)
prefix="$cache_root/deps-$key"
stamp="$prefix/.complete"

log() { echo "[setup] $*" >&2; }

need_root() {
    if [ "$(id -u)" != 0 ]; then
        echo "setup.sh must run as root (it installs packages)" >&2
        exit 1
    fi
}

packages=(
    build-essential cmake ninja-build pkg-config autoconf automake libtool nasm dpkg-dev file
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
    wine wine32:i386 wine64 libwine:i386
    libgl1:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386 libgl1-mesa-dri
    libxrandr2:i386 libxcursor1:i386 libxi6:i386 libxinerama1:i386 libxcomposite1:i386 libxrender1:i386
    libxxf86vm1:i386 libxext6:i386 libxfixes3:i386
    gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386
    xvfb xauth x11-apps x11-utils x11-xserver-utils xdotool imagemagick
    pulseaudio pulseaudio-utils libpulse0:i386 libasound2-plugins:i386 sox lame
    fonts-ipafont-gothic fontconfig locales googletest
    clang libclang-rt-14-dev python3 libpng-dev libjpeg-dev zlib1g-dev libsdl2-dev libogg-dev libvorbis-dev
)

packages_present() {
    local p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 1
    done
}

add_sources() {
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -e "$f" ] || continue
        grep -q '^Types:.*deb-src' "$f" || sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
    done
    if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list &&
        ! grep -q '^deb-src ' /etc/apt/sources.list; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >>/etc/apt/sources.list
    fi
    echo 'Acquire::Check-Valid-Until "false";' >/etc/apt/apt.conf.d/99qvgame-no-valid-until
}

# A mirror that is being synchronised can serve a list that does not match its index ("Mirror sync in progress?"),
# which leaves one architecture of one suite without a list. Try again; failing that, install from the release's
# own suite alone, so that no library's i386 copy must match an amd64 copy of a version only the missing list has.
apt_update() {
    local try
    for try in 1 2 3; do
        apt-get update -qq && return
        log "apt-get update failed (try $try of 3)"
        sleep $((try * 10))
    done
    return 1
}

install_packages() {
    if packages_present && [ -n "$(ls /var/lib/apt/lists/*Sources* 2>/dev/null | head -1)" ]; then
        return
    fi
    add_sources
    local target=()
    if ! apt_update; then
        target=(-t "$(. /etc/os-release && echo "$VERSION_CODENAME")")
        log "some package lists could not be fetched: installing from ${target[1]} alone"
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${target[@]}" "${packages[@]}" \
        >/dev/null
}

setup_locale() {
    if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
        sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
        grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
        locale-gen >/dev/null
    fi
}

# Source tree of a Debian source package, unpacked into $work.
fetch_source() {
    local pkg=$1 dir
    (cd "$work" && { apt-get source "$pkg" || apt-get source "$pkg/bookworm"; }) >>"$work/build.log" 2>&1
    dir=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name "${2:-$pkg}-*" | head -1)
    [ -n "$dir" ] || { echo "no source for $pkg" >&2; exit 1; }
    echo "$dir"
}

cmake_static() {
    local src=$1
    shift
    cmake -S "$src" -B "$src/_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
        -DCMAKE_PREFIX_PATH="$prefix" -Wno-dev "$@" >>"$work/build.log" 2>&1
    cmake --build "$src/_build" >>"$work/build.log" 2>&1
    cmake --install "$src/_build" >>"$work/build.log" 2>&1
}

build_dependencies() {
    # Two set-ups started together on a new key would build into the same prefix: the second waits for the first.
    # The lock lives beside the cache folder, not in it, so removing or half-building the cache cannot break it.
    mkdir -p "$cache_root"
    exec 8>"$cache_root.lock"
    flock 8
    [ -f "$stamp" ] && return
    # A prefix without its stamp is a half-built one: start it again from nothing.
    rm -rf "$prefix"
    mkdir -p "$prefix"
    work=$(mktemp -d)
    trap 'status=$?; [ $status = 0 ] || tail -n 40 "$work/build.log" >&2; rm -rf "$work"' EXIT
    toolchain="$here/../cmake/mingw-i686.cmake"
    export QV_DEPS_PREFIX="$prefix"
    # Every cross build sees only the prefix's own pkg-config files: a host package (libogg-dev's ogg.pc) must never
    # answer for a Windows library.
    export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig:$prefix/share/pkgconfig" PKG_CONFIG_PATH=
    local cross=i686-w64-mingw32 dir

    log "zlib"
    dir=$(fetch_source zlib)
    (cd "$dir" && CHOST=$cross CC=$cross-gcc-posix AR=$cross-ar RANLIB=$cross-ranlib \
        ./configure --static --prefix="$prefix" && make -j"$(nproc)" libz.a && make install) >>"$work/build.log" 2>&1

    log "libpng"
    dir=$(fetch_source libpng1.6 libpng1.6)
    cmake_static "$dir" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
        -DZLIB_ROOT="$prefix" -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include"

    log "libjpeg-turbo"
    dir=$(fetch_source libjpeg-turbo)
    cmake_static "$dir" -DWITH_JPEG8=ON -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
        -DCMAKE_SYSTEM_PROCESSOR=i686

    log "libogg"
    dir=$(fetch_source libogg)
    cmake_static "$dir" -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF

    log "libvorbis"
    dir=$(fetch_source libvorbis)
    cmake_static "$dir" -DOGG_ROOT="$prefix" -DBUILD_TESTING=OFF

    log "libtheora"
    dir=$(fetch_source libtheora)
    (cd "$dir" && autoreconf -i -f -I m4 &&
        ./configure --build="$(gcc -dumpmachine)" --host=$cross CC=$cross-gcc-posix \
            --prefix="$prefix" --disable-shared --enable-static --disable-examples --disable-oggtest \
            --disable-vorbistest --disable-sdltest --disable-spec --with-ogg="$prefix" &&
        make -j"$(nproc)" && make install) >>"$work/build.log" 2>&1

    log "bullet"
    dir=$(fetch_source bullet)
    cmake_static "$dir" -DBUILD_BULLET2_DEMOS=OFF -DBUILD_EXTRAS=OFF -DBUILD_UNIT_TESTS=OFF \
        -DBUILD_CPU_DEMOS=OFF -DBUILD_OPENGL3_DEMOS=OFF -DBUILD_PYBULLET=OFF -DINSTALL_LIBS=ON \
        -DUSE_GRAPHICAL_BENCHMARK=OFF -DCMAKE_DISABLE_FIND_PACKAGE_OpenGL=ON

    log "googletest"
    cp -r /usr/src/googletest "$work/googletest"
    cmake_static "$work/googletest" -Dgtest_disable_pthreads=OFF -DBUILD_GMOCK=ON

    touch "$stamp"
}

need_root
log "packages"
install_packages
setup_locale
build_dependencies
echo "$prefix"
