#!/bin/bash
# Builds the Debian package from a built tree, checks its contents and lintian's verdict,
# extracts it into a temporary root, installs the same tree with `cmake --install` into another
# (it must hold the same files), and runs the programs from each, with the build tree neither in
# PATH nor in LD_LIBRARY_PATH: RUNPATH and where the stand-ins resolve, --version and --help,
# tav-suite gen on the example description, and tav-req + tav-rep + tav-view on the example
# suite against the local HTTP test server. Exit 0 pass, 1 fail, 125 skip.
# The RUNPATHs below are literal: $ORIGIN is the loader's, not the shell's.
# shellcheck disable=SC2016
set -euo pipefail

build="${TAV_BUILD_DIR:?the build folder}"
source_dir="${TAV_SOURCE_DIR:?the source folder}"
version="${TAV_VERSION:?the project version}"
read -r -a programs <<<"${TAV_PROGRAMS:-tav-req tav-rep}"
standins="${TAV_STANDINS:-1}"

if [[ $(id -u) -ne 0 ]]; then
  echo "SKIP: tav-req switches to other users and the package is owned by root: needs root"
  exit 125
fi
for tool in cpack dpkg-deb lintian readelf python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing (scripts/install-deps.sh installs it)"
    exit 125
  fi
done

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work="$(mktemp -d /tmp/tav-package-XXXXXX)"
# The task user must reach the output folders inside.
chmod 0755 "$work"
server_pid=""
cleanup() {
  if [[ -n "$server_pid" ]]; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Before cpack, whose build step would make anything that installing still lacked.
echo "== cmake --install"
cmake --install "$build" --prefix "$work/install-root/usr" >"$work/install.log" 2>&1 ||
  fail "cmake --install failed: $(cat "$work/install.log")"

echo "== cpack -G DEB"
(cd "$build" && cpack -G DEB -B "$work/package") || fail "cpack failed"
debs=("$work/package/tav_${version}"-*_*.deb)
[[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || fail "no single tav_${version}-*.deb in $work/package"
deb="${debs[0]}"

echo "== contents"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
expected=(/usr/lib/cgi-bin/tav/tav-pcaps /usr/share/man/man8/tav-pcaps.8.gz
  /usr/share/doc/tav/README.md /usr/share/doc/tav/ARCHITECTURE.md /usr/share/doc/tav/copyright
  /usr/share/doc/tav/changelog.Debian.gz /usr/share/doc/tav/examples/tasks.json
  /usr/share/doc/tav/examples/metadata.json /usr/share/doc/tav/examples/config.json
  /usr/share/doc/tav/examples/suite.json)
for program in "${programs[@]}"; do
  expected+=("/usr/bin/$program" "/usr/share/man/man1/$program.1.gz"
    "/usr/share/bash-completion/completions/$program")
done
for schema in tasks metadata config suite responses task-responses report view; do
  expected+=("/usr/share/tav/schemas/$schema.schema.json")
done
if [[ "$standins" == 1 ]]; then
  expected+=(/usr/lib/tav/libzem.so.3 /usr/lib/tav/libkorval-base.so.3)
fi
for path in "${expected[@]}"; do
  grep -qx -- "$path" "$work/contents" || fail "$path is not in the package"
done
# Nothing beyond the programs this tree builds, and nothing outside /usr.
bin_count=$(grep -c '^/usr/bin/.' "$work/contents" || true)
[[ "$bin_count" -eq ${#programs[@]} ]] || fail "/usr/bin holds $bin_count files, expected ${programs[*]}"
if grep -v '^/usr/' "$work/contents" | grep -qv '^/$'; then
  fail "files outside /usr: $(grep -v '^/usr/' "$work/contents" | tr '\n' ' ')"
fi
if [[ "$standins" != 1 ]] && grep -q '^/usr/lib/tav/' "$work/contents"; then
  fail "stand-in libraries packed although the platform's own are used"
fi

echo "== lintian"
lintian "$deb" >"$work/lintian" 2>&1 || true
cat "$work/lintian"
if grep -q '^E: ' "$work/lintian"; then fail "lintian reports errors"; fi

echo "== extract the package"
unset LD_LIBRARY_PATH
dpkg-deb -x "$deb" "$work/package-root"
chmod 0755 "$work/package-root" "$work/install-root"
files() { (cd "$1" && find . \( -type f -o -type l \) | sort); }
diff <(files "$work/package-root") <(files "$work/install-root") >"$work/tree-diff" ||
  fail "cmake --install and the package differ (< package, > cmake --install): $(cat "$work/tree-diff")"

# The example suite against the test server: daemon reads /basic/l0_0/ (served by /basic, which
# answers 200 for daemon's password) and is refused /basic/l3_7/ (served by /forbidden).
coproc server { exec python3 "$source_dir/tests/req/http_test_server.py" --user daemon:daemon-password; }
# shellcheck disable=SC2154 # coproc sets server_PID
server_pid=$server_PID
read -r -t 10 port <&"${server[0]}" || fail "the test server did not start"

# check_runpath ROOT FILE WANTED: RUNPATH relative to the program with the stand-ins, none
# without them; the stand-ins resolve inside ROOT, nothing from the build tree.
check_runpath() {
  local root="$1" file="$2" wanted="$3" runpath
  runpath="$(readelf -d "$file" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\1=\2/p')"
  if [[ "$standins" == 1 ]]; then
    [[ "$runpath" == "RUNPATH=$wanted" ]] || fail "$file: $runpath, expected RUNPATH=$wanted"
    local name arrow path rest count=0
    while read -r name arrow path rest; do
      [[ "$(dirname "$(realpath -e "$path")")" == "$root/usr/lib/tav" ]] ||
        fail "$file: $name $arrow $path"
      count=$((count + 1))
    done < <(ldd "$file" | grep -E '^\s*lib(zem|korval-base)\.so\.3 ')
    [[ $count -ge 1 ]] || fail "$file loads no stand-in: $(ldd "$file")"
  else
    [[ -z "$runpath" ]] || fail "$file: $runpath without stand-ins"
  fi
  if ldd "$file" | grep -q -- "$build"; then fail "$file loads from the build tree"; fi
  if ldd "$file" | grep -q 'not found'; then fail "$file: $(ldd "$file" | grep 'not found')"; fi
}

uuids() { python3 -c 'import json,sys; print(" ".join(sorted(e["uuid"] for e in json.load(open(sys.argv[1])))))' "$1"; }

# run_from ROOT: the programs of the tree in ROOT on their own, their files in ROOT.run.
run_from() {
  local root="$1" run="$1.run"
  local PATH="$root/usr/bin:/usr/sbin:/usr/bin:/sbin:/bin"
  echo "== run from $root"
  [[ "$PATH" != *"$build"* ]] || fail "the build folder is in PATH"
  mkdir -m 0755 "$run"
  for program in "${programs[@]}"; do
    check_runpath "$root" "$root/usr/bin/$program" '$ORIGIN/../lib/tav'
    [[ "$(command -v "$program")" == "$root/usr/bin/$program" ]] ||
      fail "$program is $(command -v "$program")"
    "$program" --version >"$run/out" 2>&1 || fail "$program --version failed"
    grep -q "$version" "$run/out" || fail "$program --version: $(cat "$run/out")"
    "$program" --help >"$run/out" 2>&1 || fail "$program --help failed"
    grep -q "$program" "$run/out" || fail "$program --help: $(cat "$run/out")"
  done
  if [[ "$standins" == 1 ]]; then
    [[ $(ldd "$root/usr/bin/tav-req" | grep -cE "lib(zem|korval-base)\.so\.3 => $root/usr/bin/\.\./lib/tav/") -eq 2 ]] ||
      fail "tav-req: $(ldd "$root/usr/bin/tav-req")"
  fi
  local pcaps="$root/usr/lib/cgi-bin/tav/tav-pcaps"
  check_runpath "$root" "$pcaps" '$ORIGIN/../../tav'
  REMOTE_USER='a<b' "$pcaps" >"$run/out" || fail "tav-pcaps failed"
  grep -q '^Remote user: a&lt;b$' "$run/out" || fail "tav-pcaps page: $(cat "$run/out")"
  grep -q '^KORVAL caps: [0-9a-f]\{8\} [0-9a-f]\{8\} [0-9a-f]\{8\}$' "$run/out" ||
    fail "tav-pcaps page: $(cat "$run/out")"

  local examples="$root/usr/share/doc/tav/examples"
  if [[ " ${programs[*]} " == *" tav-suite "* ]]; then
    tav-suite gen "$examples/suite.json" --out "$run/gen" || fail "tav-suite gen failed"
    for name in tasks metadata config; do
      [[ -s "$run/gen/$name.json" ]] || fail "tav-suite gen wrote no $name.json"
    done
    [[ "$(uuids "$run/gen/metadata.json")" == "$(uuids "$examples/metadata.json")" ]] ||
      fail "tav-suite gen: uuids $(uuids "$run/gen/metadata.json"), the example has $(uuids "$examples/metadata.json")"
  fi

  sed -e "s|http://127.0.0.1:8080/basic/l0_0/|http://127.0.0.1:$port/basic|" \
    -e "s|http://127.0.0.1:8080/basic/l3_7/|http://127.0.0.1:$port/forbidden|" \
    "$examples/tasks.json" >"$run/tasks.json"
  mkdir -m 1777 "$run/logs" "$run/out-run"
  tav-req -d "$run/logs" -t "$run/tasks.json" -o "$run/out-run" ||
    fail "tav-req failed: $(cat "$run/logs"/*.log)"
  tav-rep -d "$run/logs" -m "$examples/metadata.json" -r "$run/out-run/responses.json" \
    -c "$examples/config.json" -o "$run/out-run" || fail "tav-rep failed: $(cat "$run/logs/report.log")"
  python3 - "$run/out-run" <<'EOF' || fail "unexpected results"
import json, sys
out = sys.argv[1]
responses = json.load(open(out + "/responses.json"))
want = [{"uuid": "basic-daemon-1_1-l0_0", "code": 200, "body": "user daemon"},
        {"uuid": "basic-daemon-1_1-l3_7", "code": 403, "body": "forbidden"}]
report = json.load(open(out + "/report.json"))
ok = responses == want and report == {"failed_uuids": [], "total_count": 2}
if not ok:
    print("responses.json:", responses, "\nreport.json:", report, file=sys.stderr)
sys.exit(0 if ok else 1)
EOF
  if [[ " ${programs[*]} " == *" tav-view "* ]]; then
    tav-view -m "$examples/metadata.json" -r "$run/out-run/responses.json" \
      -c "$examples/config.json" -t "$run/tasks.json" --quiet || fail "tav-view: status $?"
  fi
}

run_from "$work/package-root"
run_from "$work/install-root"
echo "PASS: the package and cmake --install give the same tree, and the programs run from both"
