#!/bin/bash
# tav-req's Negotiate requests are served for a user with its ticket and
# refused with 401 for the same user without one (no cache, or an empty
# cache of its own); the served page names the Kerberos principal, and the
# credentials tav-req delegates reach the server.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
require_tav
pcaps=$(find_pcaps)
[[ -n $pcaps ]] || skip "no tav-pcaps: set TAV_PCAPS or build it"
lab_up TAV_PCAPS="$pcaps"

u=bin
empty=$LAB_DIR/ccache/empty-$u
install -o "$u" -g "$(id -g "$u")" -m 0600 /dev/null "$empty"
missing=$LAB_DIR/ccache/missing-$u
new_tmp
tasks=$NEW_TMP/tasks.json
# One task per cache; tav-req wants its tasks to differ in user or label.
task() {  # task LABEL CCACHE TAG
  cat <<JSON
  {"env": {"KRB5CCNAME": "$2", "KRB5_CONFIG": "$LAB_KRB5_CONFIG"},
   "user": {"name": "$u", "password": "$(password_of $u)", "mac_label": "$1"},
   "requests": [
     {"uuid": "$3-area", "uri": "$LAB_BASE_URL/gss/l2_3/", "auth_type": "gssapi"},
     {"uuid": "$3-pcaps", "uri": "$LAB_BASE_URL/gss/cgi/pcaps", "auth_type": "gssapi"}]}
JSON
}
{
  echo "["
  task "$(label_of "$u")" "$(ccache_of "$u")" ticket
  echo ","
  task 0:0 "FILE:$missing" missing
  echo ","
  task 1:1 "FILE:$empty" empty
  echo "]"
} >"$tasks"

check "$(ls -A "$LAB_DIR/deleg")" "" "delegated caches before tav-req runs"
run_req "$tasks"
check "$(response ticket-area code)" 200 "$u with its ticket on /gss/l2_3/"
check "$(response ticket-pcaps code)" 200 "$u with its ticket on /gss/cgi/pcaps"
check_contains "$(response ticket-pcaps body)" $'\nRemote user: '"$u@$LAB_REALM"$'\n' \
  "recorded body of /gss/cgi/pcaps"
for tag in missing empty; do
  check "$(response $tag-area code)" 401 "$u with the $tag cache on /gss/l2_3/"
  check "$(response $tag-pcaps code)" 401 "$u with the $tag cache on /gss/cgi/pcaps"
done
check "$(stat -c %s "$empty")" 0 "size of the empty cache after tav-req"
[[ ! -e $missing ]] || check "exists" "absent" "the missing cache after tav-req"

# Only the task with a ticket delegated, and Apache keeps what it got.
check "$(ls -A "$LAB_DIR/deleg")" "$u@$LAB_REALM" "delegated caches after tav-req"
KRB5_CONFIG=$LAB_KRB5_CONFIG klist -c "FILE:$LAB_DIR/deleg/$u@$LAB_REALM" >"$LAB_DIR/klist.out" 2>&1
check_contains "$(cat "$LAB_DIR/klist.out")" "Default principal: $u@$LAB_REALM" "delegated cache"
check_contains "$(cat "$LAB_DIR/klist.out")" "krbtgt/$LAB_REALM@$LAB_REALM" "delegated cache"
finish
