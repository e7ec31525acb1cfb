#!/bin/bash
# A tav-pcaps the workers cannot reach (a build tree in root's 0700 home,
# with its stand-in libraries beside it) is still served: `up` copies the
# program and those libraries into the lab.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
command -v unshare >/dev/null || skip "missing unshare"
pcaps=$(find_pcaps)
[[ -n $pcaps ]] || skip "no tav-pcaps: set TAV_PCAPS or build it"

# The folders the program loads libraries from outside the system's, as the
# lab's copy must not depend on them.
mapfile -t libdirs < <(ldd "$pcaps" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }' |
  grep -Ev '^/(usr/)?lib(64)?/' | xargs -r -n1 dirname | sort -u)
new_tmp
home=$NEW_TMP
chmod 0700 "$home"
install -m 0755 "$pcaps" "$home/tav-pcaps"
# In a mount namespace of its own, each library folder is replaced by a 0700
# copy: root still finds the libraries, www-data does not. Apache, started
# inside, keeps that view.
hide=""
for d in "${libdirs[@]}"; do
  mkdir -p "$home$d"
  cp -a "$d/." "$home$d/"
  chmod 0700 "$home$d"
  hide+="mount --bind '$home$d' '$d' && "
done
lab=$(mktemp -d /tmp/tav-lab.XXXXXX)
LABS+=("$lab")
unshare -m --propagation private bash -c "${hide}TAV_PCAPS='$home/tav-pcaps' bash '$LAB_SH' up '$lab'" ||
  { echo "FAIL: lab.sh up $lab" >&2; exit 1; }
# shellcheck disable=SC1091
source "$lab/lab.env"

setpriv --reuid=www-data --regid=www-data --clear-groups test -x "$home/tav-pcaps" &&
  check reachable unreachable "the original program, for www-data"
basic_get daemon "$(password_of daemon)" /cgi/pcaps
check "$CODE" 200 "daemon on /cgi/pcaps"
check_contains "$BODY" $'\nRemote user: daemon\n' "page"
check_contains "$BODY" "KORVAL caps: 0000043c 0000043c 0000043c" "page"
echo "libraries copied: $(find "$LAB_DIR/cgi/lib" -type f -printf "%f ")(from ${libdirs[*]:-nowhere})"
finish
