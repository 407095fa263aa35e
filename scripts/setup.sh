#!/usr/bin/env bash
# Installs what building, testing and the desk runner need on a Debian 12 machine
# (as root), then configures and builds. Sourced by demo.sh and test.sh.
#   NORVIK_PRESET      configure preset of CMakePresets.json: default, asan, tsan
#                      (default: default); its build folder is build or build-<preset>
#   NORVIK_BUILD_DIR   another build folder
#   NORVIK_SANITIZE    e.g. address,undefined or thread (overrides the preset's)
#   NORVIK_BUILD_TYPE  CMake build type (overrides the preset's RelWithDebInfo)
#   NORVIK_CMAKE_ARGS  array of further configure arguments (for scripts that source this)
set -euo pipefail

NORVIK_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
NORVIK_PRESET=${NORVIK_PRESET:-default}
if [ "$NORVIK_PRESET" = default ]; then
    NORVIK_BUILD_DIR=${NORVIK_BUILD_DIR:-$NORVIK_SOURCE_DIR/build}
else
    NORVIK_BUILD_DIR=${NORVIK_BUILD_DIR:-$NORVIK_SOURCE_DIR/build-$NORVIK_PRESET}
fi

# A command prefix that runs the rest of the command line in a private network namespace
# with only loopback up; `unshare --net true` tells whether this machine allows one.
norvik_netns=(unshare --net bash -c 'ip link set lo up && exec "$@"' netns)

norvik_packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite libqt5websockets5-dev qtdeclarative5-dev
    libbenchmark-dev iproute2 util-linux dbus dbus-daemon python3 openssl tshark
    # The sample screen and its test: Qt Quick, an X server, screenshots and text
    # recognition, clicks.
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls2
    fonts-dejavu-core xvfb imagemagick tesseract-ocr tesseract-ocr-eng xdotool
    # The status page's test: a headless browser. The demo's relay of the web ports.
    chromium socat
)

norvik_install_packages() {
    local missing=()
    for p in "${norvik_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== installing: ${missing[*]}"
        if [ "$(id -u)" -ne 0 ]; then
            echo "missing packages and not root: ${missing[*]}" >&2
            exit 1
        fi
        export DEBIAN_FRONTEND=noninteractive
        apt-get -o DPkg::Lock::Timeout=600 update -qq
        apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

norvik_build() {
    local args=(--preset "$NORVIK_PRESET" -B "$NORVIK_BUILD_DIR")
    [ -n "${NORVIK_BUILD_TYPE:-}" ] && args+=(-DCMAKE_BUILD_TYPE="$NORVIK_BUILD_TYPE")
    [ -n "${NORVIK_SANITIZE:-}" ] && args+=(-DNORVIK_SANITIZE="$NORVIK_SANITIZE")
    args+=(${NORVIK_CMAKE_ARGS[@]+"${NORVIK_CMAKE_ARGS[@]}"})
    echo "== configuring $NORVIK_BUILD_DIR (preset $NORVIK_PRESET)"
    (cd "$NORVIK_SOURCE_DIR" && cmake "${args[@]}" >/dev/null)
    echo "== building"
    cmake --build "$NORVIK_BUILD_DIR" -j "$(nproc)"
}

# Installs the library of a build folder into <dir>/prefix and builds the sample
# screen against that tree alone into <dir>/screen, as an interface project would.
# Extra arguments go to the screen's configure step. The touch controller's library
# comes with the platform: on the desk it is the stand-in of the build folder. The
# package is named by its folder too, as a cross build looks for packages only
# below its sysroot.
norvik_build_screen() {
    local build dir=$2
    build=$(cd "$1" && pwd)
    shift 2
    cmake --install "$build" --prefix "$dir/prefix" >/dev/null
    local config
    config=$(find "$dir/prefix" -name NorvikLinkConfig.cmake)
    cmake -S "$NORVIK_SOURCE_DIR/examples/remote-screen" -B "$dir/screen" \
        -DCMAKE_PREFIX_PATH="$dir/prefix" -DNorvikLink_DIR="${config%/*}" \
        -DCMAKE_EXE_LINKER_FLAGS_INIT="-Wl,-rpath-link,$build/sim/egalax" \
        "$@" >"$dir/configure.log" || { cat "$dir/configure.log"; return 1; }
    cmake --build "$dir/screen" >"$dir/build.log" || { cat "$dir/build.log"; return 1; }
}

norvik_pids=()
# Starts a virtual X server of the remote's screen size in the background (its process
# id goes to norvik_pids, its output to <dir>/xvfb.log) and points DISPLAY at it.
norvik_start_xvfb() {
    local dir=$1
    exec 3>"$dir/display"
    Xvfb -displayfd 3 -screen 0 800x480x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
    norvik_pids+=($!)
    for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
    exec 3>&-
    export DISPLAY=:$(cat "$dir/display")
}

# Starts the stand-ins and the sample screen of <dir>/screen on $DISPLAY, in the
# background (their process ids go to norvik_pids, their output to <dir>/*.log).
# Extra arguments: an emulator to run the programs with (a cross build).
norvik_run_screen() {
    local build=$1 dir=$2
    shift 2
    rm -f "$dir/env"
    "$@" "$build/sim/desk/norvik-standins" --env "$dir/env" --notify-every 20 \
        --http-port "${NORVIK_SCREEN_HTTP_PORT:-8080}" >"$dir/standins.log" 2>&1 &
    norvik_pids+=($!)
    for _ in $(seq 300); do [ -s "$dir/env" ] && break; sleep 0.1; done
    (
        . "$dir/env"
        export LD_LIBRARY_PATH=$build/sim/egalax QT_QUICK_BACKEND=software
        exec "$@" "$dir/screen/remote-screen" >"$dir/screen.log" 2>&1
    ) &
    norvik_pids+=($!)
}

# Runs a command in a private network namespace with only loopback, so the remote it
# brings up cannot reach any real base unit, while this machine's browser still reaches
# its web ports: for each port given in NORVIK_WEB_PORTS a relay listens on this
# machine's 127.0.0.1 and carries each connection to the same port inside. Without
# namespaces the command runs here. Ctrl-C and kill reach the command.
norvik_run_private() {
    if ! unshare --net true 2>/dev/null; then
        exec "$@"
    fi
    "${norvik_netns[@]}" "$@" &
    local inside=$! port status=0
    trap 'kill -TERM $inside 2>/dev/null' INT TERM
    trap 'kill "${norvik_pids[@]}" 2>/dev/null' EXIT
    for port in ${NORVIK_WEB_PORTS:-}; do
        socat "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork" \
            "EXEC:nsenter --net=/proc/$inside/ns/net socat STDIO TCP\:127.0.0.1\:$port" &
        norvik_pids+=($!)
    done
    # A trapped signal ends the wait early; wait again until the command has gone,
    # and pass on its exit status.
    while kill -0 $inside 2>/dev/null; do wait $inside && status=0 || status=$?; done
    return $status
}

# Runs ctest in the build folder with extra arguments, in a private network namespace
# with only loopback, so no test can reach any host outside this machine.
norvik_run_suite() {
    cd "$NORVIK_BUILD_DIR"
    local ctest_cmd=(ctest --output-on-failure --no-tests=error -j "$(nproc)" "$@")
    if unshare --net true 2>/dev/null; then
        echo "== running the suite in a private network namespace"
        exec "${norvik_netns[@]}" "${ctest_cmd[@]}"
    else
        echo "== unshare --net is not permitted here; running on the host network (loopback only by design)"
        exec "${ctest_cmd[@]}"
    fi
}
