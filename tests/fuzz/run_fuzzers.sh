#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build, each for a fixed time, some at once. The machine-file
# target starts from examples/*.json, the others from the seeds velo_fuzz_seeds makes out of
# clean runs of the examples. Fails when a target finds a crash, a leak, a hang or a failed
# check; the input that did it is kept in BUILD_DIR/fuzz-run/artifacts (or in $VELO_FUZZ_WORK).
#   tests/fuzz/run_fuzzers.sh BUILD_DIR [SECONDS_EACH] [AT_ONCE] [TARGET...]
# Reproduce a finding:  BUILD_DIR/fuzzers/fuzz_<target> <artifact file>
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: run_fuzzers.sh BUILD_DIR [SECONDS_EACH] [AT_ONCE] [TARGET...]}" && pwd)
seconds=${2:-20}
at_once=${3:-2}
shift $(($# < 3 ? $# : 3))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for binary in "$build"/fuzzers/fuzz_*; do targets+=("${binary##*/fuzz_}"); done
fi

# Reports name functions and lines; a fresh machine has the symbolizer only under its version.
if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ] && [ -x /usr/lib/llvm-14/bin/llvm-symbolizer ]; then
    export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
fi
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

work=${VELO_FUZZ_WORK:-$build/fuzz-run}
rm -rf "$work"
mkdir -p "$work/logs" "$work/artifacts" "$work/corpus"
"$build/fuzzers/velo_fuzz_seeds" "$work/seeds" >"$work/logs/seeds.log"

run_target() {
    local name=$1 seeds=$work/seeds/$1
    local extra=()
    if [ "$name" = machine_file ]; then
        seeds=$source_dir/examples
        extra=(-dict="$source_dir/tests/fuzz/machine-file.dict")
    elif [ "$name" = replay ]; then
        # Recordings may grow past the seeds' 64 KiB at once, not step by step: room for a line
        # nested tens of thousands deep, which the stack of a recursive reader would not hold.
        extra=(-max_len=524288 -len_control=0)
    fi
    mkdir -p "$work/corpus/$name" "$seeds"
    # New inputs go to the first folder; the seeds are only read.
    "$build/fuzzers/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/$name-" "${extra[@]}" \
        "$work/corpus/$name" "$seeds" >"$work/logs/$name.log" 2>&1
}
export -f run_target
export build work seconds source_dir

started=$(date +%s)
printf '%s\n' "${targets[@]}" | xargs -P "$at_once" -I{} bash -c 'run_target {} || touch "$work/logs/{}.failed"'

failed=0
printf '%-18s %10s %8s %8s  %s\n' target executions cov ft result
for name in "${targets[@]}"; do
    log=$work/logs/$name.log
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" 2>/dev/null | tail -1 || true)
    cov=$(grep -oE 'cov: [0-9]+' "$log" 2>/dev/null | tail -1 | cut -d' ' -f2 || true)
    ft=$(grep -oE 'ft: [0-9]+' "$log" 2>/dev/null | tail -1 | cut -d' ' -f2 || true)
    result=ok
    if [ -e "$work/logs/$name.failed" ]; then
        result="FAILED (log: $log)"
        failed=1
    fi
    printf '%-18s %10s %8s %8s  %s\n' "$name" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
echo "fuzzing took $(($(date +%s) - started)) s"
if [ "$failed" -ne 0 ]; then
    for name in "${targets[@]}"; do
        if [ -e "$work/logs/$name.failed" ]; then
            echo "--- $name"
            tail -n 40 "$work/logs/$name.log" 2>/dev/null || true
        fi
    done
    ls -l "$work/artifacts"
    exit 1
fi
