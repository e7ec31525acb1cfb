#!/bin/bash
# tav-req's Basic requests to tav-pcaps under Apache record a page that names
# each task's user and the capabilities of the serving process.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
require_tav
pcaps=$(find_pcaps)
[[ -n $pcaps ]] || skip "no tav-pcaps: set TAV_PCAPS or build it"
lab_up TAV_PCAPS="$pcaps"

new_tmp
tasks=$NEW_TMP/tasks.json
cat >"$tasks" <<JSON
[
  {"env": {}, "user": {"name": "daemon", "password": "$(password_of daemon)", "mac_label": "$(label_of daemon)"},
   "requests": [{"uuid": "daemon-pcaps", "uri": "$LAB_BASE_URL/cgi/pcaps", "auth_type": "basic"}]},
  {"env": {}, "user": {"name": "bin", "password": "$(password_of bin)", "mac_label": "$(label_of bin)"},
   "requests": [{"uuid": "bin-pcaps", "uri": "$LAB_BASE_URL/cgi/pcaps", "auth_type": "basic"}]}
]
JSON
run_req "$tasks"
for u in daemon bin; do
  check "$(response $u-pcaps code)" 200 "$u on /cgi/pcaps"
  body=$(response $u-pcaps body)
  check_contains "$body" $'\nRemote user: '"$u"$'\n' "recorded body for $u"
  check_contains "$body" "KORVAL caps: 0000043c 0000043c 0000043c" "recorded body for $u"
done
finish
