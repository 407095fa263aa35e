#!/usr/bin/env bash
# Brings the remote up on the desk against the stand-ins in a temporary
# sysroot and prints what happens on the links. Extra arguments go to the
# desk runner (e.g. --seconds 20); Ctrl-C stops it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
norvik_install_packages
norvik_build
exec "$NORVIK_BUILD_DIR/sim/desk/norvik-desk" "$@"
