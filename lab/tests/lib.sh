# shellcheck shell=bash disable=SC2034
# Sourced by every lab test: skip rules, one lab per test in a fresh temp
# folder, teardown on exit, and request helpers. A failed test keeps its
# folder (path printed) so the logs can be read.

LAB_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LAB_SH=$LAB_ROOT/lab.sh
REPO_ROOT=$(cd "$LAB_ROOT/.." && pwd)
PY=/usr/bin/python3
AREAS="l0_0 l1_1 l2_3 l3_7 open bad_3_7"
LABEL_AREAS="l0_0 l1_1 l2_3 l3_7"
declare -A AREA_LABEL=([l0_0]=0:0 [l1_1]=1:1 [l2_3]=2:3 [l3_7]=3:7 [open]=3:7 [bad_3_7]=3:7)
# Worked out by hand from nobody=0:0 daemon=1:1 bin=2:3 sys=3:7 games=2:2:
# games has level 2 but lacks category 0x1, so it reads only 0:0.
declare -A DOMINATING=([l0_0]="nobody daemon bin sys games" [l1_1]="daemon bin sys"
  [l2_3]="bin sys" [l3_7]="sys")

FAILS=0
LABS=()
TMP_DIRS=()

skip() { echo "SKIP: $*" >&2; exit 125; }

require_lab_tools() {
  local p
  [[ $(id -u) == 0 ]] || skip "the lab needs root"
  for p in apache2 krb5kdc kdb5_util kadmin.local kinit htpasswd curl setpriv ss "$PY"; do
    command -v "$p" >/dev/null || skip "missing $p"
  done
  [[ -e /usr/lib/apache2/modules/mod_auth_gssapi.so ]] || skip "missing mod_auth_gssapi"
}

cleanup() {
  local rc=$? d
  for d in "${LABS[@]}"; do bash "$LAB_SH" down "$d" || rc=1; done
  for d in "${LABS[@]}" "${TMP_DIRS[@]}"; do
    if ((rc == 0 || rc == 125)); then rm -rf "$d"; else echo "kept $d" >&2; fi
  done
  exit "$rc"
}
trap cleanup EXIT

new_tmp() {  # makes a folder removed on exit (kept on failure), path in NEW_TMP
  NEW_TMP=$(mktemp -d /tmp/tav-lab-test.XXXXXX)
  chmod 0755 "$NEW_TMP"
  TMP_DIRS+=("$NEW_TMP")
}

# lab_up [VAR=VALUE...]: brings a lab up in a fresh folder and sources its
# lab.env into the shell, so LAB_* describe the newest lab.
lab_up() {
  local d
  d=$(mktemp -d /tmp/tav-lab.XXXXXX)
  LABS+=("$d")
  env "$@" bash "$LAB_SH" up "$d" || { echo "FAIL: lab.sh up $d" >&2; exit 1; }
  # shellcheck disable=SC1091
  source "$d/lab.env"
}

check() {  # check ACTUAL EXPECTED WHAT
  if [[ $1 != "$2" ]]; then
    echo "FAIL: $3: got '$1', want '$2'" >&2
    FAILS=$((FAILS + 1))
  fi
}

check_contains() {  # check_contains TEXT NEEDLE WHAT
  if [[ $1 != *"$2"* ]]; then
    echo "FAIL: $3: '$2' not in: $1" >&2
    FAILS=$((FAILS + 1))
  fi
}

finish() {
  if ((FAILS)); then
    echo "$FAILS check(s) failed" >&2
    exit 1
  fi
  echo "PASS: $(basename "$0" .sh)"
}

password_of() { local v=LAB_PASSWORD_$1; echo "${!v}"; }
label_of() { local v=LAB_LABEL_$1; echo "${!v}"; }
ccache_of() { local v=LAB_CCACHE_$1; echo "${!v}"; }

# as_user USER CMD...: runs CMD as USER with the lab's krb5.conf and USER's
# cache, unless KRB5CCNAME is already set for the call.
as_user() {
  local u=$1
  shift
  setpriv --reuid="$u" --regid="$(id -g "$u")" --clear-groups \
    env KRB5_CONFIG="$LAB_KRB5_CONFIG" KRB5CCNAME="${KRB5CCNAME:-FILE:$LAB_DIR/ccache/$u}" "$@"
}

