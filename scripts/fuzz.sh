#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each of them for the given
# number of seconds, one after another (or -j N at once), at low priority.
#
#   scripts/fuzz.sh [-j N] [seconds] [harness ...]     (default 60 s, all harnesses)
#
# Every harness starts from its seeds in fuzz/corpus/<harness>/, copied into a
# working corpus in build-fuzz/corpus-work/<harness>/ that grows from run to run;
# nothing is written into the source tree. Logs go to build-fuzz/fuzz-logs/, and
# the input of a crash, leak, timeout or out-of-memory to
# build-fuzz/fuzz-artifacts/<harness>/. Harnesses that open sockets run in a
# private network namespace with only loopback up.
#
# Prints runs, coverage, exec/s, peak RSS and the result per harness, and exits
# non-zero when any harness found something.
#   NORVIK_FUZZ_NICE   niceness of the runs (default 15)
#   NORVIK_FUZZ_BUILD  build folder (default: build-fuzz)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

jobs=1
while getopts "j:h" option; do
    case $option in
    j) jobs=$OPTARG ;;
    *)
        sed -n '2,18p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
        exit 2
        ;;
    esac
done
shift $((OPTIND - 1))
seconds=60
if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi

# harness, path below the build folder, dictionary (or -), needs a network namespace
harnesses=(
    "fuzz_transport    fuzz/internal_link/fuzz_transport  -                               no"
    "fuzz_services     fuzz/services/fuzz_services        fuzz/ruzad/ruzad.dict            no"
    "fuzz_ruzad_parse  fuzz/ruzad/fuzz_ruzad_parse        fuzz/ruzad/ruzad.dict            no"
    "fuzz_configfile   fuzz/database/fuzz_configfile      -                               no"
    "fuzz_tag          fuzz/database/fuzz_tag             -                               no"
    "fuzz_launcher     fuzz/launcher/fuzz_launcher        fuzz/launcher/launcher.dict      no"
    "fuzz_httprequest  fuzz/httpserver/fuzz_httprequest   fuzz/httpserver/http.dict        no"
    "fuzz_multipart    fuzz/httpserver/fuzz_multipart     fuzz/httpserver/http.dict        no"
    "fuzz_jsoninterface fuzz/webservices/fuzz_jsoninterface fuzz/webservices/jsoninterface.dict yes"
    "fuzz_wifi         fuzz/wifi/fuzz_wifi                -                               yes"
)
if [ $# -gt 0 ]; then
    selected=()
    for wanted in "$@"; do
        found=
        for entry in "${harnesses[@]}"; do
            read -r name _ <<<"$entry"
            [ "$name" = "$wanted" ] && selected+=("$entry") && found=1
        done
        [ -n "$found" ] || { echo "unknown harness: $wanted" >&2; exit 2; }
    done
    harnesses=("${selected[@]}")
fi

# clang with its sanitizer and libFuzzer runtimes, on top of the project's packages.
norvik_packages+=(clang libclang-rt-dev)
norvik_install_packages

build=${NORVIK_FUZZ_BUILD:-$NORVIK_SOURCE_DIR/build-fuzz}
nice_level=${NORVIK_FUZZ_NICE:-15}
launchers=()
if command -v ccache >/dev/null; then
    launchers=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
echo "== configuring $build"
CC=clang CXX=clang++ cmake -S "$NORVIK_SOURCE_DIR" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNORVIK_FUZZ=ON -DNORVIK_BENCH=OFF -DBUILD_TESTING=OFF "${launchers[@]}" >/dev/null
echo "== building the harnesses"
targets=()
for entry in "${harnesses[@]}"; do
    read -r name _ <<<"$entry"
    targets+=("$name")
done
nice -n "$nice_level" cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

netns=yes
if ! unshare --net true 2>/dev/null; then
    netns=no
    echo "== unshare --net is not permitted here: harnesses that open sockets are skipped"
fi

# Sanitizer findings end the run with the input saved; undefined behaviour counts
# as a crash. Leaks are looked for after every input (libFuzzer's -detect_leaks);
# what a harness sets up once and keeps until exit is not one.
export ASAN_OPTIONS=${ASAN_OPTIONS:-leak_check_at_exit=0:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

logs=$build/fuzz-logs
mkdir -p "$logs"

run_one() {
    local name=$1 binary=$2 dict=$3 needs_netns=$4
    local work=$build/corpus-work/$name artifacts=$build/fuzz-artifacts/$name log=$logs/$name.log
    mkdir -p "$work" "$artifacts"
    if [ -d "$NORVIK_SOURCE_DIR/fuzz/corpus/$name" ]; then
        cp -n "$NORVIK_SOURCE_DIR/fuzz/corpus/$name"/* "$work"/ 2>/dev/null || true
    fi
    local command=("$build/$binary" -max_total_time="$seconds" -timeout=60 -print_final_stats=1
                   -artifact_prefix="$artifacts/")
    [ "$dict" != "-" ] && command+=(-dict="$NORVIK_SOURCE_DIR/$dict")
    command+=("$work")
    if [ "$needs_netns" = yes ]; then
        if [ "$netns" = no ]; then
            echo "skipped: no network namespace" >"$log"
            return 0
        fi
        command=("${norvik_netns[@]}" "${command[@]}")
    fi
    # Run from the build folder, so that nothing lands in the source tree.
    local status=0
    (cd "$build" && exec nice -n "$nice_level" "${command[@]}") >"$log" 2>&1 || status=$?
    echo "exit status: $status" >>"$log"
}

summary() {
    local name=$1 log=$logs/$1.log
    if grep -q '^skipped' "$log"; then
        printf '%-20s %10s %8s %8s %9s  %s\n' "$name" - - - - "skipped (no network namespace)"
        return 0
    fi
    local runs cov execs rss status artifact result
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    status=$(sed -n 's/^exit status: //p' "$log" | tail -1)
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    if [ "${status:-1}" = 0 ] && [ -z "$artifact" ]; then
        result=ok
    else
        local kind
        kind=$(grep -o -m1 -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer): [a-z-]+|runtime error|ERROR: UndefinedBehaviorSanitizer' "$log" || true)
        result="FOUND ${kind:-failure (exit $status)}; input: ${artifact:-none}; log: $log"
    fi
    printf '%-20s %10s %8s %8s %9s  %s\n' "$name" "${runs:--}" "${cov:--}" "${execs:--}" "${rss:+${rss} MB}" "$result"
    [ "$result" = ok ]
}

echo "== running ${#harnesses[@]} harnesses for ${seconds} s each, $jobs at a time"
running=0
for entry in "${harnesses[@]}"; do
    read -r name binary dict needs_netns <<<"$entry"
    echo "   $name"
    run_one "$name" "$binary" "$dict" "$needs_netns" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait

echo
printf '%-20s %10s %8s %8s %9s  %s\n' harness runs cov exec/s "peak RSS" result
failed=0
for entry in "${harnesses[@]}"; do
    read -r name _ <<<"$entry"
    summary "$name" || failed=1
done
exit $failed
