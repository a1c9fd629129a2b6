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

examples=$(cd "$(dirname -- "${BASH_SOURCE[0]}")/../../examples" && pwd)
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

# Outside input that is not a machine file: refused with 87 and one line naming the file and what
# is wrong, before anything runs.
mkdir -p "$scratch/folder.json"
head -c $((4 * 1024 * 1024 + 1)) /dev/zero | tr '\0' ' ' > "$scratch/huge.json"
printf '{ "format": "velo-machine", "version": 1, "description": "caf\xe9" }' > "$scratch/latin1.json"
printf '{ "format": "velo-machine",\n  "version": }' > "$scratch/broken.json"
while IFS='|' read -r file expected; do
    "$velo" /s /machine "$file" /log "$scratch/never.log" >"$scratch/out" 2>"$scratch/err"
    check "$file exits 87" test $? -eq 87
    check "$file: one line naming it" test "$(cat "$scratch/err")" = "velo: $file: $expected"
    check "$file runs nothing" test ! -s "$scratch/out"
done <<EOF
$scratch/absent.json|cannot be opened: No such file or directory
$scratch/folder.json|is a directory, not a file
/dev/zero|is larger than 4194304 bytes
$scratch/huge.json|is larger than 4194304 bytes
$scratch/latin1.json|is not UTF-8 text (byte offset 61)
$scratch/broken.json|is not valid JSON (line 2, column 14)
EOF
check "refused machine files write no log" test ! -e "$scratch/never.log"

# The files a run reads and writes must differ, and a switch is given once.
cp "$empty" "$scratch/m.json"
for bad in "/machine m.json /trace m.json" "/machine m.json /log ./m.json" \
           "/log r.log /trace $scratch/r.log" "/s /s" "/log a.log /LOG b.log"; do
    # shellcheck disable=SC2086
    (cd "$scratch" && "$velo" $bad >"$scratch/out" 2>"$scratch/err")
    check "'$bad' exits 87" test $? -eq 87
    check "'$bad' says why" grep -qE "name the same file|more than once" "$scratch/err"
    check "'$bad' prints nothing on stdout" test ! -s "$scratch/out"
done
check "machine file left intact" cmp -s "$empty" "$scratch/m.json"
check "no log or trace written" test ! -e "$scratch/r.log" -a ! -e "$scratch/a.log"

# Links cannot make two switches write one file, even one that does not exist yet: every output
# is found or made before anything is written and compared by what the file system says, and a
# refusal leaves every file as it was.
links="$scratch/links"
mkdir -p "$links"
ln -s t.jsonl "$links/link.log"
ln -s r.log "$links/j.json"
printf 'kept\n' >"$links/kept.log"
ln -s kept.log "$links/k.json"
while IFS='|' read -r args said; do
    # shellcheck disable=SC2086
    (cd "$links" && "$velo" /s /machine "$empty" $args >"$scratch/out" 2>"$scratch/err")
    check "'$args' exits 87" test $? -eq 87
    check "'$args' says why" test "$(cat "$scratch/err")" = "velo: $said"
    check "'$args' leaves every file" test "$(cd "$links" && echo *)" = "j.json k.json kept.log link.log"
done <<EOF
/trace t.jsonl /log link.log|/log and /trace name the same file: t.jsonl
/log r.log /json j.json|/log and /json name the same file: j.json
/log kept.log /trace k.json|/log and /trace name the same file: k.json
EOF
check "a refused run leaves an existing file as it was" test "$(cat "$links/kept.log")" = kept

# A file that cannot be written whole (a full disk) leaves the run and its status as they are;
# standard error names it.
for args in "/trace|the trace" "/json|the result document" "/log|the result log"; do
    "$velo" /s /machine "$examples/default.json" "${args%|*}" /dev/full >"$scratch/out" 2>"$scratch/err"
    check "'${args%|*} /dev/full': status unchanged" test $? -eq 0
    check "'${args%|*} /dev/full': run ends" grep -qxF ' >> VELO Ended (Return Code : 0)' "$scratch/out"
    check "'${args%|*} /dev/full': reason on stderr" test "$(cat "$scratch/err")" = \
        "velo: ${args#*|} /dev/full cannot be written: No space left on device"
done

