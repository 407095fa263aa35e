#!/usr/bin/env bash
# The sample screen against the stand-ins, until Ctrl-C (or NORVIK_SCREEN_SECONDS).
# Run by demo.sh --gui: screen-demo.sh <build folder> <screen folder>.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
build=$1 dir=$2
trap 'kill "${norvik_pids[@]}" 2>/dev/null; wait 2>/dev/null' EXIT
trap 'exit 0' INT TERM
shot=
if [ -z "${DISPLAY:-}" ]; then
    norvik_start_xvfb "$dir"
    shot=$dir/remote-screen.png
    echo "== no display: the screen runs on a virtual X server; screenshot every 5 s: $shot"
fi
norvik_run_screen "$build" "$dir"
echo "== the screen is up; REST API and status page: http://127.0.0.1:${NORVIK_SCREEN_HTTP_PORT:-8080}/"
echo "== what reaches the stand-ins ($dir/standins.log; the library's log: $dir/screen.log):"
tail -n +1 -f "$dir/standins.log" &
norvik_pids+=($!)
end=$((SECONDS + ${NORVIK_SCREEN_SECONDS:-0}))
while [ "${NORVIK_SCREEN_SECONDS:-0}" = 0 ] || [ $SECONDS -lt $end ]; do
    sleep 5
    [ -n "$shot" ] && import -window root "$shot"
done
