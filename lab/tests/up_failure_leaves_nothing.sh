#!/bin/bash
# An `up` that fails after the KDC has started (Apache's config rejected, or
# openssl failing to make the lab's CA) tears down what it started;
# `up` refuses a folder that is not empty and leaves it untouched.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools

new_tmp
dir=$NEW_TMP
bad=$dir/bad.conf
echo "NoSuchDirective on" >"$bad"
LAB_HTTPD_INCLUDE=$bad bash "$LAB_SH" up "$dir/lab" 2>"$dir/up.err"
check "$?" 1 "exit status of an up whose Apache config is rejected"
check_contains "$(cat "$dir/up.err")" "apache2 rejects its config" "message of the failed up"
check "$(lab_processes "$dir/lab" | wc -l)" 0 "processes left by the failed up"
kdc_port=$(sed -n 's/^ *kdc = 127.0.0.1:\([0-9]*\)$/\1/p' "$dir/lab/krb5.conf")
[[ -n $kdc_port ]] || check "" "a port" "KDC port in krb5.conf"
check "$(grep -c 'commencing operation' "$dir/lab/logs/kdc.log")" 1 "the KDC had started"
check "$(listening "$kdc_port")" "" "sockets on the KDC port"
bash "$LAB_SH" down "$dir/lab"
check "$?" 0 "down after a failed up"

# openssl failing to make the lab's CA: the KDC started before it is stopped.
new_tmp
fake=$NEW_TMP
printf '#!/bin/sh\nexit 1\n' >"$fake/openssl"
chmod 0755 "$fake/openssl"
PATH=$fake:$PATH bash "$LAB_SH" up "$dir/lab3" 2>"$dir/up3.err"
check "$?" 1 "exit status of an up whose openssl fails"
check_contains "$(cat "$dir/up3.err")" "openssl failed" "message of that up"
check "$(lab_processes "$dir/lab3" | wc -l)" 0 "processes left by that up"
check "$(ls "$dir/lab3/run")" "" "pid files left by that up"

new_tmp
busy=$NEW_TMP
echo keep >"$busy/file"
bash "$LAB_SH" up "$busy" 2>/dev/null
check "$?" 1 "exit status of up into a non-empty folder"
check "$(ls -A "$busy")" file "content of the non-empty folder"

TAV_PCAPS=$busy/file bash "$LAB_SH" up "$dir/lab2" 2>/dev/null
check "$?" 1 "exit status of up with a TAV_PCAPS that is not executable"
check "$(lab_processes "$dir/lab2" | wc -l)" 0 "processes left by that up"
finish
