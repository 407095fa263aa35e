#!/usr/bin/env bash
# Brings the whole remote up on the desk against the stand-ins (internal
# processor, base unit on loopback, launcher, machine-stop line) in temporary
# folders and prints what happens. Extra arguments go to the desk runner
# (--seconds N, --trace, --log); Ctrl-C stops it. It runs in a private
# network namespace with only loopback when the machine allows it, so the
# remote cannot reach any real base unit.
#
# --gui instead installs the library, builds the sample screen against the
# installed tree and runs it against the stand-ins: on $DISPLAY when there is
# one, else on a virtual X server, with a screenshot saved every 5 s.
# --gui --seconds N stops after N seconds.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
norvik_install_packages
norvik_build
in_private_network() {
    if unshare --net true 2>/dev/null; then
        exec unshare --net bash -c 'ip link set lo up && exec "$@"' private "$@"
    fi
    exec "$@"
}
if [ "${1:-}" != --gui ]; then
    in_private_network "$NORVIK_BUILD_DIR/sim/desk/norvik-desk" "$@"
fi
if [ "${2:-}" = --seconds ]; then
    export NORVIK_SCREEN_SECONDS=${3:-0}
fi
screen_dir=$NORVIK_BUILD_DIR/remote-screen
mkdir -p "$screen_dir"
echo "== installing into $screen_dir/prefix and building the sample screen against it"
norvik_build_screen "$NORVIK_BUILD_DIR" "$screen_dir"
in_private_network bash "$NORVIK_SOURCE_DIR/scripts/screen-demo.sh" "$NORVIK_BUILD_DIR" "$screen_dir"
