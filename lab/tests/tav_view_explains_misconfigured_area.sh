#!/bin/bash
# tav-view on the lab suite, with one user's password made wrong: it fails
# exactly the requests tav-rep's report.json lists, explains the misconfigured
# area's wrongful grants by the labels, writes JUnit that python3's parser
# reads with the right counts, and warns that the user whose Basic logins all
# failed passed its refusals for nothing.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
require_tav
require_view
lab_up

new_tmp
s=$NEW_TMP
gen_lab_suite "$s/suite" || { check "$?" 0 gen_lab_suite; finish; }
# bin (2:3) reads some areas: with a wrong password every Basic answer is 401.
"$PY" - "$s/suite/tasks.json" <<'PYEOF'
import json, sys
tasks = json.load(open(sys.argv[1]))
for task in tasks:
    if task["user"]["name"] == "bin":
        task["user"]["password"] += "x"
json.dump(tasks, open(sys.argv[1], "w"), indent=2)
PYEOF

run_req "$s/suite/tasks.json"
run_rep "$s/suite/metadata.json" "$s/suite/config.json"
"$VIEW" -m "$s/suite/metadata.json" -r "$REQ_DIR/out/responses.json" -c "$s/suite/config.json" \
  -t "$s/suite/tasks.json" --junit "$s/junit.xml" --html "$s/report.html" --json "$s/view.json" \
  >"$s/view.out" 2>"$s/view.err"
check "$?" 1 "exit status of tav-view (some requests fail)"
check "$(cat "$s/view.err")" "" "standard error of tav-view"

# Every file of the run, the lab's description included, against its JSON Schema.
check_schemas suite "$LAB_SUITE"
for kind in tasks metadata config; do check_schemas "$kind" "$s/suite/$kind.json"; done
check_schemas responses "$REQ_DIR/out/responses.json"
check_schemas task-responses "$REQ_DIR"/out/responses_*.json
check_schemas report "$REP_DIR/out/report.json"
check_schemas view "$s/view.json"

# The failed set and total are report.json's; the misconfigured area's two
# wrongful grants (daemon, Basic and Negotiate) carry the labels' reason.
check "$("$PY" - "$s/view.json" "$REP_DIR/out/report.json" <<'PYEOF'
import json, sys
view, report = json.load(open(sys.argv[1])), json.load(open(sys.argv[2]))
failed = sorted(v["uuid"] for v in view["verdicts"] if not v["passed"])
if failed != report["failed_uuids"] or view["total_count"] != report["total_count"]:
    print("view", failed, view["total_count"], "report", report["failed_uuids"], report["total_count"])
bad = [v for v in view["verdicts"] if "daemon" in v["uuid"] and "bad_3_7" in v["uuid"]]
print(len(bad), sorted({(v["passed"], v["predicted"], v["why"], v["code_verdict"]) for v in bad}))
PYEOF
)" "2 [(False, 'refused', 'subject 1:1 does not dominate object 3:7', '200 is an allowed code')]" \
  "tav-view's failures against report.json"
check "$(grep -c '^  predicted refused: subject 1:1 does not dominate object 3:7$' "$s/view.out")" 2 \
  "explanations on the terminal"
check_contains "$(cat "$s/view.out")" \
  "hint: user bin (label 2:3; basic): all " \
  "the wrong-password hint"
check "$(grep -c 'hint: .*authentication probably failed' "$s/view.out")" 1 \
  "only the user with the wrong password gets the hint"

# JUnit: a suite per user and auth type; counts agree with report.json.
check "$("$PY" - "$s/junit.xml" "$REP_DIR/out/report.json" "$s/suite/tasks.json" <<'PYEOF'
import json, sys, xml.etree.ElementTree as ET
root, report = ET.parse(sys.argv[1]).getroot(), json.load(open(sys.argv[2]))
tasks = json.load(open(sys.argv[3]))
suites = root.findall("testsuite")
cases = [c for s in suites for c in s.findall("testcase")]
failed = sorted(c.get("name") for c in cases if c.find("failure") is not None)
print(len(cases) == report["total_count"] == sum(int(s.get("tests")) for s in suites),
      failed == report["failed_uuids"], len(failed) == sum(int(s.get("failures")) for s in suites),
      len(suites) == sum(len({r["auth_type"] for r in t["requests"]}) for t in tasks))
PYEOF
)" "True True True True" "junit.xml against report.json"
[[ -s $s/report.html ]] || check missing present "report.html"
finish
