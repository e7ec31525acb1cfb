#!/bin/bash
# Times tav-suite gen and check on a description of 100 users x 4 labels x 1000 objects x
# 2 auth types (800,000 requests) in a Release build; the targets are gen under 5 s and check
# under 10 s. The users cycle through this machine's accounts, so check judges real users and
# finds nothing; with root it also tries the output folder as each of them.
#
#   bench/suite.sh            # SUITE_REPEAT rounds (default 3), median (min-max)
#
# Variables: SUITE_REPEAT, SUITE_BUILD_DIR (default /tmp/build-suite-rel), TAV_SUITE (use this
# program instead of building one), SUITE_KEEP=1 keeps the work folder.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
repeat=${SUITE_REPEAT:-3}
build=${SUITE_BUILD_DIR:-/tmp/build-suite-rel}

if [[ -z ${TAV_SUITE:-} ]]; then
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAV_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target tav-suite >/dev/null
  TAV_SUITE=$build/suite/tav-suite
fi
[[ -x /usr/bin/time ]] || { echo "suite.sh: needs GNU time (scripts/install-deps.sh --bench)" >&2; exit 1; }

work=$(mktemp -d /tmp/tav-bench-suite.XXXXXX)
chmod 0755 "$work"
[[ ${SUITE_KEEP:-0} == 1 ]] || trap 'rm -rf "$work"' EXIT
install -d -m 1777 "$work/out" "$work/logs"

# Each user's four labels are its own (level 0 to 3, the user's number as categories), so
# accounts used by several users still give distinct tasks and uuids.
python3 - "$work/description.json" <<'PYEOF'
import json, pwd, sys
names = sorted(p.pw_name for p in pwd.getpwall() if "/" not in p.pw_name)
users = [{"name": names[i % len(names)], "password": "pw",
          "labels": [f"{level}:{i + 1:x}" for level in range(4)],
          "min_label": "0:0", "max_label": "3:ffff"} for i in range(100)]
objects = [{"name": f"o{j}", "label": f"{j % 4}:{j % 16:x}", "path": f"/o{j}/"}
           for j in range(1000)]
json.dump({"base_url": "http://127.0.0.1:8080", "auth_types": ["basic", "gssapi"],
           "users": users, "objects": objects}, open(sys.argv[1], "w"))
PYEOF

# timed NAME CMD...: runs CMD, appends "NAME elapsed-s max-rss-KiB status user-s system-s" to results.
timed() {
  local name=$1 status=0
  shift
  /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >"$work/$name.out" 2>"$work/$name.err" ||
    status=$?
  read -r elapsed rss user system <"$work/time"
  echo "$name $elapsed $rss $status $user $system" >>"$work/results"
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((round = 1; round <= repeat; round++)); do
  rm -rf "$work/suite"
  timed gen "$TAV_SUITE" gen "$work/description.json" --out "$work/suite"
  timed check "$TAV_SUITE" check -t "$work/suite/tasks.json" -m "$work/suite/metadata.json" \
    -c "$work/suite/config.json" -o "$work/out" -d "$work/logs"
done
echo "load average at end:   $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$work" <<'PYEOF'
import json, os, statistics, sys
work = sys.argv[1]
rows = [line.split() for line in open(f"{work}/results")]
tasks = json.load(open(f"{work}/suite/tasks.json"))
requests = sum(len(t["requests"]) for t in tasks)
size = lambda name: os.path.getsize(f"{work}/suite/{name}") / 1e6
print(f"suite: {len(tasks)} tasks, {requests} requests; tasks.json {size('tasks.json'):.0f} MB, "
      f"metadata.json {size('metadata.json'):.0f} MB")
for name, target in (("gen", 5.0), ("check", 10.0)):
    mine = [r for r in rows if r[0] == name]
    secs = [float(r[1]) for r in mine]
    cpu = statistics.median(float(r[4]) + float(r[5]) for r in mine)
    rss = max(int(r[2]) for r in mine) / 1024
    statuses = sorted({r[3] for r in mine})
    median = statistics.median(secs)
    print(f"{name:5} {median:6.2f} s ({min(secs):.2f}-{max(secs):.2f}), CPU {cpu:.2f} s, "
          f"peak RSS {rss:.0f} MiB, "
          f"exit {'/'.join(statuses)}; target < {target:.0f} s: {'met' if median < target else 'MISSED'}")
findings = open(f"{work}/check.out").read().splitlines()
print(f"check findings: {len(findings)} lines" + (f", first: {findings[0]}" if findings else ""))
PYEOF
