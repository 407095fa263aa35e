#!/usr/bin/env bash
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
norvik_install_packages
norvik_build
echo "the desk runner arrives with the internal processor stand-in"
