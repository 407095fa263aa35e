#!/usr/bin/env bash
# Builds libnorviklink and runs the whole test suite with ctest.
# The suite runs in a private network namespace with only loopback, so no
# test can reach any host outside this machine.
# Extra arguments go to ctest (e.g. -L unit, -R tst_transportlayer).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

norvik_install_packages
norvik_build

cd "$NORVIK_BUILD_DIR"
ctest_cmd=(ctest --output-on-failure --no-tests=error -j "$(nproc)" "$@")
if unshare --net true 2>/dev/null; then
    echo "== running the suite in a private network namespace"
    exec unshare --net bash -c 'ip link set lo up && exec "$@"' ctest-netns "${ctest_cmd[@]}"
else
    echo "== unshare --net is not permitted here; running on the host network (loopback only by design)"
    exec "${ctest_cmd[@]}"
fi