# While another run holds the machine's run lock, a run does nothing at all: one line, no
# output file, no message box; status 1, or 1618 with /exitcode (82 as Linux keeps it).
python3 - "$examples/default.json" "$scratch/held.json" <<'PY'
import json, sys
machine = json.load(open(sys.argv[1]))
machine["runLock"] = "held"
json.dump(machine, open(sys.argv[2], "w"))
PY
for case in "/s|1" "/s /exitcode|82" "/list /exitcode|82" "/verify|1"; do
    # shellcheck disable=SC2086
    "$velo" ${case%|*} /machine "$scratch/held.json" /log "$scratch/held.log" \
        /trace "$scratch/held.trace" >"$scratch/out" 2>"$scratch/err"
    check "lock held, '${case%|*}': status ${case#*|}" test $? -eq "${case#*|}"
    check "lock held, '${case%|*}': one line" test "$(cat "$scratch/err")" = \
        "velo: another run of VELO is in progress on this machine; nothing was done"
    check "lock held, '${case%|*}': nothing else" \
        test ! -s "$scratch/out" -a ! -e "$scratch/held.log" -a ! -e "$scratch/held.trace"
done

# A log that cannot be written leaves the run and its status as they are, and says so.
"$velo" /s /machine "$empty" /log "$scratch/no-such-folder/r.log" >"$scratch/out" 2>"$scratch/err"
check "unwritable log: status unchanged" test $? -eq 0
check "unwritable log: run ends" grep -qxF ' >> VELO Ended (Return Code : 1)' "$scratch/out"
check "unwritable log: reason on stderr" test "$(cat "$scratch/err")" = \
    "velo: the result log $scratch/no-such-folder/r.log cannot be written: No such file or directory"

"$velo" '/?' >"$scratch/out" 2>&1
check "usage exits 0" test $? -eq 0
check "usage printed" contains "$scratch/out" "/machine FILE"

