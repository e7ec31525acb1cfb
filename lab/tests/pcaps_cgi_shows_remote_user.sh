#!/bin/bash
# tav-pcaps runs as a CGI program of the lab: its page names the Basic user
# or the Kerberos principal and the capability words the lab hands it.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
pcaps=$(find_pcaps)
[[ -n $pcaps ]] || skip "no tav-pcaps: set TAV_PCAPS or build it"
lab_up TAV_PCAPS="$pcaps"

check "$LAB_PCAPS" "$LAB_DIR/cgi/tav-pcaps" "LAB_PCAPS in lab.env"
cmp -s "$LAB_PCAPS" "$pcaps" || check "a different file" "a copy of $pcaps" "served program"
basic_get daemon "$(password_of daemon)" /cgi/pcaps
check "$CODE" 200 "daemon on /cgi/pcaps"
check_contains "$BODY" $'<pre>\nRemote user: daemon\n' "Basic page"
check_contains "$BODY" "KORVAL caps: 0000043c 0000043c 0000043c" "Basic page"
negotiate_get bin /gss/cgi/pcaps --delegation always
check "$CODE" 200 "bin on /gss/cgi/pcaps"
check_contains "$BODY" $'Remote user: bin@'"$LAB_REALM"$'\n' "Negotiate page"
basic_get daemon wrong /cgi/pcaps
check "$CODE" 401 "bad password on /cgi/pcaps"
finish
