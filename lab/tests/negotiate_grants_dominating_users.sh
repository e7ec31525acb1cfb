#!/bin/bash
# Negotiate: each task user, with its own Kerberos ticket, reads exactly the
# label areas its label dominates, and Apache sees the user's principal.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
lab_up

for area in $LABEL_AREAS; do
  for u in $LAB_USERS; do
    negotiate_get "$u" "/gss/$area/"
    if [[ " ${DOMINATING[$area]} " == *" $u "* ]]; then
      check "$CODE" 200 "$u on /gss/$area/"
      check_contains "$BODY" "object label ${AREA_LABEL[$area]}" "page of /gss/$area/"
    else
      check "$CODE" 403 "$u on /gss/$area/"
    fi
  done
done
check_contains "$(cat "$LAB_DIR/logs/access.log")" "games@$LAB_REALM \"GET /gss/l0_0/ HTTP/1.1\" 200" \
  "access log names the principal"
finish