# --- Administrators' switches on every example machine ---
schema=$(cd "$(dirname -- "${BASH_SOURCE[0]}")/../../docs" && pwd)/result.schema.json
requests_of() { grep -E '"op":"(openDevice|control|closeDevice)"' -- "$1" | sed 's/^{"seq":[0-9]*,//'; }
mkdir -p "$scratch/results"
for example in "$examples"/*.json; do
    name=$(basename -- "$example" .json)
    "$velo" /s /machine "$example" /json "$scratch/results/$name.json" >/dev/null 2>&1
    check "$name: exit status 0 without /exitcode" test $? -eq 0
    "$velo" /s /list /machine "$example" /json "$scratch/results/$name.list.json" >/dev/null 2>&1
    check "$name: /list /json exits 0" test $? -eq 0
    "$velo" /s /resume /verify /machine "$example" /json "$scratch/results/$name.resume.json" >/dev/null 2>&1
done
# One example of each driver stack through the program itself (the unit tests take every one).
for name in default rst-raid-volume vroc-raid-volume; do
    example="$examples/$name.json"
    base="$scratch/$name"
    "$velo" /s /machine "$example" /trace "$base.trace" >"$base.out" 2>/dev/null
    # /list sends what a /resume run sends before its update pass (the scan pass, then the
    # firmware log page of each target) and nothing more: its requests begin that run's.
    "$velo" /s /resume /machine "$example" /trace "$base.resume.trace" >/dev/null 2>&1
    "$velo" /list /machine "$example" /trace "$base.list.trace" >"$base.list.out" 2>/dev/null
    check "$name: /list exits 0" test $? -eq 0
    list_requests=$(requests_of "$base.list.trace" | wc -l)
    check "$name: /list requests are the scan pass's and the log page's" \
        cmp -s <(requests_of "$base.list.trace") <(requests_of "$base.resume.trace" | head -n "$list_requests")
    check "$name: /list lists" grep -qF ' >> VELO List Ended (' "$base.list.out"
    # The recorded run replays to the same output.
    "$velo" /s /replay "$base.trace" >"$base.replay.out" 2>"$base.replay.err"
    check "$name: replay exits 0" test $? -eq 0
    check "$name: replay prints the same bytes" cmp -s "$base.out" "$base.replay.out"
done
# /verify on a drive that keeps its old revision: the warning, and a document the schema takes.
python3 - "$examples/rst-pass-through.json" "$scratch/keeps.json" <<'PY'
import json, sys
machine = json.load(open(sys.argv[1]))
machine["controllers"][0]["drives"][0]["drive"]["keepsRevision"] = True
json.dump(machine, open(sys.argv[2], "w"))
PY
"$velo" /s /verify /machine "$scratch/keeps.json" /json "$scratch/results/verify-keeps.json" >"$scratch/verify.out" 2>/dev/null
check "/verify warns of the old revision" contains "$scratch/verify.out" "  [WARNING] The drive reports firmware revision QLR2KAXA after activation."
"$velo" /s /verify /machine "$examples/power-cycle.json" /json "$scratch/results/verify-restart.json" >/dev/null 2>&1
# The documents of every example, listed, updated, resumed and verified, and the example in
# docs/administrators.md follow the schema.
admin_doc=$(dirname -- "$schema")/administrators.md
check "every result document follows the schema" python3 - "$schema" "$admin_doc" "$scratch"/results/*.json <<'PY'
import json, re, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
page = open(sys.argv[2]).read()
section = page[page.index("## The result document"):]
documents = {"administrators.md": json.loads(re.search(r"```json\n(.*?)```", section, re.S).group(1))}
documents.update((path, json.load(open(path))) for path in sys.argv[3:])
wrong = 0
for path, document in documents.items():
    for error in validator.iter_errors(document):
        wrong += 1
        print(f"{path}: {error.json_path}: {error.message[:300]}")
sys.exit(1 if wrong else 0)
PY
# The schema is strict: documents that break one of its rules are refused.
check "the schema refuses documents that break its rules" python3 - "$schema" "$scratch/results" <<'PY'
import json, sys, jsonschema
validator = jsonschema.Draft202012Validator(json.load(open(sys.argv[1])))
def target(field, value):
    return lambda d: d["targets"][0].__setitem__(field, value)
def top(field, value):
    return lambda d: d.__setitem__(field, value)
def run(field, value):
    return lambda d: d["run"].__setitem__(field, value)
# document | what breaks a rule
CASES = [
    ("default", target("outcome", "pending")),                 # pending with result code 0
    ("power-cycle", target("resultCode", 0)),                  # the same, from the other side
    ("default.list", target("outcome", "updated")),            # a list document with an outcome
    ("default", target("plan", "would-update")),               # an update document with a plan
    ("default", target("extra", None)),                        # a field the schema does not know
    ("default", run("startTime", "2026-12-07 13:47:38")),      # local time not as the log writes
    ("default", run("endTimeUtc", "2026-12-07T13:47:38")),     # UTC time without its Z
    ("default", top("exitStatus", 2)),                         # 2 with a target
    ("access-denied", top("exitStatus", 2)),                   # 2 with an unreached disk
    ("power-cycle", top("exitStatus", 0)),                     # 0 with a pending target
    ("fails-third-chunk", top("exitStatus", 3010)),            # 3010 with a failed target
    ("default", top("result", "failed")),                      # result not its return code's
    ("default", target("pendingUntil", "power-off")),          # a wait without pending
    ("vroc-raid-volume", target("pendingUntil", "power-off")), # VROC activates at a restart
    ("fails-third-chunk", target("failure", None)),            # failed without its failure
    ("unknown-revision", target("leftAlone", None)),           # left alone without its reason
    ("default", target("address", {"pathId": 3})),             # an RST address on an inbox disk
    ("vroc-raid-volume", target("devicePath", "\\\\.\\PHYSICALDRIVE0")),  # not its port
    ("default", target("serial", "VQX7B2A00000000001  ")),     # padded
    ("default", target("image", 2)),                           # image 2 installing QLR4KAXA
    ("default", target("verification", None)),                 # verification without /verify
    ("default.list", top("exitStatus", 1)),                    # 1 when a disk would update
    ("default.list", target("planReason", "no reason")),       # a reason for would-update
]
accepted = 0
for name, change in CASES:
    document = json.load(open(f"{sys.argv[2]}/{name}.json"))
    change(document)
    if validator.is_valid(document):
        accepted += 1
        print(f"accepted: {name} {json.dumps(document['targets'][:1])[:200]}")
sys.exit(1 if accepted else 0)
PY

for case in "default 0" "power-cycle 194" "fails-third-chunk 1" "unknown-revision 1"; do
    set -- $case
    # 3010 is the Windows status for a needed restart; Linux keeps its low 8 bits, 194.
    "$velo" /s /exitcode /machine "$examples/$1.json" >/dev/null 2>&1
    check "/exitcode on $1 exits $2" test $? -eq "$2"
done

"$velo" /list /machine "$examples/default.json" /log "$scratch/list.log" >/dev/null 2>&1
check "/list /log writes the list" contains "$scratch/list.log" $'Image : 1, installs QLR4KAXA\r\n'
check "/list /json: a list document that plans the update" python3 - "$scratch/results/default.list.json" <<'PY'
import json, sys
document = json.load(open(sys.argv[1]))
assert document["run"]["mode"] == "list" and document["image"] == {"number": 1, "revision": "QLR4KAXA"}
assert [t["plan"] for t in document["targets"]] == ["would-update"], document["targets"]
PY
for bad in "/replay $scratch/default.trace /machine $examples/default.json" \
           "/log $scratch/same /json $scratch/same" "/trace $scratch/t /replay $scratch/t"; do
    # shellcheck disable=SC2086
    "$velo" /s $bad >"$scratch/out" 2>"$scratch/err"
    check "'$bad' exits 87" test $? -eq 87
done

# A recording whose 50th call asks for other bytes than the run sends: exit 87, call named.
python3 - "$scratch/default.trace" "$scratch/changed.trace" <<'PY'
import json, sys
out = []
for line in open(sys.argv[1]):
    call = json.loads(line)
    if call["seq"] == 50:
        call["input"] = call["input"][:200] + ("1" if call["input"][200] == "0" else "0") + call["input"][201:]
        line = json.dumps(call, separators=(",", ":")) + "\n"
    out.append(line)
open(sys.argv[2], "w").write("".join(out))
PY
"$velo" /s /replay "$scratch/changed.trace" >/dev/null 2>"$scratch/err"
check "a changed request exits 87" test $? -eq 87
check "a changed request is named" contains "$scratch/err" "call 50: control file 5 code 0x4D008 inputLength 4172 outputLength 4172 input of 4172 bytes: input differs at byte 100"

# A program whose embedded image 1 has one byte changed refuses to flash: the image is checked
# before the first firmware request, every disk fails, and no miniport request (the inbox
# stack's firmware requests) reaches the drive.
damaged="$scratch/velo-damaged"
cp -- "$velo" "$damaged"
python3 - "$damaged" "$(dirname -- "$velo")/images/image1.bin" <<'PY'
import sys
program = bytearray(open(sys.argv[1], "rb").read())
image = open(sys.argv[2], "rb").read()
at = program.find(image)
assert at >= 0 and program.find(image, at + 1) < 0, "image 1 is not in the program once"
program[at + 0x12345] ^= 0x01
open(sys.argv[1], "wb").write(bytes(program))
PY
"$damaged" /s /machine "$examples/default.json" /trace "$scratch/damaged.trace" \
    /json "$scratch/damaged.json" >"$scratch/damaged.out" 2>/dev/null
check "damaged image: exit status 0" test $? -eq 0
check "damaged image: said once" test "$(grep -cF '  [ERROR] Firmware image 1 is damaged; no drive was touched.' "$scratch/damaged.out")" -eq 1
check "damaged image: return code 1" contains "$scratch/damaged.out" " >> VELO Ended (Return Code : 1)"
check "damaged image: no firmware request" test "$(grep -c '"code":"0x4D008"' "$scratch/damaged.trace")" -eq 0
check "intact image: firmware requests sent" grep -q '"code":"0x4D008"' "$scratch/default.trace"
digest=$(sha256sum -- "$(dirname -- "$velo")/images/image1.bin" | cut -c1-64)
check "intact image: its digest checked" grep -qF "\"op\":\"sha256\",\"length\":2097152,\"result\":\"ok\",\"digest\":\"$digest\"" "$scratch/default.trace"
"$damaged" /s /list /machine "$examples/default.json" /json "$scratch/damaged.list.json" >/dev/null 2>&1
check "damaged image: every disk failed at the image, and none would take it" python3 - "$schema" "$scratch/damaged.json" "$scratch/damaged.list.json" <<'PY'
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
document, listed = (json.load(open(path)) for path in sys.argv[2:4])
for checked in (document, listed):
    jsonschema.validate(checked, schema, cls=jsonschema.Draft202012Validator)
assert document["returnCode"] == 1 and document["exitStatus"] == 1 and document["targets"]
assert all(t["resultCode"] == 1 and t["outcome"] == "failed" and t["failure"]["step"] == "image"
           and t["image"] is None for t in document["targets"])
assert listed["exitStatus"] == 1 and listed["image"] is None and listed["targets"]
assert all(t["plan"] == "left-alone" and t["planReason"] == "firmware image 1 is damaged"
           for t in listed["targets"])
PY

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
