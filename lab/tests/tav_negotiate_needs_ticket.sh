#!/bin/bash
# tav-req's Negotiate requests are served for a user with its ticket and
# refused with 401 for the same user without one (no cache, or an empty
# cache of its own); the served page names the Kerberos principal, and the
# credentials tav-req delegates reach the server. Debian 12's libkrb5 may
# crash on the empty cache (see lab/README.md): then that task's child dies
# by a signal, main.log names it, and the other tasks' answers are merged.
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
new_tmp
REQ_DIR=$NEW_TMP
install -d -m 1777 "$REQ_DIR/logs" "$REQ_DIR/out"
"$REQ" -d "$REQ_DIR/logs" -t "$tasks" -o "$REQ_DIR/out" >"$REQ_DIR/req.stdout" 2>&1
status=$?
main_log=$REQ_DIR/logs/main.log
# The third task's outcome line, then the line that names how its child died.
empty_pid=$(grep -oE 'child \[[0-9]+\] was (failed|successfully completed)$' "$main_log" |
  sed -n '3s/[^0-9]*\([0-9]*\).*/\1/p')
death=$(grep -oE "\[error\] child \[${empty_pid:-none}\] was killed by signal [0-9]+ \(.+\)$" \
  "$main_log")
check "$(response ticket-area code)" 200 "$u with its ticket on /gss/l2_3/"
check "$(response ticket-pcaps code)" 200 "$u with its ticket on /gss/cgi/pcaps"
check_contains "$(response ticket-pcaps body)" $'\nRemote user: '"$u@$LAB_REALM"$'\n' \
  "recorded body of /gss/cgi/pcaps"
tags=(missing)
if [[ -n $death ]]; then
  echo "NOTE: libkrb5 crashed on the empty cache: $death" >&2
  check "$status" 1 "exit status of tav-req when a child died"
  check "$(response empty-area code)" "missing (0 answers)" "answers of the dead child"
else
  check "$status" 0 "exit status of tav-req on $tasks"
  tags=(missing empty)
fi
for tag in "${tags[@]}"; do
  check "$(response "$tag-area" code)" 401 "$u with the $tag cache on /gss/l2_3/"
  check "$(response "$tag-pcaps" code)" 401 "$u with the $tag cache on /gss/cgi/pcaps"
done
check "$(stat -c %s "$empty")" 0 "size of the empty cache after tav-req"
[[ ! -e $missing ]] || check "exists" "absent" "the missing cache after tav-req"

# Only the task with a ticket delegated, and Apache keeps what it got.
check "$(ls -A "$LAB_DIR/deleg")" "$u@$LAB_REALM" "delegated caches after tav-req"
KRB5_CONFIG=$LAB_KRB5_CONFIG klist -c "FILE:$LAB_DIR/deleg/$u@$LAB_REALM" >"$LAB_DIR/klist.out" 2>&1
check_contains "$(cat "$LAB_DIR/klist.out")" "Default principal: $u@$LAB_REALM" "delegated cache"
check_contains "$(cat "$LAB_DIR/klist.out")" "krbtgt/$LAB_REALM@$LAB_REALM" "delegated cache"
finish
