#!/usr/bin/env bash
# Installs the library into a temporary prefix, builds the sample screen against
# that tree alone, and runs it under Xvfb against the stand-ins: the handshake
# must show SELECTED and the remote's identity (4660) in its row, and a click on
# Arm must show ARMED. Text is read from regions of screenshots.
# Arguments: build folder, the emulator of a cross build (may be empty), then the
# screen's configure arguments (sanitizers, toolchain).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/setup.sh"
build=$1
read -r -a emulator <<<"${2//;/ }"
shift 2
work=$(mktemp -d)
trap 'kill "${norvik_pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

norvik_build_screen "$build" "$work" "$@"
if grep -rqF "$build" "$work/prefix/lib/cmake" "$work/prefix/include"; then
    echo "FAIL: the installed package refers to the build tree"
    exit 1
fi
norvik_start_xvfb "$work"
NORVIK_SCREEN_HTTP_PORT=18080 norvik_run_screen "$build" "$work" "${emulator[@]}"

shot=$build/remote-screen.png
# Reads the text in a region (WxH+X+Y) of a fresh screenshot.
read_region() {
    import -window root "$shot"
    convert "$shot" -crop "$1" -negate -scale 200% "$work/region.png"
    tesseract "$work/region.png" - --psm 7 2>/dev/null | tr -d '\n'
}
# Waits up to 60 s until the region reads the text.
expect_region() {
    local seen= deadline=$((SECONDS + 60))
    while [ $SECONDS -lt $deadline ]; do
        seen=$(read_region "$1")
        [[ "$seen" == *"$2"* ]] && return 0
        sleep 0.3
    done
    echo "FAIL: expected \"$2\" in region $1, read \"$seen\""
    cat "$work/standins.log"
    tail -20 "$work/screen.log"
    exit 1
}
state=480x80+10+5 identity=280x50+210+100
expect_region $state SELECTED
expect_region $identity 4660
xdotool mousemove 110 433 click 1
expect_region $state ARMED
grep -q "request from the remote: ARM_REQUEST" "$work/standins.log" \
    || { echo "FAIL: the arm request never reached the internal processor"; exit 1; }
echo "screenshot: $shot"
