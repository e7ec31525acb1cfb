#!/bin/bash
# A bad password, an unknown user or no credentials get 401 (not 403) on
# every area, while the right password still works.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
lab_up

for area in $AREAS; do
  basic_get sys "$(password_of sys)x" "/basic/$area/"
  check "$CODE" 401 "sys with a bad password on /basic/$area/"
  basic_get nosuchuser "$(password_of sys)" "/basic/$area/"
  check "$CODE" 401 "unknown user on /basic/$area/"
  CODE=$(curl -sS -o /dev/null -w '%{http_code}' "$LAB_BASE_URL/basic/$area/")
  check "$CODE" 401 "no credentials on /basic/$area/"
  basic_get sys "$(password_of sys)" "/basic/$area/"
  check "$CODE" 200 "sys with its password on /basic/$area/"
done
# Another user's password is a bad password too.
basic_get sys "$(password_of daemon)" /basic/l0_0/
check "$CODE" 401 "sys with daemon's password"
finish
