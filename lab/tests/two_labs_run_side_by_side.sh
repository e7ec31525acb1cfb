#!/bin/bash
# Two labs run at once on their own ports with their own KDCs and secrets;
# stopping one leaves the other serving.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools

lab_up
a_dir=$LAB_DIR a_url=$LAB_BASE_URL a_http=$LAB_HTTP_PORT a_kdc=$LAB_KDC_PORT a_pw=$(password_of sys)
lab_up
[[ $a_http != "$LAB_HTTP_PORT" && $a_kdc != "$LAB_KDC_PORT" ]] ||
  check "$a_http $a_kdc" "ports other than $LAB_HTTP_PORT $LAB_KDC_PORT" "ports of the first lab"

basic_get sys "$(password_of sys)" /basic/l3_7/
check "$CODE" 200 "sys on the second lab"
check "$(curl -s -o /dev/null -w '%{http_code}' -u "sys:$a_pw" "$a_url/basic/l3_7/")" 200 "sys on the first lab"
basic_get sys "$a_pw" /basic/l3_7/
check "$CODE" 401 "the first lab's password on the second lab"
# A ticket from the first lab's KDC means nothing to the second lab.
KRB5CCNAME=FILE:$a_dir/ccache/sys negotiate_get sys /gss/l3_7/
check "$CODE" 401 "the first lab's ticket on the second lab"
negotiate_get sys /gss/l3_7/
check "$CODE" 200 "the second lab's ticket on the second lab"

bash "$LAB_SH" down "$a_dir"
check "$(curl -s -o /dev/null -w '%{http_code}' "$a_url/")" 000 "the first lab after its down"
basic_get sys "$(password_of sys)" /basic/l3_7/
check "$CODE" 200 "the second lab after the first one's down"
finish
