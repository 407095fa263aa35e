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

norvik_packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite libqt5websockets5-dev qtdeclarative5-dev
    libbenchmark-dev iproute2 util-linux dbus dbus-daemon python3 openssl
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
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
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

# Runs ctest in the build folder with extra arguments, in a private network namespace
# with only loopback, so no test can reach any host outside this machine.
norvik_run_suite() {
    cd "$NORVIK_BUILD_DIR"
    local ctest_cmd=(ctest --output-on-failure --no-tests=error -j "$(nproc)" "$@")
    if unshare --net true 2>/dev/null; then
        echo "== running the suite in a private network namespace"
        exec unshare --net bash -c 'ip link set lo up && exec "$@"' ctest-netns "${ctest_cmd[@]}"
    else
        echo "== unshare --net is not permitted here; running on the host network (loopback only by design)"
        exec "${ctest_cmd[@]}"
    fi
}
