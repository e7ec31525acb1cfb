#!/bin/bash
# tav-suite rerun and merge --over on a suite of 800,000 requests (bench/suite.sh's description:
# 100 users x 4 labels x 1000 objects x 2 auth types). One request in a hundred is taken as failed:
# rerun reads the tasks, the metadata and a report.json naming them, and, as the heavier kind,
# a tav-view --json file of all 800,000 verdicts; merge --over puts 8,000 fresh answers over
# 800,000. Target: each under 5 s.
#
#   bench/rerun.sh            # RERUN_REPEAT rounds (default 3), median (min-max)
#
# Builds tav-suite (Release) in RERUN_BUILD_DIR (default /tmp/build-suite-rel) unless TAV_SUITE
# names one. Not a test; figures go in RESULTS.md.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
repeat=${RERUN_REPEAT:-3}
build=${RERUN_BUILD_DIR:-/tmp/build-suite-rel}
if [[ -z ${TAV_SUITE:-} ]]; then
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAV_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target tav-suite >/dev/null
  TAV_SUITE=$build/suite/tav-suite
fi
[[ -x /usr/bin/time ]] || { echo "rerun.sh: needs GNU time (Debian package time)" >&2; exit 1; }

work=$(mktemp -d /tmp/tav-bench-rerun.XXXXXX)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PYEOF'
import json, sys
work = sys.argv[1]
users = [{"name": f"u{i}", "password": "pw", "labels": [f"{level}:{i + 1:x}" for level in range(4)],
          "min_label": "0:0", "max_label": "3:ffff"} for i in range(100)]
objects = [{"name": f"o{j}", "label": f"{j % 4}:{j % 16:x}", "path": f"/o{j}/"}
           for j in range(1000)]
json.dump({"base_url": "http://127.0.0.1:8080", "auth_types": ["basic", "gssapi"],
           "users": users, "objects": objects}, open(f"{work}/description.json", "w"))
PYEOF
"$TAV_SUITE" gen "$work/description.json" --out "$work/suite" >/dev/null

# The answers of a full run, a report failing every hundredth request, the same as tav-view's
# verdicts, and the rerun's fresh answers of those.
python3 - "$work" <<'PYEOF'
import json, sys
work = sys.argv[1]
uuids = [r["uuid"] for t in json.load(open(f"{work}/suite/tasks.json")) for r in t["requests"]]
failed = set(uuids[::100])
with open(f"{work}/responses.json", "w") as out:
    json.dump([{"uuid": u, "code": 403 if u in failed else 200, "body": "object label 1:1"}
               for u in uuids], out, indent=2)
json.dump({"failed_uuids": sorted(failed), "total_count": len(uuids)},
          open(f"{work}/report.json", "w"), indent=2)
with open(f"{work}/view.json", "w") as out:
    out.write('{\n  "total_count": %d,\n  "failed_count": %d,\n  "verdicts": [' % (len(uuids), len(failed)))
    for i, u in enumerate(sorted(uuids)):
        passed = "false" if u in failed else "true"
        out.write(f'{"," if i else ""}\n    {{"uuid": "{u}", "passed": {passed}, "predicted": "granted", '
                  f'"reason": "permitted", "why": "subject 1:1 dominates object 1:1", "code": 200, '
                  f'"code_verdict": "200 is an allowed code", "subject_label": "1:1", '
                  f'"object_label": "1:1"}}')
    out.write("\n  ]\n}\n")
json.dump([{"uuid": u, "code": 200, "body": "object label 1:1"} for u in sorted(failed)],
          open(f"{work}/fresh.json", "w"), indent=2)
print(f"{len(uuids)} requests, {len(failed)} failed")
PYEOF

timed() {  # timed NAME CMD...: appends "NAME elapsed-s user-s peak-KiB" to the results
  local name=$1
  shift
  /usr/bin/time -f "%e %U %M" -o "$work/time" "$@" >"$work/$name.out" 2>&1 ||
    { echo "$name failed: $(cat "$work/$name.out")" >&2; exit 1; }
  echo "$name $(tail -n 1 "$work/time")" >>"$work/results"
}

suite=(-t "$work/suite/tasks.json" -m "$work/suite/metadata.json" -c "$work/suite/config.json")
echo "load averages at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((round = 1; round <= repeat; round++)); do
  timed rerun-report "$TAV_SUITE" rerun "${suite[@]}" -r "$work/report.json" --out "$work/again"
  timed rerun-view "$TAV_SUITE" rerun "${suite[@]}" -r "$work/view.json" --out "$work/again"
  timed merge-over "$TAV_SUITE" merge --over "$work/responses.json" -o "$work/merged.json" \
    "$work/fresh.json"
done
echo "load averages at end: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$work" <<'PYEOF'
import json, os, statistics, sys
work = sys.argv[1]
rows = [line.split() for line in open(f"{work}/results")]
again = sum(len(t["requests"]) for t in json.load(open(f"{work}/again/tasks.json")))
merged = json.load(open(f"{work}/merged.json"))
print(f"rerun suite: {again} requests; merged: {len(merged)} answers, "
      f"{sum(a['code'] == 403 for a in merged)} still 403")
mb = lambda name: os.path.getsize(f"{work}/{name}") / 1e6
print(f"tasks.json {mb('suite/tasks.json'):.0f} MB, metadata.json {mb('suite/metadata.json'):.0f} MB, "
      f"view.json {mb('view.json'):.0f} MB, responses.json {mb('responses.json'):.0f} MB")
for name in ("rerun-report", "rerun-view", "merge-over"):
    mine = [r for r in rows if r[0] == name]
    e = [float(r[1]) for r in mine]
    u = statistics.median(float(r[2]) for r in mine)
    rss = max(int(r[3]) for r in mine) / 1024
    m = statistics.median(e)
    print(f"{name:12} {m:5.2f} s ({min(e):.2f}-{max(e):.2f}), user {u:.2f} s, peak RSS {rss:.0f} MiB; "
          f"target < 5 s: {'met' if m < 5 else 'MISSED'}")
PYEOF
