#!/bin/bash
# tav-view with and without --baseline on the same generated input: the cost of comparing with an
# earlier run's --json file of as many verdicts (every id in common, the worst case). Rounds
# alternate the two; both write --json and --html. Target: --baseline adds at most 20 %.
#
#   bench/baseline.sh                              # 10^6 entries, 3 rounds
#   BENCH_VIEW_ENTRIES=100000 BENCH_REPEAT=5 bench/baseline.sh
#
# Builds tav-view (Release) in BENCH_BUILD_DIR (default build-baseline-bench) unless TAV_VIEW
# names one. Not a test; figures go in RESULTS.md.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ENTRIES=${BENCH_VIEW_ENTRIES:-1000000}
REPEAT=${BENCH_REPEAT:-3}
BUILD_DIR=${BENCH_BUILD_DIR:-$ROOT/build-baseline-bench}
[[ -x /usr/bin/time ]] || { echo "baseline.sh: needs GNU time (Debian package time)" >&2; exit 1; }

WORK=$(mktemp -d /tmp/tav-bench-baseline.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

if [[ -z ${TAV_VIEW:-} ]]; then
  cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTAV_BUILD_TESTS=OFF >/dev/null
  cmake --build "$BUILD_DIR" -j2 --target tav-view >/dev/null
fi
VIEW=${TAV_VIEW:-$BUILD_DIR/view/tav-view}

python3 "$ROOT/bench/gen_checker_input.py" --entries "$ENTRIES" --out "$WORK/in"
in=("-m" "$WORK/in/metadata.json" "-r" "$WORK/in/responses.json" "-c" "$WORK/in/config.json")
"$VIEW" "${in[@]}" -q --json "$WORK/earlier.json" >/dev/null || (($? == 1))
echo "baseline file: $(($(stat -c %s "$WORK/earlier.json") / 1048576)) MiB"

# timed NAME CMD...: appends "NAME elapsed-s user-s peak-KiB system-s" to the results.
timed() {
  local name=$1 status=0
  shift
  /usr/bin/time -f "%e %U %M %S" -o "$WORK/time" "$@" >/dev/null 2>"$WORK/err" || status=$?
  ((status <= 1)) || { echo "$name: status $status: $(cat "$WORK/err")" >&2; exit 1; }
  echo "$name $(tail -n 1 "$WORK/time")" >>"$WORK/results"
}

echo "load averages at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((round = 1; round <= REPEAT; round++)); do
  timed plain "$VIEW" "${in[@]}" --json "$WORK/v.json" --html "$WORK/p.html"
  timed baseline "$VIEW" "${in[@]}" --json "$WORK/v.json" --html "$WORK/p.html" \
    --baseline "$WORK/earlier.json"
done
echo "load averages at end: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$WORK/results" "$ENTRIES" "$REPEAT" <<'PYEOF'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
def fig(name, value):
    values = [value(r) for r in rows if r[0] == name]
    return statistics.median(values), min(values), max(values)
elapsed = lambda r: float(r[1])
cpu = lambda r: float(r[2]) + float(r[4])
print(f"entries {sys.argv[2]}, median of {sys.argv[3]} (min-max)")
for name in ("plain", "baseline"):
    e, c, m = fig(name, elapsed), fig(name, cpu), fig(name, lambda r: float(r[3]))
    print(f"{name:9} elapsed {e[0]:.2f} s ({e[1]:.2f}-{e[2]:.2f}), CPU (user + system) {c[0]:.2f} s "
          f"({c[1]:.2f}-{c[2]:.2f}), peak RSS {m[0] / 1024:.0f} MiB")
for value, what in ((elapsed, "elapsed"), (cpu, "CPU")):
    added = fig("baseline", value)[0] / fig("plain", value)[0] - 1
    print(f"--baseline adds {added * 100:.1f} % {what} time (target <= 20 %: "
          f"{'met' if added <= 0.20 else 'MISSED'})")
PYEOF
