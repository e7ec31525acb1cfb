#!/bin/bash
# Builds the Debian package from a built tree, checks its contents and lintian's verdict,
# extracts it into a temporary root and runs the programs from there, with the build tree
# neither in PATH nor in LD_LIBRARY_PATH: --version and --help, tav-suite gen on the example
# description, and tav-req + tav-rep on the example suite against the local HTTP test server.
# Exit 0 pass, 1 fail, 125 skip.
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
  expected+=("/usr/bin/$program" "/usr/share/man/man1/$program.1.gz")
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

echo "== extract and run"
root="$work/root"
dpkg-deb -x "$deb" "$root"
chmod 0755 "$root"
export PATH="$root/usr/bin:/usr/sbin:/usr/bin:/sbin:/bin"
unset LD_LIBRARY_PATH
[[ "$PATH" != *"$build"* ]] || fail "the build folder is in PATH"

# RUNPATH: relative to the program with the stand-ins, none without them.
check_runpath() {
  local file="$1" wanted="$2" runpath
  runpath="$(readelf -d "$file" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\1=\2/p')"
  if [[ "$standins" == 1 ]]; then
    [[ "$runpath" == "RUNPATH=$wanted" ]] || fail "$file: $runpath, expected RUNPATH=$wanted"
    # ldd resolves the private libraries inside the extracted root, not in the build tree.
    local name arrow path rest
    while read -r name arrow path rest; do
      [[ "$(dirname "$(realpath -e "$path")")" == "$root/usr/lib/tav" ]] ||
        fail "$file: $name $arrow $path"
    done < <(ldd "$file" | grep -E '^\s*lib(zem|korval-base)\.so\.3 ')
  else
    [[ -z "$runpath" ]] || fail "$file: $runpath without stand-ins"
  fi
  if ldd "$file" | grep -q -- "$build"; then fail "$file loads from the build tree"; fi
  if ldd "$file" | grep -q 'not found'; then fail "$file: $(ldd "$file" | grep 'not found')"; fi
}
for program in "${programs[@]}"; do
  check_runpath "$root/usr/bin/$program" '$ORIGIN/../lib/tav'
  "$program" --version >"$work/out" 2>&1 || fail "$program --version failed"
  grep -q "$version" "$work/out" || fail "$program --version: $(cat "$work/out")"
  "$program" --help >"$work/out" 2>&1 || fail "$program --help failed"
  grep -q "$program" "$work/out" || fail "$program --help: $(cat "$work/out")"
done
check_runpath "$root/usr/lib/cgi-bin/tav/tav-pcaps" '$ORIGIN/../../tav'
if [[ "$standins" == 1 ]]; then
  [[ $(ldd "$root/usr/bin/tav-req" | grep -cE "lib(zem|korval-base)\.so\.3 => $root/usr/bin/\.\./lib/tav/") -eq 2 ]] ||
    fail "tav-req: $(ldd "$root/usr/bin/tav-req")"
fi
REMOTE_USER='a<b' "$root/usr/lib/cgi-bin/tav/tav-pcaps" >"$work/out" || fail "tav-pcaps failed"
grep -q '^Remote user: a&lt;b$' "$work/out" || fail "tav-pcaps page: $(cat "$work/out")"
grep -q '^KORVAL caps: [0-9a-f]\{8\} [0-9a-f]\{8\} [0-9a-f]\{8\}$' "$work/out" ||
  fail "tav-pcaps page: $(cat "$work/out")"

examples="$root/usr/share/doc/tav/examples"
uuids() { python3 -c 'import json,sys; print(" ".join(sorted(e["uuid"] for e in json.load(open(sys.argv[1])))))' "$1"; }
if [[ " ${programs[*]} " == *" tav-suite "* ]]; then
  tav-suite gen "$examples/suite.json" --out "$work/gen" || fail "tav-suite gen failed"
  for name in tasks metadata config; do
    [[ -s "$work/gen/$name.json" ]] || fail "tav-suite gen wrote no $name.json"
  done
  [[ "$(uuids "$work/gen/metadata.json")" == "$(uuids "$examples/metadata.json")" ]] ||
    fail "tav-suite gen: uuids $(uuids "$work/gen/metadata.json"), the example has $(uuids "$examples/metadata.json")"
fi

# The example suite against the test server: daemon reads /basic/l0_0/ (served by /basic, which
# answers 200 for daemon's password) and is refused /basic/l3_7/ (served by /forbidden).
coproc server { exec python3 "$source_dir/tests/req/http_test_server.py" --user daemon:daemon-password; }
# shellcheck disable=SC2154 # coproc sets server_PID
server_pid=$server_PID
read -r -t 10 port <&"${server[0]}" || fail "the test server did not start"
sed -e "s|http://127.0.0.1:8080/basic/l0_0/|http://127.0.0.1:$port/basic|" \
  -e "s|http://127.0.0.1:8080/basic/l3_7/|http://127.0.0.1:$port/forbidden|" \
  "$examples/tasks.json" >"$work/tasks.json"
mkdir -m 1777 "$work/logs" "$work/out-run"
tav-req -d "$work/logs" -t "$work/tasks.json" -o "$work/out-run" ||
  fail "tav-req failed: $(cat "$work/logs"/*.log)"
tav-rep -d "$work/logs" -m "$examples/metadata.json" -r "$work/out-run/responses.json" \
  -c "$examples/config.json" -o "$work/out-run" || fail "tav-rep failed: $(cat "$work/logs/report.log")"
python3 - "$work/out-run" <<'EOF' || fail "unexpected results"
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
  tav-view -m "$examples/metadata.json" -r "$work/out-run/responses.json" \
    -c "$examples/config.json" -t "$work/tasks.json" --quiet || fail "tav-view: status $?"
fi
echo "PASS: the package installs the programs and they run from $root"
