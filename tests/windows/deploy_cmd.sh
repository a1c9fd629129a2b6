#!/usr/bin/env bash
# deploy/velo-deploy.cmd under wine's cmd, with velo-sim.exe copied beside it as velo.exe and a
# simulated machine passed on as the script's own argument: for each way a run ends, the status
# the deployment tool reads (ERRORLEVEL of a child cmd /c, as Intune and Configuration Manager
# start it), the outputs kept and copied to the share, and that no restart is ever asked for.
# Exits 77 (skipped) when velo.exe is not built, like wine_smoke.sh.
#
# Usage: deploy_cmd.sh VELO_EXE SCRATCH_DIR [WINEPREFIX_DIR]
set -u

if [[ $# -lt 2 ]]; then
    echo "usage: $0 VELO_EXE SCRATCH_DIR [WINEPREFIX_DIR]" >&2
    exit 2
fi
if [[ ! -f $1 ]]; then
    echo "SKIP: $1 is not built (cmake --preset windows && cmake --build --preset windows)"
    exit 77
fi
build_dir=$(dirname -- "$(realpath -- "$1")")
source_dir=$(realpath -- "$(dirname -- "${BASH_SOURCE[0]}")/../..")
rm -rf -- "$2" && mkdir -p -- "$2"
scratch=$(realpath -- "$2")
prefix=${3:-$build_dir/wineprefix}
mkdir -p -- "$prefix"
export WINEPREFIX=$(realpath -- "$prefix")
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine=${WINE:-wine}

passed=0
failed=0
check() {  # check NAME CONDITION...
    local name=$1
    shift
    if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $name"; fi
}

if ! command -v "$wine" >/dev/null || ! command -v wineserver >/dev/null; then
    echo "wine is not installed"
    echo "0 passed, 1 failed"
    exit 1
fi
trap 'wineserver -k >/dev/null 2>&1' EXIT

# The package as a deployment tool gets it: the script and velo.exe in one folder. The machine
# files lie beside it and are named relatively, as wine's cmd takes no quoted program name.
pkg=$scratch/pkg
mkdir -p -- "$pkg" "$scratch/machines" "$scratch/fake"
cp -- "$source_dir/deploy/velo-deploy.cmd" "$pkg/"
cp -- "$build_dir/velo-sim.exe" "$pkg/velo.exe"
for name in default power-cycle fails-third-chunk other-maker; do
    cp -- "$source_dir/examples/$name.json" "$scratch/machines/"
done
python3 - "$source_dir/examples/default.json" "$scratch/machines/held.json" <<'PY'
import json, sys
machine = json.load(open(sys.argv[1]))
machine["runLock"] = "held"
json.dump(machine, open(sys.argv[2], "w"))
PY
# A shutdown command found before the system's: it only notes that it was called.
printf '@echo off\r\necho shutdown %%*>>"%%~dp0called.txt"\r\n' >"$scratch/fake/shutdown.cmd"

# run NAME ARGS...: velo-deploy.cmd ARGS through a child cmd /c; output folder out-NAME, which
# holds an earlier run's files, share folder share-NAME.
run() {
    local name=$1
    shift
    mkdir -p -- "$scratch/out-$name" "$scratch/share-$name"
    printf 'earlier\r\n' >"$scratch/out-$name/result.log"
    printf 'earlier\r\n' >"$scratch/out-$name/result.json"
    printf '@echo off\r\nset "PATH=%%~dp0..\\fake;%%PATH%%"\r\nset "VELO_OUT=%%~dp0..\\out-%s"\r\nset "VELO_SHARE=%%~dp0..\\share-%s"\r\ncmd /c velo-deploy.cmd %s\r\necho ERRORLEVEL=%%ERRORLEVEL%%\r\n' \
        "$name" "$name" "$*" >"$pkg/run-$name.cmd"
    (cd -- "$pkg" && "$wine" cmd /c "run-$name.cmd" </dev/null >"$scratch/$name.out" 2>"$scratch/$name.err")
}
errorlevel_of() { tr -d '\r' <"$scratch/$1.out" | sed -n 's/^ERRORLEVEL=//p'; }
computer=$(cd -- "$pkg" && "$wine" cmd /c echo %COMPUTERNAME% </dev/null 2>/dev/null | tr -d '\r\n')

# name | arguments | status | whether the run writes its log and document.
while IFS='|' read -r name args status writes; do
    run "$name" $args
    check "$name: ERRORLEVEL $status" test "$(errorlevel_of "$name")" = "$status"
    if [[ $writes == yes ]]; then
        check "$name: the run's document kept" grep -qF '"format": "velo-result"' "$scratch/out-$name/result.json"
        check "$name: the run's log kept" grep -qF 'Input Command : /s /exitcode /log' "$scratch/out-$name/result.log"
        check "$name: the document copied to the share" \
            cmp -s "$scratch/out-$name/result.json" "$scratch/share-$name/$computer.json"
        check "$name: the log copied to the share" \
            cmp -s "$scratch/out-$name/result.log" "$scratch/share-$name/$computer.log"
    else
        check "$name: the earlier files left as they were" \
            test "$(cat "$scratch/out-$name/result.log" "$scratch/out-$name/result.json")" = $'earlier\r\nearlier\r'
        check "$name: nothing copied to the share" test -z "$(ls -A "$scratch/share-$name")"
    fi
done <<'EOF'
default|/machine ..\machines\default.json|0|yes
power-cycle|/machine ..\machines\power-cycle.json|3010|yes
fails-third-chunk|/machine ..\machines\fails-third-chunk.json|1|yes
held|/machine ..\machines\held.json|1618|no
bad-switch|/machine ..\machines\default.json /bogus|87|no
other-maker|/machine ..\machines\other-maker.json|2|yes
EOF
check "the arguments reach velo.exe" grep -qF '/bogus' "$scratch/bad-switch.err"
check "the lock holder's line passes through" \
    grep -qF 'velo: another run of VELO is in progress on this machine; nothing was done' "$scratch/held.err"
check "no restart is ever asked for" test ! -e "$scratch/fake/called.txt"

# The script's own steps: no velo.exe beside it, an output folder that cannot be made.
mv -- "$pkg/velo.exe" "$pkg/velo.exe.away"
run no-velo /machine '..\machines\default.json'
mv -- "$pkg/velo.exe.away" "$pkg/velo.exe"
check "no velo.exe: ERRORLEVEL 1" test "$(errorlevel_of no-velo)" = 1
check "no velo.exe: said on stderr" grep -qF 'velo-deploy: velo.exe is not beside this script' "$scratch/no-velo.err"
printf 'a file\r\n' >"$scratch/blocker"
printf '@echo off\r\nset "VELO_OUT=%%~dp0..\\blocker\\velo"\r\ncmd /c velo-deploy.cmd /machine ..\\machines\\default.json\r\necho ERRORLEVEL=%%ERRORLEVEL%%\r\n' \
    >"$pkg/run-no-folder.cmd"
(cd -- "$pkg" && "$wine" cmd /c run-no-folder.cmd </dev/null >"$scratch/no-folder.out" 2>"$scratch/no-folder.err")
check "no output folder: ERRORLEVEL 1" test "$(errorlevel_of no-folder)" = 1
check "no output folder: said on stderr" grep -qF 'velo-deploy: the output folder cannot be made' "$scratch/no-folder.err"

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
