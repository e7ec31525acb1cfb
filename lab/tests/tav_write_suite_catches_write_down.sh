#!/bin/bash
# Writes through the lab: the suite of suite-write.json (every area also
# checked with a PUT and a DELETE of a probe per user and auth type) passes
# tav-suite check, tav-req sends it, and report.json lists exactly the
# misconfigured read area's two wrongful grants and sys's four writes down
# into l0_0 (PUT and DELETE, Basic and Negotiate); tav-view explains the
# write-down. After the run every area holds only its index.html again. On
# the fixed lab nothing fails and nothing stays either.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
require_tav
require_view

WRITE_DOWN=(basic-sys-3_7-l0_0-delete basic-sys-3_7-l0_0-put gssapi-sys-3_7-l0_0-delete
  gssapi-sys-3_7-l0_0-put)

# run_write_suite EXPECTED_FAILED_JSON: gen, check, tav-req, tav-rep on the
# newest lab's suite-write.json; compares report.json and the areas' files.
run_write_suite() {
  local w
  new_tmp
  w=$NEW_TMP
  gen_lab_suite "$w/suite" "$LAB_SUITE_WRITE" || { check "$?" 0 "tav-suite gen"; return; }
  check_schemas tasks "$w/suite/tasks.json"
  check_schemas metadata "$w/suite/metadata.json"
  check "$("$PY" -c 'import json,sys; print(json.load(open(sys.argv[1]))["allowed_codes"])' \
    "$w/suite/config.json")" "[200, 201, 204]" "allowed codes of the write suite"
  install -d -m 1777 "$w/logs" "$w/out"
  "$TAV_SUITE" check -t "$w/suite/tasks.json" -m "$w/suite/metadata.json" \
    -c "$w/suite/config.json" -o "$w/out" -d "$w/logs" >"$w/check.out" 2>&1
  check "$?" 0 "exit status of tav-suite check: $(cat "$w/check.out")"
  check "$(grep -c 'PUT request' "$w/check.out")" 0 "PUTs without a DELETE in tav-suite check"
  REQ_DIR=$w
  "$REQ" -d "$w/logs" -t "$w/suite/tasks.json" -o "$w/out" >"$w/req.out" 2>&1
  check "$?" 0 "exit status of tav-req"
  run_rep "$w/suite/metadata.json" "$w/suite/config.json"
  "$PY" -c '
import json, sys
total = len(json.load(open(sys.argv[2])))
print(json.dumps({"failed_uuids": sorted(json.loads(sys.argv[1])), "total_count": total},
                 indent=2, sort_keys=True), end="")
' "$1" "$w/suite/metadata.json" >"$w/expected_report.json"
  check_file "$REP_DIR/out/report.json" "$(cat "$w/expected_report.json")" "report.json"
  check "$("$PY" -c 'import json,sys; print(json.load(open(sys.argv[1]))["total_count"])' \
    "$REP_DIR/out/report.json")" 180 "requests of the write suite (60 reads, 120 writes)"
  # Nothing a write put there stays.
  check "$(find "$LAB_DIR/www" -mindepth 2 ! -name index.html)" "" "files left in the areas"
  WRITE_RUN=$w
}

lab_up
run_write_suite "$(printf '"%s",' "${BAD_UUIDS[@]}" "${WRITE_DOWN[@]}" | sed 's/^/[/; s/,$/]/')"
w=$WRITE_RUN
# What the server did: the write-down was stored and deleted, an equal
# writer's probe too, a lower writer was refused, a higher reader's write
# elsewhere too.
check "$(response basic-sys-3_7-l0_0-put code)/$(response basic-sys-3_7-l0_0-delete code)" \
  201/204 "sys's write down into l0_0"
check "$(response gssapi-nobody-0_0-l0_0-put code)/$(response gssapi-nobody-0_0-l0_0-delete code)" \
  201/204 "nobody's write into l0_0 by Negotiate"
check "$(response basic-daemon-1_1-l0_0-put code)" 403 "daemon's write down into l0_0"
check "$(response basic-sys-3_7-l1_1-put code)" 403 "sys's write down into l1_1"
check "$(response basic-bin-2_3-open-put code)" 201 "bin's write into the open area"
check_contains "$(cat "$LAB_DIR/logs/access.log")" \
  "sys \"PUT /basic/l0_0/tav-probe-basic-sys-3_7-l0_0-put HTTP/1.1\" 201" "access.log"
"$VIEW" -m "$w/suite/metadata.json" -r "$w/out/responses.json" -c "$w/suite/config.json" \
  -t "$w/suite/tasks.json" >"$w/view.out" 2>&1
check "$?" 1 "exit status of tav-view"
check_contains "$(cat "$w/view.out")" "FAIL basic-sys-3_7-l0_0-put
  user sys, label 3:7, basic, PUT $LAB_BASE_URL/basic/l0_0/tav-probe-basic-sys-3_7-l0_0-put
  subject 3:7, object 0:0
  predicted refused: subject 3:7 may not write object 0:0: the label library refuses write access
  recorded 201: 201 is an allowed code" "tav-view's explanation"
check_contains "$(cat "$w/view.out")" "write matrix: " "tav-view's write matrix"
check "$("$PY" -c 'import json,sys; print([a["writers"] for a in json.load(open(sys.argv[1]))["areas"]])' \
  "$LAB_JSON")" "[['nobody', 'sys'], ['daemon'], ['bin'], ['sys'], ['nobody', 'daemon', 'bin', 'sys', 'games'], ['sys']]" \
  "writers in lab.json"

lab_up LAB_FIX_BAD=1
run_write_suite '[]'
finish
