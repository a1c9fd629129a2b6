#!/usr/bin/env bash
# The host program as a user runs it: exit statuses, banners, the log file, command-line errors.
# usage: host_cli.sh VELO SCRATCH_DIR
set -uo pipefail
velo=$1
scratch=$2
rm -rf "$scratch" && mkdir -p "$scratch"
passed=0 failed=0
check() {  # check NAME CONDITION...
    local name=$1; shift
    if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $name"; fi
}
contains() { grep -qF -- "$2" "$1"; }

empty="$scratch/empty.json"
printf '{ "format": "velo-machine", "version": 1 }\n' > "$empty"

"$velo" /S /machine "$empty" >"$scratch/out" 2>"$scratch/err"
status=$?
check "silent run exits 0" test "$status" -eq 0
check "start banner" contains "$scratch/out" $'\n >> VELO Started \n\n'
check "start banner line" grep -qxF ' >> VELO Started ' "$scratch/out"
check "end banner line" grep -qxF ' >> VELO Ended (Return Code : 1)' "$scratch/out"
check "silent: no message box" test ! -s "$scratch/err"

"$velo" /machine "$empty" /LOG "$scratch/result.log" >"$scratch/out" 2>"$scratch/err"
check "log run exits 0" test $? -eq 0
check "message box on stderr" contains "$scratch/err" "No disks are available for download."
check "log written" test -s "$scratch/result.log"
check "log has CR LF" contains "$scratch/result.log" $'[No Disk]\r\n'
check "log input command" grep -qF "Input Command : /machine $empty /LOG $scratch/result.log"$'\r' "$scratch/result.log"
check "log final result" contains "$scratch/result.log" $'Result Details : Unable to update firmware.\r\n'
check "log has no bare LF" test "$(tr -d '\r' < "$scratch/result.log" | wc -c)" -eq "$(( $(wc -c < "$scratch/result.log") - $(grep -c '' "$scratch/result.log") ))"

for bad in "/bogus" "/log" "/s /machine" "/trace" "/log /s"; do
    rm -f "$scratch/bad.log"
    # shellcheck disable=SC2086
    (cd "$scratch" && "$velo" $bad >"$scratch/out" 2>"$scratch/err")
    check "'$bad' exits 87" test $? -eq 87
    check "'$bad' explains on stderr" contains "$scratch/err" "Usage: velo"
    check "'$bad' prints nothing on stdout" test ! -s "$scratch/out"
done
"$velo" /s /log "$scratch/bad.log" /nonsense >/dev/null 2>&1
check "bad switch writes no log" test ! -e "$scratch/bad.log"

printf '{ "format": "velo-machine", "version": 99 }' > "$scratch/bad.json"
"$velo" /s /machine "$scratch/bad.json" >"$scratch/out" 2>"$scratch/err"
check "bad machine file exits 87" test $? -eq 87
check "bad machine file is named" contains "$scratch/err" "bad.json"
check "bad machine file runs nothing" test ! -s "$scratch/out"

"$velo" '/?' >"$scratch/out" 2>&1
check "usage exits 0" test $? -eq 0
check "usage printed" contains "$scratch/out" "/machine FILE"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
