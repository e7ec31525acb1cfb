#!/bin/bash
# `up` starts krb5kdc and a www-data Apache on fresh ports (HTTP and HTTPS)
# and describes them in lab.env; the TLS keys are root's alone and the CA
# certificate anyone's; `down` leaves no process and no listening port, and
# may be repeated.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools

t0=$(date +%s%N)
lab_up TAV_PCAPS=
echo "bring-up took $((($(date +%s%N) - t0) / 1000000)) ms"
dir=$LAB_DIR
for key in LAB_DIR LAB_HTTP_PORT LAB_BASE_URL LAB_HTTPS_PORT LAB_HTTPS_BASE_URL LAB_CA LAB_REALM \
  LAB_KDC_PORT LAB_KRB5_CONFIG LAB_JSON; do
  [[ -n ${!key:-} ]] || check "" "a value" "$key in lab.env"
done
check "$LAB_BASE_URL" "http://127.0.0.1:$LAB_HTTP_PORT" LAB_BASE_URL
check "$LAB_HTTPS_BASE_URL" "https://127.0.0.1:$LAB_HTTPS_PORT" LAB_HTTPS_BASE_URL
check "$(stat -c '%U %a' "$LAB_CA" "$dir"/tls/*.key "$dir/tls" | tr '\n' ' ')" \
  "root 644 root 600 root 600 root 700 " "owners and modes of ca.pem, the keys and their folder"
check "$LAB_PCAPS" "" "LAB_PCAPS without TAV_PCAPS"
"$PY" -c 'import json, sys; json.load(open(sys.argv[1]))' "$LAB_JSON" || check invalid valid lab.json

apache=$(cat "$dir/run/apache.pid")
kdc=$(cat "$dir/run/kdc.pid")
check "$(listening "$LAB_HTTP_PORT" | grep -c "pid=$apache,")" 1 "Apache listens on $LAB_HTTP_PORT"
check "$(listening "$LAB_HTTPS_PORT" | grep -c "pid=$apache,")" 1 "Apache listens on $LAB_HTTPS_PORT"
# The certificate is good for both names of this machine and no other.
for host in 127.0.0.1 localhost; do
  check "$(curl -sS -o /dev/null -w '%{http_code}' --cacert "$LAB_CA" \
    "https://$host:$LAB_HTTPS_PORT/basic/")" 403 "https://$host/basic/ with the lab's CA"
done
curl -sS -o /dev/null --cacert "$LAB_CA" \
  --connect-to "other.test:$LAB_HTTPS_PORT:127.0.0.1:$LAB_HTTPS_PORT" \
  "https://other.test:$LAB_HTTPS_PORT/basic/" 2>/dev/null
check "$?" 60 "curl's status for another host name at the lab's address"
check "$(listening "$LAB_KDC_PORT" | grep -c "pid=$kdc,")" 2 "krb5kdc listens on tcp and udp $LAB_KDC_PORT"
# Workers drop to www-data; only the parent stays root.
users=$(ps -eo user=,sid= | awk -v s="$apache" '$2 == s {print $1}' | sort | uniq -c | awk '{print $2 "=" $1}' | tr '\n' ' ')
[[ $users == "root=1 www-data="* ]] || check "$users" "root=1 www-data=N" "users of the Apache session"
# Without TAV_PCAPS there is no CGI area.
basic_get sys "$(password_of sys)" /cgi/pcaps
check "$CODE" 403 "/cgi/pcaps without TAV_PCAPS"
# Outside the areas nothing is served, even to sys.
basic_get sys "$(password_of sys)" /basic/
check "$CODE" 403 "/basic/ itself"
check "$(curl -s -o /dev/null -w '%{http_code}' "$LAB_BASE_URL/l0_0/")" 403 "/l0_0/ without an area prefix"

t0=$(date +%s%N)
bash "$LAB_SH" down "$dir"
check "$?" 0 "first down"
echo "tear-down took $((($(date +%s%N) - t0) / 1000000)) ms"
check "$(lab_processes "$dir" | wc -l)" 0 "processes left after down"
check "$(listening "$LAB_HTTP_PORT")" "" "sockets on the HTTP port after down"
check "$(listening "$LAB_HTTPS_PORT")" "" "sockets on the HTTPS port after down"
check "$(listening "$LAB_KDC_PORT")" "" "sockets on the KDC port after down"
check "$(curl -s -o /dev/null -w '%{http_code}' "$LAB_BASE_URL/")" 000 "a request after down"
bash "$LAB_SH" down "$dir"
check "$?" 0 "second down"
new_tmp
never=$NEW_TMP
bash "$LAB_SH" down "$never"
check "$?" 0 "down on a folder without a lab"
finish
