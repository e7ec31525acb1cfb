#!/bin/bash
# Basic: each label area serves its page exactly to the users whose label
# dominates the area's label; every other lab user gets 403.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
lab_up

for area in $LABEL_AREAS; do
  for u in $LAB_USERS; do
    basic_get "$u" "$(password_of "$u")" "/basic/$area/"
    if [[ " ${DOMINATING[$area]} " == *" $u "* ]]; then
      check "$CODE" 200 "$u on /basic/$area/"
      check_contains "$BODY" "object label ${AREA_LABEL[$area]}" "page of /basic/$area/"
    else
      check "$CODE" 403 "$u on /basic/$area/"
    fi
  done
done
finish
