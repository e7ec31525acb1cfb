#!/bin/bash
# Benchmarks of tav-req and tav-rep against the tools a user would use instead, side by side in
# one run, against an Apache httpd of our own on 127.0.0.1. Run as root from anywhere:
#
#   bench/run.sh [seq] [fanout] [checker]     (all three when none is named)
#
# Env: BENCH_REPEAT (5), BENCH_N (1000), BENCH_TASKS (50), BENCH_TASK_REQUESTS (100),
# BENCH_SCALES ("10000 100000 1000000"), BENCH_MPM (prefork, worker or event), BENCH_BUILD_DIR
# (build-bench), TAV_REQ, TAV_REP, TAV_PARSE_ONLY, TAV_LIBCURL_LOOP (prebuilt programs; otherwise
# the script builds them), BENCH_KEEP=1 (keep the work folder). See bench/README.md.
set -euo pipefail
umask 022

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
# shellcheck source-path=SCRIPTDIR/../lab
source "$HERE/../lab/servers.sh"
PY=/usr/bin/python3
REPEAT=${BENCH_REPEAT:-5}
N=${BENCH_N:-1000}
TASKS=${BENCH_TASKS:-50}
TASK_REQUESTS=${BENCH_TASK_REQUESTS:-100}
SCALES=${BENCH_SCALES:-"10000 100000 1000000"}
BUILD_DIR=${BENCH_BUILD_DIR:-$ROOT/build-bench}
MPM=${BENCH_MPM:-prefork}
# System users that exist on every Debian; the fan-out cycles through them.
USERS=(nobody daemon bin sys)
SEQ_USER=daemon
SEQ_LABEL=1:1

die() { echo "bench: $*" >&2; exit 1; }
note() { echo "bench: $*" >&2; }

