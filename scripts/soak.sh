#!/usr/bin/env bash
# Runs the desk runner's scenario (a full round every 14 s) for a long stretch and
# samples the remote's resident memory, thread count and open descriptors once per
# interval, then judges whether any of them grows beyond noise.
#   scripts/soak.sh [minutes] [desk runner options]     (default 30 minutes)
#   SOAK_INTERVAL   seconds between samples (default 60)
#   SOAK_WARMUP     samples left out of the verdict while caches fill (default 2)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
minutes=${1:-30}
shift || true
interval=${SOAK_INTERVAL:-60}
warmup=${SOAK_WARMUP:-2}

norvik_install_packages
norvik_build
desk="$NORVIK_BUILD_DIR/sim/desk/norvik-desk"
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

# The runner outlives the last sample by a little, so every sample sees it running.
seconds=$((minutes * 60 + interval / 2 + 5))
if unshare --net true 2>/dev/null; then
    "${norvik_netns[@]}" "$desk" --seconds "$seconds" "$@" \
        >"$work/desk.log" 2>&1 &
else
    "$desk" --seconds "$seconds" "$@" >"$work/desk.log" 2>&1 &
fi
pid=$!

echo "== soak: $minutes min, a sample every $interval s, runner pid $pid"
printf '%8s %10s %10s %8s %6s\n' "minute" "rss_kB" "anon_kB" "threads" "fds" | tee "$work/samples"
samples=$(( minutes * 60 / interval ))
for ((i = 0; i <= samples; i++)); do
    [ "$i" -gt 0 ] && sleep "$interval"
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "FAIL: the runner ended before the soak did"
        tail -20 "$work/desk.log"
        exit 1
    fi
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
    anon=$(awk '/^RssAnon:/ {print $2}' "/proc/$pid/status")
    threads=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")
    fds=$(find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 | wc -l)
    awk -v m="$((i * interval))" -v r="$rss" -v a="$anon" -v t="$threads" -v f="$fds" \
        'BEGIN { printf "%8.1f %10d %10d %8d %6d\n", m / 60, r, a, t, f }' | tee -a "$work/samples"
done
wait "$pid" || true
sed -n '/^summary after/,$p' "$work/desk.log"

# Verdict over the samples after the warm-up, comparing the last third with the
# first (medians, so one sample taken while a REST request held a handler thread and
# its socket, or one allocator step, does not decide): descriptors and threads may
# not end above what they reached in the first half, and resident memory, all of it
# and the anonymous part (the heap; the rest is the code and data of the binaries
# as the process touches them), may not rise by more than the larger of 1 MiB and 1 %.
python3 - "$work/samples" "$warmup" <<'PY'
import statistics, sys
rows = [list(map(float, l.split())) for l in open(sys.argv[1]).read().splitlines()[1:]]
rows = rows[int(sys.argv[2]):]
if len(rows) < 3:
    print("too few samples after the warm-up for a verdict"); sys.exit(1)
third = max(1, len(rows) // 3)
half = rows[: (len(rows) + 1) // 2]
span = max(rows[-1][0] - rows[0][0], 1e-9)
checks = []
for column, name in ((1, "resident memory"), (2, "anonymous memory")):
    first = statistics.median(r[column] for r in rows[:third])
    last = statistics.median(r[column] for r in rows[-third:])
    allowed = max(1024.0, first * 0.01)
    checks.append((name, last - first <= allowed,
                   f"median of the first third {first:.0f} kB, of the last {last:.0f} kB "
                   f"({last - first:+.0f} kB, allowed {allowed:.0f}; end to end "
                   f"{(rows[-1][column] - rows[0][column]) / span:+.1f} kB/min)"))
for column, name in ((3, "threads"), (4, "descriptors")):
    reached = max(r[column] for r in half)
    end = statistics.median(r[column] for r in rows[-third:])
    checks.append((name, end <= reached, f"first half up to {reached:.0f}, last third {end:.0f}"))
for name, ok, text in checks:
    print(f"{'ok  ' if ok else 'GROWS'} {name}: {text}")
ok = all(c[1] for c in checks)
print("verdict: " + ("no growth beyond noise" if ok else "growth"))
sys.exit(0 if ok else 1)
PY
