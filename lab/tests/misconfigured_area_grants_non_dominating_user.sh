#!/bin/bash
# bad_3_7 (object label 3:7) wrongly admits daemon (1:1) by Basic and by
# Negotiate; brought up with LAB_FIX_BAD=1 it admits only sys.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools

probe() {  # probe USER: prints the Basic and Negotiate codes on bad_3_7
  basic_get "$1" "$(password_of "$1")" /basic/bad_3_7/
  local basic=$CODE
  negotiate_get "$1" /gss/bad_3_7/
  echo "$basic $CODE"
}

lab_up
check "$(probe daemon)" "200 200" "daemon on bad_3_7"
check "$(probe sys)" "200 200" "sys on bad_3_7"
for u in nobody bin games; do check "$(probe $u)" "403 403" "$u on bad_3_7"; done
basic_get daemon "$(password_of daemon)" /basic/bad_3_7/
check_contains "$BODY" "object label 3:7" "page of /basic/bad_3_7/"
# The misconfiguration is in this one area only.
basic_get daemon "$(password_of daemon)" /basic/l3_7/
check "$CODE" 403 "daemon on /basic/l3_7/"

lab_up LAB_FIX_BAD=1
check "$LAB_FIX_BAD" 1 "LAB_FIX_BAD in lab.env"
check "$(probe daemon)" "403 403" "daemon on fixed bad_3_7"
check "$(probe sys)" "200 200" "sys on fixed bad_3_7"
finish
