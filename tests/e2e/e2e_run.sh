#!/usr/bin/env bash
# velo.exe end to end: the product itself, with no /machine, finds and updates simulated drives
# through SetupAPI, CreateFileW and DeviceIoControl under wine. For each example machine the host
# build runs it first (velo_served_machine, which also writes what the test driver serves); then
# a fresh copy of a prepared wine prefix gets the test driver and that served file, velo.exe runs
# with /s /log /json /trace, and its console output, log, result document and every open and
# control request (bytes sent and returned) must equal the host run's. Only what must differ is
# set aside: the clock, the input command the log and document quote, the computer's name.
#
# usage: e2e_run.sh BUILD_WINDOWS_DIR SERVED_MACHINE_TOOL SCRATCH_DIR [EXAMPLE_NAME...]
# A missing prerequisite is a failure, never a skip. Prints one line per check and
# "N passed, M failed"; exits 0 only when nothing failed.
set -u

if [[ $# -lt 3 ]]; then
    echo "usage: $0 BUILD_WINDOWS_DIR SERVED_MACHINE_TOOL SCRATCH_DIR [EXAMPLE_NAME...]" >&2
    exit 2
fi
here=$(realpath -- "$(dirname -- "${BASH_SOURCE[0]}")")
examples=$(realpath -- "$here/../../examples")
build_windows=$1
served_tool=$2
mkdir -p -- "$3"
scratch=$(realpath -- "$3")
shift 3

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS: $1"; }
fail() { failed=$((failed + 1)); echo "FAIL: $1"; }
finish() {
    echo "$passed passed, $failed failed"
    [[ $failed == 0 ]]
    exit
}

for needed in "$build_windows/velo.exe" "$build_windows/e2e/velo_served.sys" \
              "$build_windows/e2e/served_ctl.exe" "$served_tool"; do
    if [[ ! -f $needed ]]; then
        fail "$needed is not built (cmake --preset windows && cmake --build --preset windows; cmake --build --preset host)"
    fi
done
for tool in wine wineserver python3; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps all)"
done
[[ $failed == 0 ]] || finish
velo_exe=$(realpath -- "$build_windows/velo.exe")

# Machines the driver cannot serve under wine are refused by the served tool with the limit
# that stops them: an open that fails (wine hands out a handle before the driver sees the open),
# or a disk's bus number read by DevInst from a second device set (wine numbers DevInst per set).

export VELO_E2E_BIN=$build_windows/e2e
source "$here/served_prefix.sh"

template="$scratch/template"
start=$SECONDS
if ! served_prepare "$template" >"$scratch/prepare.log" 2>&1; then
    fail "the wine prefix cannot be prepared (see $scratch/prepare.log)"
    finish
fi
echo "prefix prepared in $((SECONDS - start)) s"

# The lines of a log or console output with the clock set aside.
without_clock() {
    sed -E 's/[0-9]{2}-[0-9]{2}-[0-9]{4}\([0-9]{2}:[0-9]{2}:[0-9]{2}\)/<time>/g' -- "$1" |
        grep -v '^Input Command : '
}
# The document with what must differ set aside.
document_of() {
    python3 - "$1" <<'PY'
import json, sys
document = json.load(open(sys.argv[1], encoding="utf-8"))
run = document.get("run", {})
for field in ("host", "inputCommand", "startTime", "endTime", "startTimeUtc", "endTimeUtc"):
    run.pop(field, None)
run["switches"] = [s for s in run.get("switches", []) if s != "/machine"]
print(json.dumps(document, indent=1, sort_keys=True))
PY
}
# Every open and control request with its bytes; set and device-instance numbers aside.
requests_of() {
    grep -E '"op":"(openDevice|control|closeDevice)"' -- "$1" | sed 's/^{"seq":[0-9]*,//'
}

# One machine: the host run (which writes the served file), the served prefix, velo.exe on it,
# and the comparison; the verdict goes to DIR/verdict as "PASS: ...", "FAIL: ..." or
# "NOT SERVED: ...".
one_machine() {
    local name=$1 dir=$scratch/$1 machine_start=$SECONDS
    rm -rf -- "$dir" && mkdir -p -- "$dir"
    local machine=$examples/$name.json
    [[ -f $machine ]] || machine=$here/machines/$name.json
    "$served_tool" "$dir/served.bin" "$machine" /s /log "$dir/host.log" \
        /json "$dir/host.json" /trace "$dir/host.jsonl" >"$dir/host.out" 2>"$dir/host.err"
    local host_status=$?
    if [[ $host_status == 3 ]]; then
        echo "NOT SERVED: $name: $(sed 's/^velo_served_machine: cannot serve [^:]*: //' "$dir/host.err")" >"$dir/verdict"
        return
    fi
    local prefix="$dir/prefix"
    if ! served_machine "$template" "$prefix" "$dir/served.bin" >"$dir/install.log" 2>&1; then
        echo "FAIL: $name: the served machine does not come up (see $dir/install.log)" >"$dir/verdict"
        return
    fi
    (cd -- "$dir" && served_run "$prefix" "$velo_exe" /s /log 'C:\v.log' /json 'C:\v.json' \
        /trace 'C:\v.jsonl' </dev/null >exe.out 2>exe.err)
    local exe_status=$?
    local file
    for file in log json jsonl; do
        cp -- "$prefix/drive_c/v.$file" "$dir/exe.$file" 2>/dev/null
    done
    local differs=()
    [[ $host_status == "$exe_status" ]] || differs+=("exit status $host_status / $exe_status")
    cmp -s -- "$dir/host.out" "$dir/exe.out" || differs+=("console output")
    cmp -s <(without_clock "$dir/host.log") <(without_clock "$dir/exe.log" 2>/dev/null) ||
        differs+=("log")
    cmp -s <(document_of "$dir/host.json") <(document_of "$dir/exe.json" 2>/dev/null) ||
        differs+=("result document")
    cmp -s <(requests_of "$dir/host.jsonl") <(requests_of "$dir/exe.jsonl" 2>/dev/null) ||
        differs+=("requests")
    grep -q '^served [0-9]* departures 0$' "$dir/exe.err" ||
        differs+=("served answers ($(grep '^served' "$dir/exe.err" | head -2 | tr '\n' ' '))")
    if [[ ${#differs[@]} == 0 ]]; then
        echo "PASS: $name: velo.exe on the served machine matches the host run ($((SECONDS - machine_start)) s)" >"$dir/verdict"
    else
        echo "FAIL: $name: ${differs[*]} differ (see $dir)" >"$dir/verdict"
    fi
    # The prefix is the largest part of what is left; the outputs stay for a look.
    [[ ${#differs[@]} != 0 ]] || rm -rf -- "$prefix"
}

# Every example machine, and the machines of this folder that show what no example can.
if [[ $# -eq 0 ]]; then
    set -- $(cd -- "$examples" && ls -- *.json | sed 's/\.json$//') \
        $(cd -- "$here/machines" && ls -- *.json | sed 's/\.json$//')
fi
# Three machines at a time (they mostly wait on wine): each has its own prefix and server.
jobs=${VELO_E2E_JOBS:-3}
for name in "$@"; do
    while [[ $(jobs -rp | wc -l) -ge $jobs ]]; do
        wait -n
    done
    one_machine "$name" &
done
wait
for name in "$@"; do
    verdict=$(cat -- "$scratch/$name/verdict" 2>/dev/null || echo "FAIL: $name: no verdict")
    case $verdict in
    PASS:*) passed=$((passed + 1)) ;;
    FAIL:*) failed=$((failed + 1)) ;;
    esac
    echo "$verdict"
done
echo "end to end in $((SECONDS - start)) s"
finish
