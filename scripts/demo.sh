#!/usr/bin/env bash
# Brings the whole remote up on the desk against the stand-ins (internal
# processor, base unit on loopback, launcher, machine-stop line) in temporary
# folders and prints what happens. Extra arguments go to the desk runner
# (--seconds N, --trace, --log); Ctrl-C stops it. It runs in a private
# network namespace with only loopback when the machine allows it, so the
# remote cannot reach any real base unit.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
norvik_install_packages
norvik_build
desk="$NORVIK_BUILD_DIR/sim/desk/norvik-desk"
if unshare --net true 2>/dev/null; then
    exec unshare --net bash -c 'ip link set lo up && exec "$@"' desk "$desk" "$@"
fi
exec "$desk" "$@"
