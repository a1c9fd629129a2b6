#!/usr/bin/env bash
# Smoke test of velo.exe under wine: a run on a machine without any supported drive, its log
# file, a bad command line, the executable's imports, a bcrypt.dll planted beside it, the
# Windows backend's own test program (velo_win32_backend_test.exe of the same build) against
# wine's SetupAPI and named pipes, and a copy signed with a throwaway certificate. What needs a
# simulated machine (every example against the host build, the image digest through CNG, a
# damaged image, /exitcode, a replay) runs on velo-sim.exe, the same Windows program with the
# simulator, built beside velo.exe for the tests only. Exits 77 (skipped) when velo.exe is not
# built.
#
# Usage: wine_smoke.sh VELO_EXE SCRATCH_DIR [WINEPREFIX_DIR]
#   VELO_EXE        the velo.exe of the windows build
#   SCRATCH_DIR     a folder for logs and outputs; created if missing
#   WINEPREFIX_DIR  the wine prefix to use; default: a "wineprefix" folder beside VELO_EXE
# Prints one line per check and "N passed, M failed"; exits 0 only when nothing failed.
set -u

if [[ $# -lt 2 ]]; then
    echo "usage: $0 VELO_EXE SCRATCH_DIR [WINEPREFIX_DIR]" >&2
    exit 2
fi

if [[ ! -f $1 ]]; then
    echo "SKIP: $1 is not built (cmake --preset windows && cmake --build --preset windows)"
    exit 77
fi
velo_exe=$(realpath -- "$1")
# The test executable beside it: velo.exe's Windows program on the simulated machines.
velo_sim_exe=$(dirname -- "$velo_exe")/velo-sim.exe
mkdir -p -- "$2"
scratch=$(realpath -- "$2")
build_dir=$(dirname -- "$velo_exe")
prefix=${3:-$build_dir/wineprefix}
mkdir -p -- "$prefix"

export WINEPREFIX=$(realpath -- "$prefix")
export WINEDEBUG=-all
# No prompts to install browser or .NET runtimes while the prefix is made; no windows.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

wine=${WINE:-wine}
objdump=${VELO_MINGW_OBJDUMP:-x86_64-w64-mingw32-objdump}

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS: $1"; }
fail() { failed=$((failed + 1)); echo "FAIL: $1"; }

# A path in the tree as wine's Z: drive shows it.
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }

# The whole file, byte for byte (a trailing newline is kept).
file_bytes() { LC_ALL=C cat -- "$1"; printf x; }

# Runs velo.exe with the given arguments: stdout, stderr and the exit status land in
# $scratch/NAME.out, NAME.err and NAME.status. Wine keeps inherited descriptors open in the
# server, so the outputs go to files, never to pipes.
run_velo() {
    local name=$1
    shift
    (cd -- "$scratch" && "$wine" "$velo_exe" "$@" </dev/null >"$name.out" 2>"$name.err")
    echo $? >"$scratch/$name.status"
}
status_of() { cat -- "$scratch/$1.status"; }
# The same with velo-sim.exe, for what needs a simulated machine.
run_sim() {
    local name=$1
    shift
    (cd -- "$scratch" && "$wine" "$velo_sim_exe" "$@" </dev/null >"$name.out" 2>"$name.err")
    echo $? >"$scratch/$name.status"
}

if ! command -v "$wine" >/dev/null || ! command -v wineserver >/dev/null; then
    echo "wine is not installed"
    echo "0 passed, 1 failed"
    exit 1
fi

trap 'wineserver -k >/dev/null 2>&1' EXIT
wineserver -p
"$wine" cmd /c exit </dev/null >/dev/null 2>&1

# --- The executable itself ---
# Only known DLLs, which Windows takes from the system folder, never from the program's own.
imports=$("$objdump" -p "$velo_exe" 2>/dev/null | awk '/DLL Name:/ {print tolower($3)}' | sort | tr '\n' ' ')
if [[ $imports == "kernel32.dll msvcrt.dll setupapi.dll shell32.dll user32.dll " ]]; then
    pass "velo.exe imports only known DLLs"
else
    fail "velo.exe imports: $imports"
fi
if "$objdump" -p "$velo_exe" 2>/dev/null | grep -Eq '^Subsystem[[:space:]]+00000002'; then
    pass "velo.exe is a GUI-subsystem program"
else
    fail "velo.exe is not a GUI-subsystem program"
fi
version_strings=$(LC_ALL=C strings -a -el "$velo_exe")
if LC_ALL=C grep -aqF 'level="asInvoker"' "$velo_exe" &&
   grep -qxF 'VELO firmware update' <<<"$version_strings" &&
   grep -qxF '1.0.2' <<<"$version_strings"; then
    pass "velo.exe carries its manifest (asInvoker) and version information"
else
    fail "velo.exe lacks its manifest or version information"
fi

# --- The product carries no simulator ---
# No machine-file reader and no embedded example machine in it; /machine and /replay are
# refused in one line before anything runs.
if ! LC_ALL=C grep -aqF 'velo-machine' "$velo_exe" &&
   LC_ALL=C grep -aqF '"velo-machine"' "$velo_sim_exe"; then
    pass "velo.exe holds no machine-file reader or example machine (velo-sim.exe does)"
else
    fail "velo.exe holds simulator text, or velo-sim.exe lacks it"
fi
for switch in /machine /REPLAY; do
    name="refused-${switch#/}"
    run_velo "$name" /s "$switch" x.json
    if [[ $(status_of "$name") == 87 && ! -s $scratch/$name.out &&
          $(cat "$scratch/$name.err") == "velo: ${switch,,} is not available: this build runs on real drives only" ]]; then
        pass "velo.exe refuses $switch: 87 and one line"
    else
        fail "velo.exe $switch: status $(status_of "$name"), $(head -c 200 "$scratch/$name.err")"
    fi
done

# --- A silent run on a machine without any supported drive ---
run_velo silent /s
silent_out=$(tr -d '\r' <"$scratch/silent.out")
if [[ $(status_of silent) == 0 ]]; then
    pass "/s exits with status 0"
else
    fail "/s exits with status $(status_of silent): $(head -c 300 "$scratch/silent.err")"
fi
if grep -qxF ' >> VELO Started ' <<<"$silent_out" &&
   grep -qxF ' >> VELO Ended (Return Code : 1)' <<<"$silent_out"; then
    pass "/s prints the start banner and the end banner with return code 1"
else
    fail "/s output: $(head -c 300 "$scratch/silent.out")"
fi
if [[ ! -s $scratch/silent.err ]]; then
    pass "/s writes nothing on standard error"
else
    fail "/s wrote on standard error: $(head -c 300 "$scratch/silent.err")"
fi

# --- A bcrypt.dll planted beside velo.exe, as in a downloads folder, is never loaded ---
planted="$scratch/planted"
rm -rf -- "$planted" && mkdir -p -- "$planted"
cp -- "$velo_exe" "$build_dir/planted/bcrypt.dll" "$planted/"
# Wine takes a bcrypt.dll that is not its own only when told to, as Windows would by default.
# Loaded by hand, the planted DLL leaves its marker: its absence below means something.
planted_overrides="$WINEDLLOVERRIDES;bcrypt=n,b"
(cd -- "$planted" && WINEDLLOVERRIDES=$planted_overrides "$wine" rundll32 \
    "$(windows_path "$planted/bcrypt.dll"),BCryptHashData" </dev/null >/dev/null 2>&1)
if [[ -e $planted/planted-bcrypt-loaded ]]; then
    rm -f -- "$planted/planted-bcrypt-loaded"
    (cd -- "$planted" && WINEDLLOVERRIDES=$planted_overrides "$wine" velo.exe /s \
        </dev/null >planted.out 2>&1)
    if [[ ! -e $planted/planted-bcrypt-loaded ]] && grep -qF 'VELO Ended' "$planted/planted.out"; then
        pass "velo.exe runs without loading the bcrypt.dll beside it"
    else
        fail "velo.exe loaded the bcrypt.dll beside it: $(head -c 300 "$planted/planted.out")"
    fi
else
    fail "the planted bcrypt.dll left no marker when loaded by rundll32"
fi

# --- The result log, at a path with blanks in it ---
log_dir="$scratch/log folder"
log="$log_dir/no disk.log"
mkdir -p -- "$log_dir"
rm -f -- "$log"
run_velo logged /s /log "$(windows_path "$log")"
if [[ $(status_of logged) == 0 && -f $log ]]; then
    log_bytes=$(file_bytes "$log")
    log_bytes=${log_bytes%x}
    if [[ $log_bytes == *$'[No Disk]\r\n'* &&
          $log_bytes == *$'Result Details : No disks are available for download.\r\n'* ]]; then
        pass "/log writes the no-disk result"
    else
        fail "/log content: $(head -c 400 "$log" | od -c | head -n 8)"
    fi
    lines=$(LC_ALL=C tr -cd '\n' <"$log" | wc -c)
    crlf_lines=$(LC_ALL=C grep -c $'\r$' "$log")
    if [[ $lines -gt 0 && $lines == "$crlf_lines" && $log_bytes == *$'\r\n' ]]; then
        pass "/log ends every line with CR LF"
    else
        fail "/log has $lines line ends, $crlf_lines of them CR LF"
    fi
    if [[ $(LC_ALL=C head -c 3 "$log" | od -An -tx1 | tr -d ' \n') != efbbbf ]]; then
        pass "/log writes no byte-order mark"
    else
        fail "/log starts with a byte-order mark"
    fi
    if LC_ALL=C grep -q "^Input Command : /s /log .*no disk\.log" "$log"; then
        pass "/log echoes the argument text as typed"
    else
        fail "/log input command: $(LC_ALL=C grep -a '^Input Command' "$log")"
    fi
else
    fail "/log run: status $(status_of logged), log file $( [[ -f $log ]] && echo present || echo missing)"
fi

# --- A bad command line: nothing runs, nothing is written ---
run_velo bogus /bogus
if [[ $(status_of bogus) == 87 ]]; then
    pass "/bogus exits with status 87"
else
    fail "/bogus exits with status $(status_of bogus)"
fi
if ! grep -qF 'VELO Started' "$scratch/bogus.out" && [[ -s $scratch/bogus.err ]]; then
    pass "/bogus starts no run and explains on standard error"
else
    fail "/bogus output: $(head -c 300 "$scratch/bogus.out")"
fi
bogus_log="$scratch/bogus.log"
rm -f -- "$bogus_log"
run_velo bogus_log /s /log "$(windows_path "$bogus_log")" /bogus
if [[ $(status_of bogus_log) == 87 && ! -e $bogus_log ]]; then
    pass "a bad command line with /log writes no log"
else
    fail "bad command line with /log: status $(status_of bogus_log), log $( [[ -e $bogus_log ]] && echo written || echo absent)"
fi

# --- Files named twice, outside input refused, a log that cannot be written ---
machine_copy="$scratch/same.json"
cp -- "$(dirname -- "${BASH_SOURCE[0]}")/../../examples/default.json" "$machine_copy"
before=$(file_bytes "$machine_copy")
# The same file in another spelling: another letter case and a relative path.
run_sim same_file /s /machine "$(windows_path "$machine_copy")" /trace SAME.JSON
if [[ $(status_of same_file) == 87 && $(file_bytes "$machine_copy") == "$before" ]] &&
   grep -qF 'name the same file' "$scratch/same_file.err"; then
    pass "/machine and /trace naming one file: 87, the machine file intact"
else
    fail "/machine and /trace naming one file: status $(status_of same_file), $(head -c 200 "$scratch/same_file.err")"
fi
mkdir -p -- "$scratch/folder.json"
run_sim folder_machine /s /machine folder.json
if [[ $(status_of folder_machine) == 87 && $(cat "$scratch/folder_machine.err") == "velo: folder.json: is a directory, not a file" ]]; then
    pass "a directory as machine file: 87 and one line"
else
    fail "a directory as machine file: status $(status_of folder_machine), $(head -c 200 "$scratch/folder_machine.err")"
fi
run_velo unwritable_log /s /log 'no-such-folder\r.log'
if [[ $(status_of unwritable_log) == 0 ]] &&
   grep -qF 'velo: the result log no-such-folder\r.log cannot be written: No such file or directory' "$scratch/unwritable_log.err"; then
    pass "a log that cannot be written: status 0, the reason on standard error"
else
    fail "a log that cannot be written: status $(status_of unwritable_log), $(head -c 200 "$scratch/unwritable_log.err")"
fi

# The same output through path forms that lead to one file only once it exists: refused with
# 87 before anything is written, and the file made for the check is gone again.
forms_log="$scratch/forms.log"
for form in '\\?\' '\\.\'; do
    rm -f -- "$forms_log"
    run_velo path_form /s /log "$(windows_path "$forms_log")" /json "$form$(windows_path "$forms_log")"
    if [[ $(status_of path_form) == 87 && ! -e $forms_log ]] &&
       grep -qF '/log and /json name the same file' "$scratch/path_form.err"; then
        pass "/log and /json as $form form of one new file: 87, nothing left"
    else
        fail "/log and /json as $form form: status $(status_of path_form), $( [[ -e $forms_log ]] && echo file left) $(head -c 200 "$scratch/path_form.err")"
    fi
done
# A full disk: the run and its status stand, and standard error says what could not be written.
run_velo full_disk /s /trace 'Z:\dev\full'
if [[ $(status_of full_disk) == 0 ]] &&
   grep -qF 'velo: the trace Z:\dev\full cannot be written: ' "$scratch/full_disk.err"; then
    pass "a trace on a full disk: status 0, named on standard error"
else
    fail "a trace on a full disk: status $(status_of full_disk), $(head -c 200 "$scratch/full_disk.err")"
fi

# --- A simulated machine, traced: the same core on the Windows build ---
examples=$(realpath -- "$(dirname -- "${BASH_SOURCE[0]}")/../../examples")
trace="$scratch/default trace.jsonl"
rm -f -- "$trace"
run_sim simulated /s /machine "$(windows_path "$examples/default.json")" /trace "$(windows_path "$trace")"
if [[ $(status_of simulated) == 0 ]] && grep -qxF ' >> VELO Ended (Return Code : 0)' "$scratch/simulated.out"; then
    pass "/machine runs the default simulated machine to return code 0"
else
    fail "/machine run: status $(status_of simulated), $(tr '\n' '|' < "$scratch/simulated.out" | head -c 300)"
fi
downloads=$(grep -c '"op":"control".*"inputLength":4172' "$trace" 2>/dev/null)
if [[ ${downloads:-0} -ge 512 ]]; then
    pass "/trace records every control request ($downloads of 4172 bytes)"
else
    fail "/trace recorded ${downloads:-no} requests of 4172 bytes"
fi

# The image is checked through Windows CNG before it is sent: the digest the build recorded.
image1="$(dirname -- "$velo_exe")/images/image1.bin"
digest=$(sha256sum -- "$image1" | cut -c1-64)
if grep -qF "\"op\":\"sha256\",\"length\":2097152,\"result\":\"ok\",\"digest\":\"$digest\"" "$trace"; then
    pass "the image's SHA-256 through CNG is the build's"
else
    fail "no sha256 line with the digest $digest in the trace"
fi
# A copy whose embedded image 1 has one byte changed sends no firmware request.
damaged_exe="$scratch/velo-damaged.exe"
damaged_trace="$scratch/damaged.jsonl"
python3 - "$velo_sim_exe" "$image1" "$damaged_exe" <<'PY'
import sys
program = bytearray(open(sys.argv[1], "rb").read())
image = open(sys.argv[2], "rb").read()
at = program.find(image)
assert at >= 0, "image 1 is not in velo.exe"
program[at + 0x12345] ^= 0x01
open(sys.argv[3], "wb").write(bytes(program))
PY
velo_sim_exe_intact=$velo_sim_exe
velo_sim_exe=$damaged_exe
run_sim damaged /s /machine "$(windows_path "$examples/default.json")" /trace "$(windows_path "$damaged_trace")"
velo_sim_exe=$velo_sim_exe_intact
if grep -qxF '  [ERROR] Firmware image 1 is damaged; no drive was touched.' "$scratch/damaged.out" &&
   grep -qxF ' >> VELO Ended (Return Code : 1)' "$scratch/damaged.out" &&
   ! grep -q '"code":"0x4D008"' "$damaged_trace"; then
    pass "a damaged image is refused and no firmware request is sent"
else
    fail "damaged image run: status $(status_of damaged), $(tr '\n' '|' < "$scratch/damaged.out" | head -c 300)"
fi

if grep -qF 'simulated run on' "$scratch/simulated.err" && grep -qF 'no device is touched' "$scratch/simulated.err"; then
    pass "/machine says on standard error that the run is simulated"
else
    fail "/machine standard error: $(head -c 300 "$scratch/simulated.err")"
fi

# --- /exitcode: velo.exe's own exit status as the command prompt's ERRORLEVEL shows it ---
for case in "default 0" "power-cycle 3010" "fails-third-chunk 1"; do
    read -r name expected <<<"$case"
    batch="$scratch/exitcode-$name.cmd"
    printf '@echo off\r\n"%s" /s /exitcode /machine "%s" >nul 2>nul\r\necho ERRORLEVEL=%%ERRORLEVEL%%\r\n' \
        "$(windows_path "$velo_sim_exe")" "$(windows_path "$examples/$name.json")" >"$batch"
    (cd -- "$scratch" && "$wine" cmd /c "$(windows_path "$batch")" </dev/null \
        >"exitcode-$name.out" 2>/dev/null)
    if grep -q "^ERRORLEVEL=$expected"$'\r'"\?$" "$scratch/exitcode-$name.out"; then
        pass "/exitcode on examples/$name.json: ERRORLEVEL $expected"
    else
        fail "/exitcode on examples/$name.json: $(tr '\r\n' '  ' <"$scratch/exitcode-$name.out")"
    fi
done

# --- Every example machine: the same bytes on both builds ---
# With VELO_HOST naming the host build's velo, each example runs on both; the console output
# and every open and control request of the trace (bytes sent and returned) must be identical.
if [[ -n ${VELO_HOST:-} ]]; then
    requests_of() { grep -E '"op":"(openDevice|control|closeDevice)"' -- "$1" | sed 's/^{"seq":[0-9]*,//'; }
    for example in "$examples"/*.json; do
        name=$(basename -- "$example" .json)
        host_trace="$scratch/$name.host.jsonl"
        exe_trace="$scratch/$name.exe.jsonl"
        "$VELO_HOST" /s /machine "$example" /trace "$host_trace" >"$scratch/$name.host.out" 2>/dev/null
        host_status=$?
        run_sim "$name.exe" /s /machine "$(windows_path "$example")" /trace "$(windows_path "$exe_trace")"
        if [[ $host_status == "$(status_of "$name.exe")" ]] &&
           cmp -s -- "$scratch/$name.host.out" "$scratch/$name.exe.out" &&
           cmp -s <(requests_of "$host_trace") <(requests_of "$exe_trace"); then
            pass "examples/$name.json: same output and requests on both builds"
        else
            fail "examples/$name.json differs between the builds (see $scratch/$name.*)"
        fi
    done
    # A run recorded by the host build replays on velo.exe to the same output.
    for name in rst-raid-volume vroc-commit-driver-status; do
        run_sim "$name.replay" /s /replay "$(windows_path "$scratch/$name.host.jsonl")"
        if [[ $(status_of "$name.replay") == 0 ]] &&
           cmp -s -- "$scratch/$name.host.out" "$scratch/$name.replay.out"; then
            pass "velo.exe replays the host's recording of examples/$name.json"
        else
            fail "replay of examples/$name.json on velo.exe: status $(status_of "$name.replay"), $(head -c 300 "$scratch/$name.replay.err")"
        fi
    done
fi

# --- The backend against wine's SetupAPI, pipes, clock and files ---
backend_test="$build_dir/velo_win32_backend_test.exe"
if [[ -f $backend_test ]]; then
    (cd -- "$scratch" && "$wine" "$backend_test" "$(windows_path "$scratch")" </dev/null \
        >backend.out 2>backend.err)
    backend_status=$?
    if [[ $backend_status == 0 ]]; then
        pass "backend test: $(tail -n 1 "$scratch/backend.out")"
    else
        fail "backend test (status $backend_status):"
        grep -E '^FAIL|passed' "$scratch/backend.out" | sed 's/^/    /'
    fi
else
    fail "backend test not built: $backend_test"
fi

# --- Signing: a throwaway certificate signs a copy, which verifies and still runs ---
signing="$scratch/signing"
rm -rf -- "$signing" && mkdir -p -- "$signing"
if openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=VELO test signer" \
       -addext "extendedKeyUsage=codeSigning" -keyout "$signing/key.pem" -out "$signing/cert.pem" \
       >/dev/null 2>&1 &&
   "$(dirname -- "${BASH_SOURCE[0]}")/../../scripts/sign-velo" "$signing/cert.pem" "$signing/key.pem" \
       "$velo_exe" "$signing/velo.exe"; then
    if osslsigncode verify -CAfile "$signing/cert.pem" -in "$signing/velo.exe" >"$signing/verify.out" 2>&1; then
        pass "the signed copy verifies against its certificate"
    else
        fail "the signed copy does not verify: $(tail -n 3 "$signing/verify.out")"
    fi
    # One byte of the program changed after signing: the signature must no longer hold.
    cp -- "$signing/velo.exe" "$signing/tampered.exe"
    byte=$(od -An -tu1 -j 4096 -N 1 "$signing/tampered.exe")
    printf "\\x$(printf %02x $(( byte ^ 1 )))" |
        dd of="$signing/tampered.exe" bs=1 seek=4096 conv=notrunc status=none
    if ! osslsigncode verify -CAfile "$signing/cert.pem" -in "$signing/tampered.exe" >/dev/null 2>&1; then
        pass "a signed copy changed afterwards fails verification"
    else
        fail "a signed copy changed afterwards still verifies"
    fi
    (cd -- "$scratch" && "$wine" "$signing/velo.exe" /s </dev/null >signed.out 2>signed.err)
    if [[ $? == 0 ]] && grep -qF ' >> VELO Ended (Return Code : 1)' "$scratch/signed.out"; then
        pass "the signed copy runs under wine"
    else
        fail "the signed copy under wine: $(head -c 300 "$scratch/signed.out" "$scratch/signed.err")"
    fi
else
    fail "velo.exe could not be signed with a throwaway certificate"
fi

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
