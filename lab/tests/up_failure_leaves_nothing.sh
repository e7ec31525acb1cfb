#!/bin/bash
# An `up` that fails (Apache's config rejected, openssl failing to make the lab's CA)
# tears down what it started and removes what it created, showing the log that says
# why, so the next `up` on the same folder works;
# `up` refuses a folder that is not empty and leaves it untouched.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools

new_tmp
dir=$NEW_TMP
bad=$dir/bad.conf
echo "NoSuchDirective on" >"$bad"
LAB_HTTPD_INCLUDE=$bad bash "$LAB_SH" up "$dir/new/lab" 2>"$dir/up.err"
check "$?" 1 "exit status of an up whose Apache config is rejected"
check_contains "$(cat "$dir/up.err")" "apache2 rejects its config" "message of the failed up"
# The log goes with the folder, so its lines come with the message.
check_contains "$(cat "$dir/up.err")" "NoSuchDirective" "the config test's log in the message"
check "$(lab_processes "$dir/new/lab" | wc -l)" 0 "processes left by the failed up (the KDC had started)"
check "$([[ -e $dir/new ]] && echo left || echo gone)" gone "the folders the failed up created"
bash "$LAB_SH" down "$dir/new/lab"
check "$?" 0 "down after a failed up"

# www-data cannot reach a folder below a closed one; once it can, up works there.
new_tmp
closed=$NEW_TMP
chmod 0700 "$closed"
mkdir "$closed/lab"
bash "$LAB_SH" up "$closed/lab" 2>"$dir/closed.err"
check "$?" 1 "exit status of an up that www-data cannot reach"
check_contains "$(cat "$dir/closed.err")" "www-data cannot reach" "message of that up"
check "$(ls -A "$closed/lab")" "" "content of the empty folder after that up"
chmod 0755 "$closed"
bash "$LAB_SH" up "$closed/lab" 2>"$dir/again.err"
check "$?" 0 "exit status of the next up on the same folder: $(cat "$dir/again.err")"
bash "$LAB_SH" down "$closed/lab"
check "$?" 0 "down after that up"
check "$(lab_processes "$closed/lab" | wc -l)" 0 "processes left after down"

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

# A folder another user owns: that user could replace the lab's CA, config and CGI program.
new_tmp
theirs=$NEW_TMP
chown nobody "$theirs"
bash "$LAB_SH" up "$theirs" 2>"$dir/theirs.err"
check "$?" 1 "exit status of up into a folder of another user"
check_contains "$(cat "$dir/theirs.err")" "belongs to another user" "message of that up"
check "$(ls -A "$theirs")" "" "content of that folder after the up"

TAV_PCAPS=$busy/file bash "$LAB_SH" up "$dir/lab2" 2>/dev/null
check "$?" 1 "exit status of up with a TAV_PCAPS that is not executable"
check "$(lab_processes "$dir/lab2" | wc -l)" 0 "processes left by that up"
finish
