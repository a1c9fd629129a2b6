#!/usr/bin/env bash
# The Ansible playbook, offline: ansible-playbook --syntax-check, ansible-lint (production
# profile, --offline: no schema refresh, no collection install, no version check), and every
# task's arguments checked against its module's options, which ansible-lint does not do for the
# Windows modules. A missing tool is a failure: scripts/install-deps all installs them.
# usage: ansible_test.sh SCRATCH_DIR
set -u
playbook_dir=$(realpath -- "$(dirname -- "${BASH_SOURCE[0]}")/../../deploy/ansible")
playbook=$playbook_dir/velo-update.yml
rm -rf -- "$1" && mkdir -p -- "$1"
scratch=$(realpath -- "$1")
export ANSIBLE_LOCAL_TEMP=$scratch/tmp ANSIBLE_NOCOLOR=1 NO_COLOR=1

passed=0
failed=0
check() {  # check NAME COMMAND...: the command's output is shown when it fails
    local name=$1
    shift
    if "$@" >"$scratch/out" 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name"
        sed 's/^/    /' "$scratch/out"
    fi
}

for tool in ansible-playbook ansible-lint ansible-doc python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool is not installed (scripts/install-deps all installs Debian's ansible and ansible-lint)"
        failed=$((failed + 1))
    fi
done
if [[ $failed != 0 ]]; then
    echo "$passed passed, $failed failed"
    exit 1
fi

check "ansible-playbook --syntax-check" ansible-playbook --syntax-check -i localhost, "$playbook"
check "ansible-lint" ansible-lint --offline --nocolor -c "$playbook_dir/.ansible-lint" "$playbook"

check_arguments() {
    python3 - "$playbook" <<'PY'
import json, subprocess, sys, yaml
KEYWORDS = {"name", "register", "when", "changed_when", "failed_when", "until", "retries",
            "delay", "vars", "tags", "become", "ignore_errors", "loop", "notify"}
tasks = [task for play in yaml.safe_load(open(sys.argv[1])) for task in play["tasks"]]
# set_fact takes the names of the facts it sets as its arguments.
uses = [(next(key for key in task if key not in KEYWORDS), task) for task in tasks]
uses = [(module, task) for module, task in uses if module != "ansible.builtin.set_fact"]
docs = json.loads(subprocess.run(["ansible-doc", "-j", *{module for module, _ in uses}],
                                 capture_output=True, text=True, check=True).stdout)
bad = []
for module, task in uses:
    if module not in docs:
        bad.append(f"{task['name']}: no module {module}")
        continue
    unknown = set(task[module]) - set(docs[module]["doc"]["options"])
    if unknown:
        bad.append(f"{task['name']}: {module} has no option {', '.join(sorted(unknown))}")
print("\n".join(bad))
sys.exit(1 if bad else 0)
PY
}
check "every task's arguments are its module's options" check_arguments

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