SECTIONS=("$@")
((${#SECTIONS[@]})) || SECTIONS=(seq fanout checker)
for s in "${SECTIONS[@]}"; do
  [[ $s == seq || $s == fanout || $s == checker ]] || die "unknown section '$s' (seq, fanout, checker)"
done
wants() { local s; for s in "${SECTIONS[@]}"; do [[ $s == "$1" ]] && return 0; done; return 1; }
[[ $MPM == worker || $MPM == event || $MPM == prefork ]] || die "BENCH_MPM must be prefork, worker or event"
for v in REPEAT N TASKS TASK_REQUESTS; do
  [[ ${!v} =~ ^[1-9][0-9]*$ ]] || die "$v must be a positive integer"
done

[[ $(id -u) == 0 ]] || die "run as root: tav-req switches each task to its user"

# ---------------------------------------------------------------- tools and programs

# The build's packages, the lab's (Apache, curl, ss, ...) and bench/packages.txt (time).
"$ROOT/scripts/install-deps.sh" --bench >&2 || die "scripts/install-deps.sh --bench failed"
APACHE=/usr/sbin/apache2
[[ -x $APACHE ]] || APACHE=$(command -v apache2)

build_programs() {
  local targets=()
  [[ -n ${TAV_REQ:-} ]] || targets+=(tav-req)
  [[ -n ${TAV_REP:-} ]] || targets+=(tav-rep)
  [[ -n ${TAV_PARSE_ONLY:-} ]] || targets+=(tav-bench-parse-only)
  [[ -n ${TAV_LIBCURL_LOOP:-} ]] || targets+=(tav-bench-libcurl-loop)
  if ((${#targets[@]})); then
    note "building ${targets[*]} in $BUILD_DIR (Release)"
    cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTAV_BUILD_BENCH=ON \
      >"$WORK/cmake.log" 2>&1 || die "cmake failed, see $WORK/cmake.log"
    cmake --build "$BUILD_DIR" -j"$(nproc)" --target "${targets[@]}" \
      >"$WORK/build.log" 2>&1 || die "build failed, see $WORK/build.log"
  fi
  REQ=${TAV_REQ:-$BUILD_DIR/req/tav-req}
  REP=${TAV_REP:-$BUILD_DIR/rep/tav-rep}
  PARSE_ONLY=${TAV_PARSE_ONLY:-$BUILD_DIR/bench/tav-bench-parse-only}
  LIBCURL_LOOP=${TAV_LIBCURL_LOOP:-$BUILD_DIR/bench/tav-bench-libcurl-loop}
  local p
  for p in "$REQ" "$REP" "$PARSE_ONLY" "$LIBCURL_LOOP"; do [[ -x $p ]] || die "missing program $p"; done
}

# ---------------------------------------------------------------- work folder and server

WORK=$(mktemp -d /tmp/tav-bench.XXXXXX)
# The server's workers (www-data) must be able to enter it.
chmod 0755 "$WORK"
APACHE_PIDFILE=$WORK/httpd/run/apache.pid

# Apache and its workers share a process group; none may outlive the run.
stop_server() {
  local pid
  [[ -f $APACHE_PIDFILE ]] || return 0
  pid=$(<"$APACHE_PIDFILE")
  stop_group "$pid" cmdline_names "$WORK" || return 1
  rm -f "$APACHE_PIDFILE"
  wait "$pid" 2>/dev/null || true
}

cleanup() {
  local rc=$?
  stop_server || rc=1
  if [[ ${BENCH_KEEP:-0} == 1 ]]; then note "kept $WORK"; else rm -rf "$WORK"; fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Every fan-out connection is served at once from the start; one connection serves a client.
mpm_config() {
  if [[ $MPM == prefork ]]; then
    printf '%s\n' "StartServers 64" "MinSpareServers 64" "MaxSpareServers 128" \
      "ServerLimit 256" "MaxRequestWorkers 256"
  else
    printf '%s\n' "StartServers 2" "ServerLimit 4" "ThreadsPerChild 64" \
      "MaxRequestWorkers 256" "MinSpareThreads 64" "MaxSpareThreads 256"
  fi
}

declare -A PASSWORD
start_server() {
  local d=$WORK/httpd u rc=0
  mkdir -p "$d/conf" "$d/run" "$d/logs" "$d/www/open" "$d/www/auth"
  # A small file, the size of a lab page.
  printf '<!DOCTYPE html>\n<html><head><title>tav bench</title></head>\n<body><p>object label 1:1</p></body></html>\n' |
    tee "$d/www/open/small.html" >"$d/www/auth/small.html"
  : >"$d/conf/htpasswd"
  for u in "${USERS[@]}"; do
    PASSWORD[$u]=$(random_hex 8)
    # SHA1 (-s): a cheap check, so the figures measure the clients, not the server's hash.
    htpasswd -b -s "$d/conf/htpasswd" "$u" "${PASSWORD[$u]}" 2>/dev/null || die "htpasswd failed"
  done
  chown root:www-data "$d/conf/htpasswd"
  chmod 0640 "$d/conf/htpasswd"
  PORT=$(free_ports tcp)
  cat >"$d/conf/httpd.conf" <<EOF
ServerRoot "$d"
ServerName 127.0.0.1
Listen 127.0.0.1:$PORT
User www-data
Group www-data
PidFile "$d/run/httpd.pid"
DefaultRuntimeDir "$d/run"
ErrorLog "$d/logs/error.log"
LogLevel warn
LoadModule mpm_${MPM}_module /usr/lib/apache2/modules/mod_mpm_$MPM.so
LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so
LoadModule authz_user_module /usr/lib/apache2/modules/mod_authz_user.so
LoadModule authn_core_module /usr/lib/apache2/modules/mod_authn_core.so
LoadModule authn_file_module /usr/lib/apache2/modules/mod_authn_file.so
LoadModule auth_basic_module /usr/lib/apache2/modules/mod_auth_basic.so
$(mpm_config)
KeepAlive On
MaxKeepAliveRequests 0
KeepAliveTimeout 30
# %k: requests before this one on its connection, so 0 marks a new connection.
LogFormat "%k %>s" bench
CustomLog "$d/logs/access.log" bench
DocumentRoot "$d/www"
<Directory />
  AllowOverride None
  Options None
  Require all denied
</Directory>
<Directory "$d/www/open">
  Require all granted
</Directory>
<Directory "$d/www/auth">
  AuthType Basic
  AuthName "tav bench"
  AuthBasicProvider file
  AuthUserFile "$d/conf/htpasswd"
  Require valid-user
</Directory>
EOF
  "$APACHE" -t -f "$d/conf/httpd.conf" >"$d/logs/configtest.log" 2>&1 ||
    die "apache2 rejects its config, see $d/logs/configtest.log"
  start_polled "$APACHE_PIDFILE" "$PORT" "$d/logs/apache.out" \
    "$APACHE" -f "$d/conf/httpd.conf" -DFOREGROUND || rc=$?
  case $rc in
    0) ;;
    2) die "apache2 does not listen on $PORT" ;;
    *) die "apache2 exited or another process holds port $PORT, see $d/logs/error.log" ;;
  esac
  ACCESS_LOG=$d/logs/access.log
  BASE=http://127.0.0.1:$PORT
  local code
  code=$(curl -s -o /dev/null -w '%{http_code}' -u "daemon:${PASSWORD[daemon]}" "$BASE/auth/small.html")
  [[ $code == 200 ]] || die "the server answers $code to an authorized request"
  code=$(curl -s -o /dev/null -w '%{http_code}' "$BASE/auth/small.html")
  [[ $code == 401 ]] || die "the server answers $code to a request without credentials"
}

# ---------------------------------------------------------------- measuring helpers

RESULTS=$WORK/results.tsv
: >"$RESULTS"
record() { printf '%s\t%s\n' "$1" "$2" >>"$RESULTS"; }  # record KEY VALUE
now_ns() { date +%s%N; }

# Access-log lines since the mark: the client's requests and its new connections. Apache writes
# a line after the answer has gone out, so the count may lag the client by a moment.
log_mark() { LOG_MARK=$(wc -l <"$ACCESS_LOG"); }
check_log() {  # check_log WHAT REQUESTS CONNECTIONS
  local i lines requests connections
  for ((i = 0; i < 200; i++)); do
    lines=$(wc -l <"$ACCESS_LOG")
    ((lines - LOG_MARK >= $2)) && break
    sleep 0.01
  done
  read -r requests connections < <(tail -n +"$((LOG_MARK + 1))" "$ACCESS_LOG" |
    awk '$2 == 200 {ok++} $1 == 0 {c++} END {print ok + 0, c + 0}')
  [[ $requests == "$2" ]] || die "$1: the server logged $requests answers of 200, want $2"
  [[ $connections == "$3" ]] || die "$1: the server saw $connections connections, want $3"
}

# A tasks file: tasks_json FILE PATH TASKS REQUESTS. Task t is user USERS[t % 4] with label
# t:0 (one task: the sequential user and label), requesting PATH REQUESTS times.
tasks_json() {
  "$PY" - "$@" "$BASE" "$SEQ_USER" "$SEQ_LABEL" "${USERS[*]}" \
    "$(for u in "${USERS[@]}"; do printf '%s ' "${PASSWORD[$u]}"; done)" <<'EOF'
import json, sys
out, path, tasks, count, base, seq_user, seq_label, users, passwords = sys.argv[1:]
users, passwords = users.split(), passwords.split()
doc = []
for t in range(int(tasks)):
    if int(tasks) == 1:
        name, label = seq_user, seq_label
    else:
        name, label = users[t % len(users)], f"{t}:0"
    doc.append({"user": {"name": name, "password": passwords[users.index(name)],
                         "mac_label": label},
                "requests": [{"uuid": f"t{t}-r{r}", "uri": base + path, "auth_type": "basic"}
                             for r in range(int(count))]})
json.dump(doc, open(out, "w"), indent=2)
EOF
}

# curl's config for COUNT fetches of URL on one connection, each answer to /dev/null.
curl_config() {  # curl_config FILE URL COUNT
  local i
  for ((i = 0; i < $3; i++)); do printf 'url = "%s"\noutput = "/dev/null"\n' "$2"; done >"$1"
}

# Runs tav-req on TASKS in a fresh folder; sets RUN_DIR and records the wall time under KEY.
run_tav() {  # run_tav KEY TASKS EXPECTED_ANSWERS
  local t0 t1
  RUN_DIR=$(mktemp -d "$WORK/req.XXXXXX")
  chmod 0755 "$RUN_DIR"
  # The children write their logs and files as the task users.
  install -d -m 1777 "$RUN_DIR/logs" "$RUN_DIR/out"
  t0=$(now_ns)
  "$REQ" -d "$RUN_DIR/logs" -t "$2" -o "$RUN_DIR/out" >"$RUN_DIR/stdout" 2>&1 ||
    die "tav-req failed, see $RUN_DIR"
  t1=$(now_ns)
  record "$1" "$((t1 - t0))"
  local got
  got=$("$PY" -c 'import json, sys; a = json.load(open(sys.argv[1])); print(sum(1 for e in a if e["code"] == 200))' \
    "$RUN_DIR/out/responses.json")
  [[ $got == "$3" ]] || die "tav-req: $got answers of 200 in responses.json, want $3"
}

# In-child time of the request loop, from the child log: the "sending" line to the last answer.
child_loop_ns() {  # child_loop_ns LOG
  "$PY" - "$1" <<'EOF'
import datetime, re, sys
stamp = re.compile(r"^\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})\]")
start = last = None
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    m = stamp.match(line)
    if not m:
        continue
    t = datetime.datetime.strptime(m.group(1), "%Y-%m-%d %H:%M:%S.%f")
    if "] sending " in line and start is None:
        start = t
    elif "is done with code" in line:
        last = t
if start is None or last is None:
    sys.exit("no request loop in " + sys.argv[1])
print(int((last - start).total_seconds() * 1e9))
EOF
}

run_curl() {  # run_curl KEY CONFIG USER:PASSWORD|- EXPECTED
  local t0 t1 out auth=()
  [[ $3 == - ]] || auth=(-u "$3")
  out=$WORK/curl.out
  t0=$(now_ns)
  curl -s "${auth[@]}" -w '%{http_code} %{num_connects}\n' --config "$2" >"$out" ||
    die "curl failed"
  t1=$(now_ns)
  record "$1" "$((t1 - t0))"
  local ok
  ok=$(awk '$1 == 200 {n++} END {print n + 0}' "$out")
  [[ $ok == "$4" ]] || die "curl: $ok answers of 200, want $4"
}

run_libcurl_loop() {  # run_libcurl_loop KEY URL USER:PASSWORD|- COUNT
  local t0 t1 out auth=()
  [[ $3 == - ]] || auth=("${3%%:*}" "${3#*:}")
  out=$WORK/libcurl.out
  t0=$(now_ns)
  "$LIBCURL_LOOP" "$2" "$4" "${auth[@]}" >"$out" || die "libcurl loop failed: $(cat "$out")"
  t1=$(now_ns)
  record "$1" "$((t1 - t0))"
  local ns ok
  read -r ns ok <"$out"
  [[ $ok == "$4" ]] || die "libcurl loop: $ok answers of 200, want $4"
  record "$1.self" "$ns"
}

run_ab() {  # run_ab KEY URL USER:PASSWORD|- COUNT
  local t0 t1 out auth=()
  [[ $3 == - ]] || auth=(-A "$3")
  out=$WORK/ab.out
  t0=$(now_ns)
  ab -q -n "$4" -c 1 -k "${auth[@]}" "$2" >"$out" 2>&1 || die "ab failed: $(tail -3 "$out")"
  t1=$(now_ns)
  record "$1" "$((t1 - t0))"
  grep -q '^Failed requests: *0$' "$out" || die "ab: failed requests, see $out"
  ! grep -q '^Non-2xx responses' "$out" || die "ab: answers other than 2xx, see $out"
  grep -q "^Keep-Alive requests: *$4\$" "$out" || die "ab: not every request kept the connection"
  # ab's own clock starts at its first connect and excludes its start-up.
  record "$1.self" "$(awk '/^Time taken for tests:/ {printf "%d", $5 * 1e9}' "$out")"
}

# ---------------------------------------------------------------- 1. sequential

bench_seq() {
  local mode path auth r tasks conf
  for mode in auth noauth; do
    if [[ $mode == auth ]]; then
      path=/auth/small.html auth="$SEQ_USER:${PASSWORD[$SEQ_USER]}"
    else
      path=/open/small.html auth=-
    fi
    tasks=$WORK/seq-$mode-tasks.json
    conf=$WORK/seq-$mode-curl.conf
    tasks_json "$tasks" "$path" 1 "$N"
    curl_config "$conf" "$BASE$path" "$N"
    note "sequential, $mode: $REPEAT rounds of tav-req, curl, a libcurl loop and ab, $N requests each"
    for ((r = 0; r < REPEAT; r++)); do
      log_mark
      run_tav "seq.$mode.tav" "$tasks" "$N"
      check_log "tav-req" "$N" 1
      record "seq.$mode.tav.loop" "$(child_loop_ns "$(ls "$RUN_DIR"/logs/child-*.log)")"
      rm -rf "$RUN_DIR"
      log_mark
      run_curl "seq.$mode.curl" "$conf" "$auth" "$N"
      check_log "curl" "$N" 1
      log_mark
      run_libcurl_loop "seq.$mode.libcurl" "$BASE$path" "$auth" "$N"
      check_log "libcurl loop" "$N" 1
      log_mark
      run_ab "seq.$mode.ab" "$BASE$path" "$auth" "$N"
      check_log "ab" "$N" 1
    done
  done
}

# ---------------------------------------------------------------- 2. fan-out

bench_fanout() {
  local tasks=$WORK/fanout-tasks.json r t t0 t1 pids u conf
  local total=$((TASKS * TASK_REQUESTS))
  tasks_json "$tasks" /auth/small.html "$TASKS" "$TASK_REQUESTS"
  curl_config "$WORK/fanout-curl.conf" "$BASE/auth/small.html" "$TASK_REQUESTS"
  note "fan-out: $REPEAT rounds of tav-req and $TASKS curl processes, $TASKS x $TASK_REQUESTS requests"
  for ((r = 0; r < REPEAT; r++)); do
    log_mark
    run_tav fanout.tav "$tasks" "$total"
    check_log "tav-req fan-out" "$total" "$TASKS"
    rm -rf "$RUN_DIR"
    log_mark
    pids=()
    t0=$(now_ns)
    for ((t = 0; t < TASKS; t++)); do
      u=${USERS[t % ${#USERS[@]}]}
      curl -s -u "$u:${PASSWORD[$u]}" -w '%{http_code}\n' --config "$WORK/fanout-curl.conf" \
        >"$WORK/fanout-curl.$t.out" &
      pids+=($!)
    done
    for t in "${pids[@]}"; do wait "$t" || die "a fan-out curl failed"; done
    t1=$(now_ns)
    record fanout.curl "$((t1 - t0))"
    local ok
    ok=$(cat "$WORK"/fanout-curl.*.out | awk '$1 == 200 {n++} END {print n + 0}')
    [[ $ok == "$total" ]] || die "fan-out curl: $ok answers of 200, want $total"
    check_log "curl fan-out" "$total" "$TASKS"
  done
}

# ---------------------------------------------------------------- 3. checker scale

timed() {  # timed KEY CMD...: records wall time and peak RSS (KiB) of CMD
  local t0 t1 rss=$WORK/rss
  t0=$(now_ns)
  /usr/bin/time -o "$rss" -f '%M' "${@:2}" >"$WORK/timed.out" 2>&1 ||
    die "$2 failed: $(tail -3 "$WORK/timed.out")"
  t1=$(now_ns)
  record "$1" "$((t1 - t0))"
  record "$1.rss" "$(tail -1 "$rss")"
}

bench_checker() {
  local n d r
  for n in $SCALES; do
    d=$WORK/checker-$n
    note "checker: generating $n entries"
    "$PY" "$HERE/gen_checker_input.py" --entries "$n" --out "$d"
    mkdir -p "$d/logs" "$d/out"
    record "checker.$n.input" "$(($(stat -c %s "$d/metadata.json") + $(stat -c %s "$d/responses.json")))"
    note "checker: $REPEAT rounds of tav-rep and parse-only on $n entries"
    for ((r = 0; r < REPEAT; r++)); do
      timed "checker.$n.rep" "$REP" -d "$d/logs" -m "$d/metadata.json" -r "$d/responses.json" \
        -c "$d/config.json" -o "$d/out"
      timed "checker.$n.parse" "$PARSE_ONLY" "$d/metadata.json" "$d/responses.json"
      [[ $(<"$WORK/timed.out") == $((2 * n)) ]] || die "parse-only counted $(<"$WORK/timed.out") entries"
    done
    "$PY" -c 'import json, sys; r = json.load(open(sys.argv[1])); assert r["total_count"] == int(sys.argv[2]), r["total_count"]' \
      "$d/out/report.json" "$n" || die "tav-rep's report does not count $n entries"
    rm -rf "$d"
  done
}

# ---------------------------------------------------------------- run and summary

LOADS=$WORK/loads
load_note() { echo "  $1: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$LOADS"; }

build_programs
if wants seq || wants fanout; then start_server; fi
load_note "start"
if wants seq; then bench_seq; load_note "after sequential"; fi
if wants fanout; then bench_fanout; load_note "after fan-out"; fi
stop_server || die "apache2 does not stop"
if wants checker; then bench_checker; load_note "after checker"; fi
echo "Versions: $(curl --version | head -1 | cut -d' ' -f1,2,4,5);" \
  "$(ab -V | awk '/^This is ApacheBench/ {print "ab", $5}' | tr -d ',');" \
  "$("$APACHE" -v | awk -F': ' '/^Server version/ {print $2}') with the $MPM MPM"
echo "Machine: $(nproc) cores, $(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)," \
  "$(awk '/^MemTotal/ {printf "%.1f GiB", $2 / 2^20}' /proc/meminfo), kernel $(uname -r)"
echo "Load average (1, 5, 15 min) while the benchmark ran:"
cat "$LOADS"
"$PY" "$HERE/summarize_results.py" "$RESULTS" "$N" "$TASKS" "$TASK_REQUESTS"
