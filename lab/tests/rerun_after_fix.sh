#!/bin/bash
# The cycle after a change, on the real lab: the first run catches the
# misconfigured area; the area is fixed in place (an Include the lab's Apache
# reads, and a graceful restart, so the URLs stay); only the failures are
# rerun, their answers merged over the first run's; tav-view against the first
# run says "fixed 2, new failures 0" and exits 0 under --fail-on new; and the
# merged answers give tav-rep the report of the whole suite run again.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
require_tav
require_view

new_tmp
s=$NEW_TMP
: >"$s/fix.conf"
lab_up LAB_HTTPD_INCLUDE="$s/fix.conf"
gen_lab_suite "$s/suite" || { check "$?" 0 gen_lab_suite; finish; }
suite=$s/suite

# 1. The first run, its report and tav-view's verdicts.
run_req "$suite/tasks.json"
first=$REQ_DIR/out/responses.json
run_rep "$suite/metadata.json" "$suite/config.json"
first_report=$REP_DIR/out/report.json
check "$("$PY" -c 'import json, sys; print(json.load(open(sys.argv[1]))["failed_uuids"])' \
  "$first_report")" "['${BAD_UUIDS[0]}', '${BAD_UUIDS[1]}']" "the first run's failures"
"$VIEW" -m "$suite/metadata.json" -r "$first" -c "$suite/config.json" -q --json "$s/first.json" \
  >/dev/null 2>"$s/view1.err"
check "$?" 1 "exit status of tav-view on the first run: $(cat "$s/view1.err")"

# 2. The fix: the area admits only the users that dominate its label.
printf '<Location /basic/bad_3_7>\n  Require user sys\n</Location>\n<Location /gss/bad_3_7>\n  Require user sys@%s\n</Location>\n' \
  "$LAB_REALM" >"$s/fix.conf"
kill -USR1 "$(cat "$LAB_DIR/run/httpd.pid")"
for _ in $(seq 50); do
  basic_get daemon "$(password_of daemon)" /basic/bad_3_7/
  [[ $CODE == 200 ]] || break
  sleep 0.2
done
[[ $CODE == 401 || $CODE == 403 ]] || check "$CODE" "401 or 403" "daemon at the fixed area"

# 3. Only the failures again, merged over the first run.
"$TAV_SUITE" rerun -t "$suite/tasks.json" -m "$suite/metadata.json" -c "$suite/config.json" \
  -r "$first_report" --out "$s/again" >"$s/rerun.out" 2>&1
check "$?" 0 "exit status of tav-suite rerun: $(cat "$s/rerun.out")"
check "$("$PY" -c '
import json, sys
tasks = json.load(open(sys.argv[1]))
print(sorted(r["uuid"] for t in tasks for r in t["requests"]), len(json.load(open(sys.argv[2]))))
' "$s/again/tasks.json" "$s/again/metadata.json")" \
  "['${BAD_UUIDS[0]}', '${BAD_UUIDS[1]}'] 2" "the rerun suite"
cmp -s "$suite/config.json" "$s/again/config.json" || check differs same "the copied config.json"
run_req "$s/again/tasks.json"
# Where run_rep looks for a run's answers.
merged=$s/merged/out/responses.json
mkdir -p "$s/merged/out"
"$TAV_SUITE" merge --over "$first" -o "$merged" "$REQ_DIR/out/responses.json" \
  >"$s/merge.out" 2>&1
check "$?" 0 "exit status of tav-suite merge --over: $(cat "$s/merge.out")"

# 4. tav-view against the first run: two fixed, nothing new, status 0 under --fail-on new.
"$VIEW" -m "$suite/metadata.json" -r "$merged" -c "$suite/config.json" \
  --baseline "$s/first.json" --fail-on new --json "$s/second.json" >"$s/view2.out" 2>&1
check "$?" 0 "exit status of tav-view --baseline --fail-on new"
check_contains "$(cat "$s/view2.out")" "new failures 0, fixed 2, still failing 0, new 0, gone 0" \
  "the comparison with the first run"
check_schemas view "$s/first.json" "$s/second.json"
check_schemas tasks "$s/again/tasks.json"
check_schemas metadata "$s/again/metadata.json"
check_schemas responses "$merged"

# 5. The same report as the whole suite sent again to the fixed lab.
run_req "$suite/tasks.json"
run_rep "$suite/metadata.json" "$suite/config.json"
full_report=$REP_DIR/out/report.json
REQ_DIR=$s/merged
run_rep "$suite/metadata.json" "$suite/config.json"
check "$(cat "$REP_DIR/out/report.json")" "$(cat "$full_report")" \
  "report.json of the merged answers against the whole suite run again"
check "$("$PY" -c 'import json, sys; print(json.load(open(sys.argv[1]))["failed_uuids"])' \
  "$full_report")" "[]" "the fixed lab's failures"
finish
