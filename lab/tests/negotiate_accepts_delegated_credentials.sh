#!/bin/bash
# A client that delegates its credentials (as tav-req does) is served, and
# Apache stores the delegated cache; without delegation nothing is stored.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
lab_up

negotiate_get bin /gss/l2_3/ --delegation always
check "$CODE" 200 "bin delegating on /gss/l2_3/"
check "$(stat -c %U "$LAB_DIR/deleg/bin@$LAB_REALM" 2>&1)" www-data "owner of bin's delegated cache"
KRB5_CONFIG=$LAB_KRB5_CONFIG klist -c "FILE:$LAB_DIR/deleg/bin@$LAB_REALM" >"$LAB_DIR/klist.out" 2>&1
check_contains "$(cat "$LAB_DIR/klist.out")" "Default principal: bin@$LAB_REALM" "delegated cache"
negotiate_get sys /gss/l2_3/
check "$CODE" 200 "sys not delegating on /gss/l2_3/"
check "$(ls "$LAB_DIR/deleg")" "bin@$LAB_REALM" "delegated caches"
finish
