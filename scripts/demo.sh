#!/usr/bin/env bash
# Brings the whole remote up on the desk against the stand-ins (internal
# processor, base unit on loopback, launcher, machine-stop line) in temporary
# folders and prints what happens. Extra arguments go to the desk runner
# (--seconds N, --trace, --log); Ctrl-C stops it. It runs in a private
# network namespace with only loopback when the machine allows it, so the
# remote cannot reach any real base unit; the status page (8080) and the live
# feed (6259) are relayed to this machine's 127.0.0.1 for a browser here.
#
# --gui instead installs the library, builds the sample screen against the
# installed tree and runs it against the stand-ins: on $DISPLAY when there is
# one, else on a virtual X server, with a screenshot saved every 5 s.
# --gui --seconds N stops after N seconds.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
norvik_install_packages
norvik_build
# The status page and REST API (8080) and the live feed (6259), reachable from this
# machine's browser on 127.0.0.1.
export NORVIK_WEB_PORTS="8080 6259"
if [ "${1:-}" != --gui ]; then
    norvik_run_private "$NORVIK_BUILD_DIR/sim/desk/norvik-desk" "$@"
    exit
fi
if [ "${2:-}" = --seconds ]; then
    export NORVIK_SCREEN_SECONDS=${3:-0}
fi
screen_dir=$NORVIK_BUILD_DIR/remote-screen
mkdir -p "$screen_dir"
echo "== installing into $screen_dir/prefix and building the sample screen against it"
norvik_build_screen "$NORVIK_BUILD_DIR" "$screen_dir"
norvik_run_private bash "$NORVIK_SOURCE_DIR/scripts/screen-demo.sh" "$NORVIK_BUILD_DIR" "$screen_dir"
