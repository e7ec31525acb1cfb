#!/bin/bash
# The GNU parallel script of docs/several-machines.md, as written, run by bash
# on the lab's description with three "hosts": a stand-in ssh runs each remote
# command here under sh, scp copies. It ends with tav-view's status (1: the
# misconfigured area's two requests fail), tav-rep's report is the one
# machine's, tav-req reads each shard's tasks file while it is 0600, and no
# tasks file is left on the hosts.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
require_tav
require_view
command -v parallel >/dev/null || skip "missing parallel (GNU parallel)"
TAV_SUITE=${TAV_SUITE:-$REPO_ROOT/build/suite/tav-suite}
[[ -x $TAV_SUITE ]] || skip "no tav-suite at $TAV_SUITE"

lab_up
new_tmp
work=$NEW_TMP/control hosts=$NEW_TMP/hosts bin=$NEW_TMP/bin
mkdir -p "$work" "$hosts" "$bin"
"$PY" - "$REPO_ROOT/docs/several-machines.md" "$work/script.sh" <<'PYEOF' || exit 1
import re, sys
blocks = re.findall(r"```bash\n(.*?)```", open(sys.argv[1]).read(), re.S)
if len(blocks) != 1:
    sys.exit(f"FAIL: {len(blocks)} bash blocks in {sys.argv[1]}, want 1")
open(sys.argv[2], "w").write(blocks[0])
PYEOF
# The hosts' folders live in this test's folder.
sed -i "s|/var/tmp/tav-shard-|$hosts/tav-shard-|g" "$work/script.sh"
cp "$LAB_SUITE" "$work/description.json"

# ssh root@HOST COMMAND...: runs COMMAND here, as sshd would, in a shell.
cat >"$bin/ssh" <<EOF
#!/bin/bash
echo "\$1" >>"$NEW_TMP/ssh.log"
shift
exec sh -c "\$*"
EOF
# scp [-q] root@HOST:PATH DEST
cat >"$bin/scp" <<'EOF'
#!/bin/bash
[[ $1 == -q ]] && shift
exec cp -- "${1#*:}" "$2"
EOF
# tav-req notes the mode of the tasks file it is given.
cat >"$bin/tav-req" <<EOF
#!/bin/bash
stat -c %a "\$4" >>"$NEW_TMP/tasks-modes"
exec "$REQ" "\$@"
EOF
chmod 0755 "$bin/ssh" "$bin/scp" "$bin/tav-req"
ln -s "$TAV_SUITE" "$bin/tav-suite"
ln -s "$REP" "$bin/tav-rep"
ln -s "$VIEW" "$bin/tav-view"
grep -q 'tav-req -d $dir/logs -t $dir/tasks.json' "$work/script.sh" ||
  check "$(grep tav-req "$work/script.sh")" "tav-req -d DIR -t TASKS ..." "the stand-in tav-req's arguments"

(cd "$work" && PATH="$bin:$PATH" bash script.sh >stdout 2>stderr)
check "$?" 1 "the script's status (tav-view's: some failed); stderr: $(cat "$work/stderr")"
check "$(head -1 "$work/stdout")" "requests 60, passed 58, failed 2" "tav-view's totals"
check "$(sort -u "$NEW_TMP/ssh.log" | tr '\n' ' ')" "root@client1 root@client2 root@client3 " \
  "the hosts"
check "$("$PY" -c 'import json,sys; print(json.load(open(sys.argv[1]))["failed_uuids"])' \
  "$work/report/report.json")" "['${BAD_UUIDS[0]}', '${BAD_UUIDS[1]}']" "report.json"
check "$(tr '\n' ' ' <"$NEW_TMP/tasks-modes")" "600 600 600 " "the hosts' tasks files while read"
check "$(find "$hosts" -name 'tasks*' | wc -l)" 0 "tasks files left on the hosts"
check "$(stat -c %a "$work/suite/tasks.json")" 600 "the control machine's tasks.json"
finish