# basic_get USER PASSWORD PATH: sets CODE and BODY.
basic_get() {
  local out
  out=$(curl -sS -u "$1:$2" -w '\n%{http_code}' "$LAB_BASE_URL$3")
  CODE=${out##*$'\n'}
  BODY=${out%$'\n'*}
}

# negotiate_get USER PATH [CURL ARGS...]: sets CODE, BODY and CURL_STATUS.
negotiate_get() {
  local u=$1 path=$2 out
  shift 2
  CURL_STATUS=0
  out=$(as_user "$u" curl -sS --negotiate -u : "$@" -w '\n%{http_code}' "$LAB_BASE_URL$path") ||
    CURL_STATUS=$?
  CODE=${out##*$'\n'}
  BODY=${out%$'\n'*}
}

# The pcaps program under test: TAV_PCAPS, else the build tree's, else none.
find_pcaps() {
  if [[ -n ${TAV_PCAPS:-} ]]; then
    echo "$TAV_PCAPS"
  elif [[ -x $REPO_ROOT/build/pcaps/tav-pcaps ]]; then
    echo "$REPO_ROOT/build/pcaps/tav-pcaps"
  fi
}

# Processes whose command line names folder $1 (a zombie's is empty). The
# list is taken before grep starts, so grep does not find itself.
lab_processes() {
  local files=(/proc/[0-9]*/cmdline)
  grep -laF -- "$1/" "${files[@]}" 2>/dev/null | cut -d/ -f3
}

listening() {  # listening PORT: prints the sockets bound to PORT, with owners
  [[ $1 =~ ^[0-9]+$ ]] || { echo "not a port: '$1'"; return; }
  ss -lntupH "sport = :$1"
}

# gen_lab_suite OUTDIR [DESCRIPTION]: writes tasks.json, metadata.json and
# config.json of the newest lab's description (suite.json, or DESCRIPTION such
# as $LAB_SUITE_HTTPS) into OUTDIR with tav-suite (TAV_SUITE, else the build
# tree's); skips when there is none.
gen_lab_suite() {
  TAV_SUITE=${TAV_SUITE:-$REPO_ROOT/build/suite/tav-suite}
  [[ -x $TAV_SUITE ]] || skip "no tav-suite at $TAV_SUITE: set TAV_SUITE or build it"
  # shellcheck disable=SC2153  # LAB_SUITE comes from the lab's lab.env
  "$TAV_SUITE" gen "${2:-$LAB_SUITE}" --out "$1"
}

# check_schemas KIND FILE...: each FILE is valid against schemas/KIND.schema.json.
check_schemas() {
  local kind=$1
  shift
  check "$("$PY" "$REPO_ROOT/tests/schemas/validate.py" "$REPO_ROOT/schemas" "$kind" "$@" 2>&1)" "" \
    "$kind files against their schema"
}

# The misconfigured area's wrongful grants: lab.sh's BAD_EXTRA user (daemon,
# 1:1) by both auth types, in tav-suite's uuid form.
BAD_UUIDS=(basic-daemon-1_1-bad_3_7 gssapi-daemon-1_1-bad_3_7)

# The tav programs under test: TAV_REQ and TAV_REP, else the build tree's;
# skips when one is missing. Sets REQ and REP.
require_tav() {
  REQ=${TAV_REQ:-$REPO_ROOT/build/req/tav-req}
  REP=${TAV_REP:-$REPO_ROOT/build/rep/tav-rep}
  [[ -x $REQ ]] || skip "no tav-req at $REQ: set TAV_REQ or build it"
  [[ -x $REP ]] || skip "no tav-rep at $REP: set TAV_REP or build it"
}

# The viewer under test: TAV_VIEW, else the build tree's; skips when missing.
# Sets VIEW.
require_view() {
  VIEW=${TAV_VIEW:-$REPO_ROOT/build/view/tav-view}
  [[ -x $VIEW ]] || skip "no tav-view at $VIEW: set TAV_VIEW or build it"
}

# run_req TASKS [OPTION...]: runs tav-req on TASKS, with the options, in a
# fresh folder (REQ_DIR) and checks its exit status; the answers are in
# $REQ_DIR/out/responses.json. The children write logs and answers as the
# task users, hence mode 1777.
run_req() {
  new_tmp
  REQ_DIR=$NEW_TMP
  install -d -m 1777 "$REQ_DIR/logs" "$REQ_DIR/out"
  "$REQ" -d "$REQ_DIR/logs" -t "$1" -o "$REQ_DIR/out" "${@:2}" >"$REQ_DIR/req.stdout" 2>&1
  check "$?" 0 "exit status of tav-req on $1"
}

# response UUID code|body: prints a field of UUID's answer in the last
# run_req's responses.json, or "missing" when there is no such answer.
response() {
  "$PY" - "$REQ_DIR/out/responses.json" "$1" "$2" <<'PYEOF'
import json, sys
try:
    answers = json.load(open(sys.argv[1]))
except (OSError, ValueError) as e:
    sys.stdout.write(f"missing ({e})")
    sys.exit()
found = [a for a in answers if isinstance(a, dict) and a.get("uuid") == sys.argv[2]]
sys.stdout.write(str(found[0].get(sys.argv[3], "missing")) if len(found) == 1 else
                 f"missing ({len(found)} answers)")
PYEOF
}

# run_rep METADATA CONFIG: runs tav-rep on the last run_req's answers in a
# fresh folder (REP_DIR) and checks its exit status; the report is
# $REP_DIR/out/report.json.
run_rep() {
  new_tmp
  REP_DIR=$NEW_TMP
  mkdir "$REP_DIR/logs" "$REP_DIR/out"
  "$REP" -d "$REP_DIR/logs" -m "$1" -r "$REQ_DIR/out/responses.json" -c "$2" \
    -o "$REP_DIR/out" >"$REP_DIR/rep.stdout" 2>&1
  check "$?" 0 "exit status of tav-rep on $1"
}

# check_file FILE EXPECTED WHAT: FILE holds exactly EXPECTED, byte for byte.
check_file() {
  local want
  new_tmp
  want=$NEW_TMP/expected
  printf '%s' "$2" >"$want"
  if ! cmp -s "$want" "$1"; then
    echo "FAIL: $3: $1 differs from the expected bytes (< got, > want):" >&2
    diff "$1" "$want" >&2
    FAILS=$((FAILS + 1))
  fi
}
