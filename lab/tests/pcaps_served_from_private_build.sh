#!/bin/bash
# A tav-pcaps the workers cannot reach (a build tree in root's 0700 home,
# with its stand-in libraries beside it) is still served: `up` copies the
# program and those libraries into the lab.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
pcaps=$(find_pcaps)
[[ -n $pcaps ]] || skip "no tav-pcaps: set TAV_PCAPS or build it"

www() { setpriv --reuid=www-data --regid=www-data --clear-groups "$@"; }
# The folders the program loads libraries from outside the system's, as the
# lab's copy must not depend on them.
mapfile -t libdirs < <(ldd "$pcaps" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }' |
  grep -Ev '^/(usr/)?lib(64)?/' | xargs -r -n1 dirname | sort -u)
lab=$(mktemp -d /tmp/tav-lab.XXXXXX)
LABS+=("$lab")
reachable=0
www test -x "$pcaps" && reachable=1
for d in "${libdirs[@]}"; do www test -x "$d" && reachable=1; done
if ((reachable == 0)); then
  # Already out of reach (a checkout in /root): serve it as it is.
  echo "$pcaps and ${libdirs[*]:-no library folder} are out of www-data's reach"
  TAV_PCAPS=$pcaps bash "$LAB_SH" up "$lab" || { echo "FAIL: lab.sh up $lab" >&2; exit 1; }
else
  command -v unshare >/dev/null || skip "missing unshare"
  # A mount namespace whose mounts do not propagate back; "/" is no mount
  # point in a chroot, so there is none.
  unshare -m --propagation private true 2>/dev/null ||
    skip "no private mount namespace here (a chroot?) and $pcaps is within www-data's reach"
  new_tmp
  home=$NEW_TMP
  chmod 0700 "$home"
  install -m 0755 "$pcaps" "$home/tav-pcaps"
  # Inside, each library folder is replaced by a 0700 copy: root still finds
  # the libraries, www-data does not. Apache, started inside, keeps that view.
  hide=""
  for d in "${libdirs[@]}"; do
    mkdir -p "$home$d"
    cp -a "$d/." "$home$d/"
    chmod 0700 "$home$d"
    hide+="mount --bind '$home$d' '$d' && "
  done
  unshare -m --propagation private bash -c "${hide}TAV_PCAPS='$home/tav-pcaps' bash '$LAB_SH' up '$lab'" ||
    { echo "FAIL: lab.sh up $lab" >&2; exit 1; }
  www test -x "$home/tav-pcaps" && check reachable unreachable "the original program, for www-data"
fi
# shellcheck disable=SC1091
source "$lab/lab.env"

basic_get daemon "$(password_of daemon)" /cgi/pcaps
check "$CODE" 200 "daemon on /cgi/pcaps"
check_contains "$BODY" $'\nRemote user: daemon\n' "page"
check_contains "$BODY" "KORVAL caps: 0000043c 0000043c 0000043c" "page"
echo "libraries copied: $(find "$LAB_DIR/cgi/lib" -type f -printf "%f ")(from ${libdirs[*]:-nowhere})"
finish
