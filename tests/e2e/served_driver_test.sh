#!/usr/bin/env bash
# velo_served.sys under wine: it refuses every damaged served file with a line saying why and
# the install failing; on a small served machine velo.exe finds the controller and its disk
# through SetupAPI with the served ids and properties, gets the served answer of the request
# that matches the next reply, and a request that does not match fails and is counted.
# Exits 77 (skipped) when the windows build is not there.
#
# Usage: served_driver_test.sh VELO_EXE SCRATCH_DIR
set -u

if [[ $# -ne 2 ]]; then
    echo "usage: $0 VELO_EXE SCRATCH_DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ ! -f $1 ]]; then
    echo "SKIP: $1 is not built (cmake --preset windows && cmake --build --preset windows)"
    exit 77
fi
velo_exe=$(realpath -- "$1")
export VELO_E2E_BIN=$(dirname -- "$velo_exe")/e2e
if [[ ! -f $VELO_E2E_BIN/velo_served.sys ]]; then
    echo "SKIP: $VELO_E2E_BIN/velo_served.sys is not built"
    exit 77
fi
mkdir -p -- "$2"
scratch=$(realpath -- "$2")
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all

# shellcheck source=served_prefix.sh
source "$here/served_prefix.sh"

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS: $1"; }
fail() { failed=$((failed + 1)); echo "FAIL: $1"; }

template=$scratch/template
if ! served_prepare "$template"; then
    echo "FAIL: preparing a wine prefix"
    echo "0 passed, 1 failed"
    exit 1
fi

# Damaged served files: kind | the driver's reason.
# Each damaged file in a prefix of its own, three at a time; the verdicts are read in order.
refusal() {
    local kind=$1 reason=$2 status
    python3 "$here/served_file.py" "$kind" "$scratch/$kind.bin"
    served_machine "$template" "$scratch/$kind" "$scratch/$kind.bin" 2>"$scratch/$kind.err"
    status=$?
    if [[ $status -ne 0 ]] &&
        grep -q "velo_served: refusing C:.velo-served.bin at byte [0-9]*: $reason" "$scratch/$kind.err" &&
        grep -q "^served_ctl: starting the service velo_served failed" "$scratch/$kind.err"; then
        echo "PASS: $kind: refused ($reason)" >"$scratch/$kind.verdict"
    else
        echo "FAIL: $kind: status $status, expected a refusal saying \"$reason\": $(cat "$scratch/$kind.err")" >"$scratch/$kind.verdict"
    fi
    rm -rf -- "${scratch:?}/$kind"
}
kinds=()
while IFS='|' read -r kind reason; do
    while [[ $(jobs -rp | wc -l) -ge 3 ]]; do
        wait -n
    done
    kinds+=("$kind")
    refusal "$kind" "$reason" &
done <<'EOF'
empty|file ends inside a record
bad-magic|bad magic
truncated|file ends inside a record
huge-device-count|device count larger than the file
huge-string|string longer than the file
nul-in-string|string holds a NUL
trailing-bytes|bytes after the last reply
target-out-of-range|reply target out of range
huge-output|file ends inside a record
EOF
wait
for kind in "${kinds[@]}"; do
    verdict=$(cat -- "$scratch/$kind.verdict" 2>/dev/null || echo "FAIL: $kind: no verdict")
    case $verdict in
    PASS:*) pass "${verdict#PASS: }" ;;
    *) fail "${verdict#FAIL: }" ;;
    esac
done

# The small machine: velo.exe sees the served devices and gets the first reply; its next request
# is not the recorded one.
python3 "$here/served_file.py" small "$scratch/small.bin"
machine=$scratch/small
if served_machine "$template" "$machine" "$scratch/small.bin" 2>"$scratch/small-install.err"; then
    pass "small: installed and ready"
else
    fail "small: install failed: $(cat "$scratch/small-install.err")"
fi
served_run "$machine" "$velo_exe" /s /trace 'C:\small.jsonl' >"$scratch/small.out" 2>"$scratch/small.err"
status=$?
trace=$machine/drive_c/small.jsonl
[[ $status -eq 0 ]] && pass "small: velo.exe exits 0" || fail "small: velo.exe exit status $status"

# What the trace must hold: the served properties and paths, and the served answer.
while IFS='|' read -r what needle; do
    if grep -qF -- "$needle" "$trace" 2>/dev/null; then
        pass "small: $what"
    else
        fail "small: $what: no $needle in $trace"
    fi
done <<'EOF'
controller interface path|"path":"\\\\?\\pci#ven_7a3c&dev_0b21&subsys_b2017a3c&rev_01#4&2f1a3b5c&0&0008#{2accfe60-c130-11d2-b082-00a0c91efb8b}"
disk parent|"key":"parent","result":"read","value":"PCI\\VEN_7A3C&DEV_0B21&SUBSYS_B2017A3C&REV_01\\4&2F1A3B5C&0&0008"
disk hardware ids|"value":["SCSI\\DiskNVMe____VANTORA_QX7B2_1TB","GenDisk"]
disk instance id|"key":"instance-id","result":"read","value":"SCSI\\DISK&VEN_NVME&PROD_VANTORA_QX7B2\\5&1C2D3E4F&0&000000"
served device number|"code":"0x2D1080","inputLength":0,"outputLength":12,"input":"","result":"ok","bytesReturned":12,"output":"070000000000000000000000"
PhysicalDrive0 link|"path":"\\\\.\\PHYSICALDRIVE0","access":"0xC0000000","share":"0x3","flags":"0x0","result":"ok"
EOF
if grep -q '"code":"0x2D1400".*"result":"error","error":1}' "$trace" 2>/dev/null; then
    pass "small: the unmatched request fails with error 1"
else
    fail "small: the unmatched request did not fail with error 1"
fi
if grep -qx "served 1 departures 1" "$scratch/small.err" &&
    grep -q "^served_ctl: first departure: target 1 code 0x002D1400 input 4144 output 4144 hash 0x[0-9A-F]*; reply 1 was next for that target$" "$scratch/small.err"; then
    pass "small: one reply served, one departure counted against reply 1"
else
    fail "small: counts: $(cat "$scratch/small.err")"
fi

# Removal leaves neither the service nor the root device.
WINEPREFIX=$machine wine 'C:\served_ctl.exe' remove >"$scratch/remove.out" 2>"$scratch/remove.err"
status=$?
WINEPREFIX=$machine wine reg query 'HKLM\System\CurrentControlSet\Services\velo_served' \
    >"$scratch/remove-service.out" 2>&1
service=$?
WINEPREFIX=$machine wine reg query 'HKLM\System\CurrentControlSet\Enum\ROOT\VELO_SERVED' \
    >"$scratch/remove-device.out" 2>&1
device=$?
WINEPREFIX=$machine wineserver -w
if [[ $status -eq 0 && $service -ne 0 && $device -ne 0 ]]; then
    pass "remove: service and root device gone"
else
    fail "remove: status $status, service query $service, device query $device"
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
