#!/usr/bin/env bash
# Web-services benchmark: the remote's HTTP server (REST API and static files)
# measured with wrk on loopback, next to Debian's nginx as the reference.
# Installs what it needs on a Debian 12 machine (as root), builds the benchmark
# with the project's usual set-up and runs it in a private network namespace
# with only loopback. Extra arguments go to bench_webservices, e.g.
#   scripts/bench-web.sh --duration 5 --connections 32
# nginx is installed for its binary only: the package's service is kept from
# starting (and stopped if it runs); the benchmark starts its own instance
# from a temporary folder.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

norvik_install_packages

bench_missing=()
for p in wrk nginx; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || bench_missing+=("$p")
done
if [ ${#bench_missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages and not root: ${bench_missing[*]}" >&2
        exit 1
    fi
    echo "== installing: ${bench_missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # A policy-rc.d answering 101 keeps the package scripts from starting nginx.
    policy=/usr/sbin/policy-rc.d
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' >"$policy"
        chmod 755 "$policy"
        trap 'rm -f "$policy"' EXIT
    fi
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${bench_missing[@]}"
    if trap -p EXIT | grep -q policy; then
        rm -f "$policy"
        trap - EXIT
    fi
fi
# Whatever started it before, the system's nginx is not left running.
if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
    systemctl disable --now nginx >/dev/null 2>&1 || true
elif [ -x /etc/init.d/nginx ]; then
    /etc/init.d/nginx stop >/dev/null 2>&1 || true
fi

echo "== configuring $NORVIK_BUILD_DIR"
cmake -S "$NORVIK_SOURCE_DIR" -B "$NORVIK_BUILD_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE="${NORVIK_BUILD_TYPE:-RelWithDebInfo}" \
    -DNORVIK_SANITIZE="${NORVIK_SANITIZE:-}" -DNORVIK_BENCH=ON >/dev/null
echo "== building bench_webservices"
cmake --build "$NORVIK_BUILD_DIR" -j "$(nproc)" --target bench_webservices

bench=("$NORVIK_BUILD_DIR/bench/webservices/bench_webservices" "$@")
if ! unshare --net true 2>/dev/null; then
    echo "unshare --net is not permitted here; the benchmark runs only in a private network namespace" >&2
    exit 1
fi
echo "== running in a private network namespace: ${bench[*]}"
exec "${norvik_netns[@]}" "${bench[@]}"
