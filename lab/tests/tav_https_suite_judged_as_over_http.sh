#!/bin/bash
# The lab suite over HTTPS (suite-https.json), Basic and Negotiate:
# - tav-suite check passes it with --cacert DIR/ca.pem, warns without a CA,
#   and names every task user who cannot read a CA file in a root-only folder;
# - tav-req --cacert: tav-rep and tav-view fail exactly the misconfigured
#   area's two requests, as over http, and Negotiate delegates over TLS;
# - without --cacert every request is a failed transfer, each child log has
#   one error line per request with libcurl's reason, and tav-view names the
#   host in one hint;
# - tav-req --insecure: the same verdict, and main.log and every child log
#   carry the warning.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
require_tav
require_view
lab_up

new_tmp
s=$NEW_TMP
gen_lab_suite "$s/suite" "$LAB_SUITE_HTTPS" || { check "$?" 0 "tav-suite gen of suite-https.json"; finish; }
suite=(-m "$s/suite/metadata.json" -c "$s/suite/config.json")
check "$(grep -c "\"uri\": \"$LAB_HTTPS_BASE_URL/" "$s/suite/tasks.json")" 60 "https requests"
check "$(stat -c %a "$LAB_CA")" 644 "mode of ca.pem"

# tav-suite check, with and without the CA, and with one the users cannot read.
out=$("$TAV_SUITE" check -t "$s/suite/tasks.json" "${suite[@]}" --cacert "$LAB_CA" 2>&1)
check "$?" 0 "tav-suite check --cacert: $out"
check "$(grep -c '^\(error\|warning\):' <<<"$out")" 0 "findings with the CA: $out"
out=$("$TAV_SUITE" check -t "$s/suite/tasks.json" "${suite[@]}" 2>/dev/null)
check_contains "$out" "warning: $s/suite/tasks.json: 60 requests go to https:// URLs (first \
tasks[0].requests[0]) and neither --cacert nor --capath is given" "the warning without a CA"
install -d -m 0700 "$s/private"
cp "$LAB_CA" "$s/private/ca.pem"
out=$("$TAV_SUITE" check -t "$s/suite/tasks.json" "${suite[@]}" --cacert "$s/private/ca.pem" 2>&1)
check "$?" 1 "tav-suite check with an unreadable CA file"
check "$(grep -o '^error: .*: user "[a-z]*" of tasks\[[0-9]\] cannot read this CA file' <<<"$out" |
  sed 's/.*user "\([a-z]*\)".*/\1/' | tr '\n' ' ')" "nobody daemon bin sys games " \
  "the users who cannot read the CA file"

# view_run OUT: tav-view on the last run with the tasks file; status in VIEW_STATUS.
view_run() {
  "$VIEW" "${suite[@]}" -r "$REQ_DIR/out/responses.json" -t "$s/suite/tasks.json" >"$1" 2>&1
  VIEW_STATUS=$?
}
failed_uuids() {
  "$PY" -c 'import json, sys; print(" ".join(json.load(open(sys.argv[1]))["failed_uuids"]))' \
    "$REP_DIR/out/report.json"
}
host_hint="hint: all 60 requests to $LAB_HTTPS_BASE_URL failed before an answer: look in the \
child logs for the transfer error, e.g. a certificate the run does not trust"

# Trusting the lab's CA: the same verdict as over http.
run_req "$s/suite/tasks.json" --cacert "$LAB_CA"
run_rep "$s/suite/metadata.json" "$s/suite/config.json"
check "$(failed_uuids)" "${BAD_UUIDS[*]}" "report.json with --cacert"
view_run "$s/view-cacert.out"
check "$VIEW_STATUS" 1 "tav-view's status with --cacert"
check "$(head -1 "$s/view-cacert.out")" "requests 60, passed 58, failed 2" "tav-view's totals"
check "$(grep -c 'failed before an answer' "$s/view-cacert.out")" 0 "host hints with --cacert"
check "$(grep -l 'trusting the CA certificates in' "$REQ_DIR/logs/main.log")" \
  "$REQ_DIR/logs/main.log" "main.log names the CA file"
# Every user read some area by Negotiate; mod_auth_gssapi stored what each delegated.
check "$(ls "$LAB_DIR/deleg" | tr '\n' ' ')" \
  "bin@TAV.LAB daemon@TAV.LAB games@TAV.LAB nobody@TAV.LAB sys@TAV.LAB " \
  "credentials delegated over TLS"

# No CA given: the system store does not know the lab's CA.
run_req "$s/suite/tasks.json"
check "$("$PY" -c 'import json, sys; print(sorted({(a["uuid"], a["code"]) for a in json.load(open(sys.argv[1]))}))' \
  "$REQ_DIR/out/responses.json")" "[('', 0)]" "answers without a CA"
# One error line per request, naming the request, with libcurl's reason.
check "$(sed -n 's/.*\[error\] SSL peer certificate or SSH remote key was not OK: SSL certificate problem: unable to get local issuer certificate (request \([^ ]*\) to https:.*/\1/p' \
  "$REQ_DIR"/logs/child-*.log | sort | tr '\n' ' ')" \
  "$(grep -o '"uuid": "[^"]*"' "$s/suite/tasks.json" | cut -d'"' -f4 | sort | tr '\n' ' ')" \
  "the child logs' error lines, one per request"
check "$(grep -c '\[error\]' "$REQ_DIR"/logs/child-*.log | cut -d: -f2 | tr '\n' ' ')" \
  "12 12 12 12 12 " "error lines per child log"
view_run "$s/view-none.out"
check "$(grep -c '^hint: .*failed before an answer' "$s/view-none.out")" 1 "host hints"
check_contains "$(cat "$s/view-none.out")" "$host_hint" "the host hint"

# --insecure: verdict as with the CA, and every log says the run did not verify.
run_req "$s/suite/tasks.json" --insecure
run_rep "$s/suite/metadata.json" "$s/suite/config.json"
check "$(failed_uuids)" "${BAD_UUIDS[*]}" "report.json with --insecure"
check "$(grep -lF "[warning] --insecure: answers over https are taken without verifying the \
server's certificate or host name in this run" "$REQ_DIR"/logs/*.log | wc -l)" 6 \
  "logs with the --insecure warning (main.log and five children)"
finish
