#!/bin/bash
# End to end through the lab: tav-suite writes the suite from the lab's
# description and checks it with the run's folders, tav-req sends it, tav-rep
# judges it, and report.json lists exactly the misconfigured area's wrongful
# grants; against the fixed lab it lists none.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
req=${TAV_REQ:-$REPO_ROOT/build/req/tav-req}
rep=${TAV_REP:-$REPO_ROOT/build/rep/tav-rep}
[[ -x $req && -x $rep ]] || skip "no tav-req/tav-rep: set TAV_REQ and TAV_REP or build them"

run_suite() {  # run_suite FAILED_JSON: checks report.json of a tav-req + tav-rep run; sets w
  new_tmp
  w=$NEW_TMP
  # The children write their logs and responses as the task users.
  install -d -m 1777 "$w/req-logs" "$w/req-out"
  mkdir "$w/rep-logs" "$w/rep-out"
  gen_lab_suite "$w/suite" || { check "$?" 0 "tav-suite gen"; return; }
  "$TAV_SUITE" check -t "$w/suite/tasks.json" -m "$w/suite/metadata.json" -c "$w/suite/config.json" \
    -o "$w/req-out" -d "$w/req-logs" >"$w/check.out" 2>&1
  check "$?" 0 "exit status of tav-suite check: $(cat "$w/check.out")"
  "$req" -d "$w/req-logs" -t "$w/suite/tasks.json" -o "$w/req-out"
  check "$?" 0 "exit status of tav-req"
  [[ -f $w/req-out/responses.json ]] || check missing present "responses.json of tav-req"
  "$rep" -d "$w/rep-logs" -m "$w/suite/metadata.json" -r "$w/req-out/responses.json" \
    -c "$w/suite/config.json" -o "$w/rep-out"
  check "$?" 0 "exit status of tav-rep"
  "$PY" -c '
import json, sys
failed = json.loads(sys.argv[1])
total = len(json.load(open(sys.argv[2])))
sys.stdout.write(json.dumps({"failed_uuids": failed, "total_count": total}, indent=2, sort_keys=True))
' "$1" "$w/suite/metadata.json" >"$w/expected_report.json"
  if ! cmp -s "$w/expected_report.json" "$w/rep-out/report.json"; then
    check "$(cat "$w/rep-out/report.json" 2>&1)" "$(cat "$w/expected_report.json")" "report.json"
  fi
}

lab_up
run_suite "[\"${BAD_UUIDS[0]}\", \"${BAD_UUIDS[1]}\"]"
check "$(grep -c daemon-1_1-bad_3_7 "$w/rep-out/report.json")" 2 "misconfigured requests in report.json"
lab_up LAB_FIX_BAD=1
run_suite '[]'

finish
