#!/bin/bash
# The lab's bring-up time and the lab suite over http against the same suite over https
# (tav-req --cacert DIR/ca.pem), each BENCH_REPEAT times; prints median (min-max) in seconds.
# Not a test; figures go in lab/README.md.
#
#   bench/lab_https.sh                      # as root, with build/'s programs
#   LAB_SH=/tmp/old/lab.sh bench/lab_https.sh up     # bring-up only, of another lab.sh
#
# Variables: BENCH_REPEAT (default 7), LAB_SH, TAV_REQ, TAV_SUITE, TAV_PCAPS, BENCH_KEEP=1 (keeps
# the work folder). The first run of a
# fresh lab pays for the KDC's and Apache's first Negotiate answers, so one suite run of each
# kind is made and dropped before the timed ones.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
REPEAT=${BENCH_REPEAT:-7}
LAB_SH=${LAB_SH:-$ROOT/lab/lab.sh}
REQ=${TAV_REQ:-$ROOT/build/req/tav-req}
SUITE=${TAV_SUITE:-$ROOT/build/suite/tav-suite}
export TAV_PCAPS=${TAV_PCAPS:-$ROOT/build/pcaps/tav-pcaps}
WORK=$(mktemp -d /tmp/tav-bench-lab.XXXXXX)
chmod 0755 "$WORK"
LAB=""
trap '[[ -z $LAB ]] || bash "$LAB_SH" down "$LAB"; [[ ${BENCH_KEEP:-0} == 1 ]] || rm -rf "$WORK"' EXIT

now() { date +%s.%N; }
# summary NAME FILE: "NAME median (min-max)" of the seconds in FILE, one a line.
summary() {
  python3 -c 'import statistics, sys
t = sorted(float(x) for x in open(sys.argv[2]))
print(f"{sys.argv[1]:<16} {statistics.median(t):.3f} s ({t[0]:.3f}-{t[-1]:.3f}), {len(t)} runs")' "$1" "$2"
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((i = 0; i < REPEAT; i++)); do
  dir=$WORK/up-$i
  start=$(now)
  bash "$LAB_SH" up "$dir"
  echo "$(now) - $start" | bc >>"$WORK/up"
  bash "$LAB_SH" down "$dir"
done
summary "lab up" "$WORK/up"
[[ ${1:-} == up ]] && exit 0

LAB=$WORK/lab
bash "$LAB_SH" up "$LAB"
# shellcheck disable=SC1091
source "$LAB/lab.env"
"$SUITE" gen "$LAB_SUITE" --out "$WORK/http" >/dev/null
"$SUITE" gen "$LAB_SUITE_HTTPS" --out "$WORK/https" >/dev/null
# run KIND [OPTION...]: one tav-req run of the KIND suite; appends its seconds to WORK/KIND.times
run() {
  local kind=$1 out
  shift
  out=$(mktemp -d "$WORK/run.XXXXXX")
  chmod 0755 "$out"
  install -d -m 1777 "$out/logs" "$out/out"
  start=$(now)
  "$REQ" -d "$out/logs" -t "$WORK/$kind/tasks.json" -o "$out/out" "$@" ||
    { echo "lab_https.sh: tav-req failed on the $kind suite, see $out/logs" >&2; exit 1; }
  echo "$(now) - $start" | bc >>"$WORK/$kind.times"
  rm -rf "$out"
}
run http && run https --cacert "$LAB_CA" && rm -f "$WORK"/*.times
for ((i = 0; i < REPEAT; i++)); do
  run http
  run https --cacert "$LAB_CA"
done
summary "suite over http" "$WORK/http.times"
summary "suite over https" "$WORK/https.times"
echo "load average at end:   $(cut -d' ' -f1-3 /proc/loadavg)"
