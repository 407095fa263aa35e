#!/usr/bin/env bash
# Builds libnorviklink and runs the whole test suite with ctest.
# The suite runs in a private network namespace with only loopback, so no
# test can reach any host outside this machine.
# Extra arguments go to ctest (e.g. -L unit, -R tst_transportlayer).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

norvik_install_packages
norvik_build

norvik_run_suite "$@"
