#!/bin/bash
# The open area (object label 3:7, labels ignored) serves every lab user by
# Basic and by Negotiate, and still refuses a bad password.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
lab_up

for u in $LAB_USERS; do
  basic_get "$u" "$(password_of "$u")" /basic/open/
  check "$CODE" 200 "$u on /basic/open/"
  check_contains "$BODY" "object label 3:7" "page of /basic/open/"
  negotiate_get "$u" /gss/open/
  check "$CODE" 200 "$u on /gss/open/"
  check_contains "$BODY" "object label 3:7" "page of /gss/open/"
done
basic_get nobody wrong /basic/open/
check "$CODE" 401 "bad password on /basic/open/"
finish
