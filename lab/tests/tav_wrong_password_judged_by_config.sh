#!/bin/bash
# A wrong Basic password sent by tav-req gets 401, and tav-rep judges that
# answer by the metadata and configuration: a failure where the labels
# predict a grant or 401 is not a refusal code, a pass where they predict a
# refusal.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
require_tav
lab_up

new_tmp
s=$NEW_TMP
# daemon's password with one character added, and a control with the right one.
cat >"$s/tasks.json" <<JSON
[
  {"env": {}, "user": {"name": "daemon", "password": "$(password_of daemon)x", "mac_label": "1:1"},
   "requests": [{"uuid": "wrong-password", "uri": "$LAB_BASE_URL/basic/l0_0/", "auth_type": "basic"}]},
  {"env": {}, "user": {"name": "nobody", "password": "$(password_of nobody)", "mac_label": "0:0"},
   "requests": [{"uuid": "right-password", "uri": "$LAB_BASE_URL/basic/l0_0/", "auth_type": "basic"}]}
]
JSON
meta() {  # meta SUBJECT OBJECT: the wrong-password request's labels; the control's predict a grant
  cat <<JSON
[
  {"uuid": "wrong-password", "subject_label": "$1", "min_mac_label": "0:0", "max_mac_label": "3:7",
   "object_label": "$2", "expect_ignore_mac_label": false},
  {"uuid": "right-password", "subject_label": "0:0", "min_mac_label": "0:0", "max_mac_label": "3:7",
   "object_label": "0:0", "expect_ignore_mac_label": false}
]
JSON
}
meta 1:1 0:0 >"$s/meta-grant.json"
meta 0:0 1:1 >"$s/meta-refuse.json"
config() {  # config DENIED_CODES
  echo '{"check_body": true, "body_template": "object label {obj_mac_lev}:{obj_mac_cat:x}",'
  echo " \"allowed_codes\": [200], \"denied_codes\": [$1]}"
}
config "401, 403" >"$s/config.json"
config 403 >"$s/config-403.json"

run_req "$s/tasks.json"
check "$(response wrong-password code)" 401 "recorded code of the wrong password"
check "$(response right-password code)" 200 "recorded code of the right password"
# Apache saw daemon's credentials, so the 401 is its verdict on the password.
grep -q ' daemon "GET /basic/l0_0/ [^"]*" 401 ' "$LAB_DIR/logs/access.log" ||
  check "$(cat "$LAB_DIR/logs/access.log")" "daemon's request answered 401" "Apache's access log"

listed=$'{\n  "failed_uuids": [\n    "wrong-password"\n  ],\n  "total_count": 2\n}'
none=$'{\n  "failed_uuids": [],\n  "total_count": 2\n}'
run_rep "$s/meta-grant.json" "$s/config.json"
check_file "$REP_DIR/out/report.json" "$listed" "report.json when a grant is predicted"
run_rep "$s/meta-refuse.json" "$s/config.json"
check_file "$REP_DIR/out/report.json" "$none" "report.json when a refusal is predicted"
run_rep "$s/meta-refuse.json" "$s/config-403.json"
check_file "$REP_DIR/out/report.json" "$listed" "report.json when only 403 is a refusal"
finish
