#!/usr/bin/env python3
"""The outputs the deployment files read are the ones VELO writes.

deploy/intune/detection.ps1 reads the result document's format, version, run.mode,
run.toolVersion, exitStatus and each target's outcome, and takes its version, statuses and
outcomes from three lines at its top; deploy/ansible/velo-update.yml reads the exit status and
each target's pendingUntil. Each example machine below is run with /s /exitcode /json and its
document is checked for what those files read, and the detection script's decision, taken with
its own three lines, for the one an administrator expects.

usage: deploy_outputs_test.py VELO PROJECT_VERSION SCRATCH_DIR
"""
import json
import os
import re
import subprocess
import sys

velo, project_version, scratch = sys.argv[1:4]
source = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
examples = os.path.join(source, "examples")
os.makedirs(scratch, exist_ok=True)

passed = failed = 0


def check(name, condition, detail=""):
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print(f"FAIL: {name}" + (f": {detail}" if detail else ""))


detection_text = open(os.path.join(source, "deploy", "intune", "detection.ps1")).read()


def ps_line(name):
    match = re.search(rf"^\${name} = (.+)$", detection_text, re.M)
    if not match:
        sys.exit(f"detection.ps1 has no line ${name} = ...")
    return [item.strip().strip("'") for item in match.group(1).split(",")]


version = ps_line("Version")[0]
done_statuses = {int(status) for status in ps_line("DoneStatuses")}
done_outcomes = set(ps_line("DoneOutcomes"))
check("detection.ps1 looks for this version", version == project_version,
      f"{version}, the project is {project_version}")


def detected(document):
    """detection.ps1's decision."""
    return (document.get("format") == "velo-result" and document.get("version") == 2
            and document.get("run", {}).get("mode") == "update"
            and document["run"].get("toolVersion") == version
            and document.get("exitStatus") in done_statuses
            and all(t.get("outcome") in done_outcomes for t in document.get("targets", [])))


# machine | extra switches | exit status | outcomes | pendingUntil | detected
CASES = [
    ("default", [], 0, ["updated"], [None], True),
    ("power-cycle", [], 3010, ["pending"], ["power-off"], True),
    ("rst-restart-required", [], 3010, ["pending"], ["power-off"], True),
    ("vroc-raid-volume", [], 3010, ["pending", "pending"], ["restart", "restart"], True),
    ("second-drive-current", ["/resume"], 0, ["updated", "current"], [None, None], True),
    ("other-maker", [], 2, [], [], True),
    ("fails-third-chunk", [], 1, ["failed"], [None], False),
    ("unknown-revision", [], 1, ["left-alone"], [None], False),
    ("access-denied", [], 1, [], [], False),
]
seen_statuses, seen_outcomes = set(), set()
for name, switches, status, outcomes, pending, expected in CASES:
    label = " ".join([name] + switches)
    document_path = os.path.join(scratch, f"{name}.json")
    if os.path.exists(document_path):
        os.remove(document_path)
    run = subprocess.run([velo, "/s", "/exitcode", *switches, "/machine",
                          os.path.join(examples, f"{name}.json"), "/json", document_path],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    # Linux keeps the low 8 bits of a status: 3010 reads as 194.
    check(f"{label}: exit status {status}", run.returncode == status % 256,
          f"{run.returncode}, {run.stderr.strip()[:200]}")
    try:
        document = json.load(open(document_path, encoding="utf-8"))
    except (OSError, ValueError) as error:
        check(f"{label}: a result document", False, str(error))
        continue
    kind = (document.get("format"), document.get("version"), document.get("run", {}).get("mode"))
    check(f"{label}: a version-2 update document", kind == ("velo-result", 2, "update"), str(kind))
    if kind != ("velo-result", 2, "update"):
        continue
    check(f"{label}: run.toolVersion", document.get("run", {}).get("toolVersion") == project_version)
    check(f"{label}: exitStatus {status}", document.get("exitStatus") == status,
          str(document.get("exitStatus")))
    targets = document.get("targets", [])
    check(f"{label}: outcomes {outcomes}", [t.get("outcome") for t in targets] == outcomes,
          str([t.get("outcome") for t in targets]))
    check(f"{label}: pendingUntil {pending}", [t.get("pendingUntil") for t in targets] == pending,
          str([t.get("pendingUntil") for t in targets]))
    check(f"{label}: detection says {'done' if expected else 'not done'}",
          detected(document) == expected)
    seen_statuses.add(document.get("exitStatus"))
    seen_outcomes.update(t.get("outcome") for t in targets)

# Every status and outcome the detection script accepts is one VELO writes.
check("detection.ps1's statuses are written", done_statuses <= seen_statuses,
      str(done_statuses - seen_statuses))
check("detection.ps1's outcomes are written", done_outcomes <= seen_outcomes,
      str(done_outcomes - seen_outcomes))

print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
