#!/bin/bash
# The main job: installs what is missing, builds, brings up the lab (Apache httpd and a
# Kerberos KDC on 127.0.0.1), writes the suite with tav-suite gen (reads, and writes that clean
# up after themselves) and checks it, runs tav-req and tav-rep on it, prints tav-view's summary,
# shows that no probe stayed in the lab's areas and tears the lab down. The run's files stay in
# the folder it names.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [[ $(id -u) -ne 0 ]]; then
  echo "demo: run as root: tav-req switches to other users and the lab starts servers" >&2
  exit 1
fi

"$here/scripts/install-deps.sh"
build="${TAV_BUILD_DIR:-$here/build}"
echo "== building into $build"
cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target tav-req tav-rep tav-view tav-suite tav-pcaps >/dev/null

# Task users must reach the run folder, so it is not under a private home.
run="$(mktemp -d /var/tmp/tav-demo-XXXXXX)"
chmod 0755 "$run"
lab="$(mktemp -d /tmp/tav-lab-XXXXXX)"
trap '"$here/lab/lab.sh" down "$lab"; rm -rf "$lab"' EXIT

echo "== bringing up the lab in $lab"
TAV_PCAPS="$build/pcaps/tav-pcaps" "$here/lab/lab.sh" up "$lab"
source "$lab/lab.env"
echo "   Apache httpd on $LAB_BASE_URL, Kerberos realm $LAB_REALM"
# The lab's suite with every area also checked for writes: a PUT and a DELETE of a probe per
# user and auth type.
"$build/suite/tav-suite" gen "$lab/suite-write.json" --out "$run/suite"
# The children write as the task users.
mkdir -m 1777 "$run/logs" "$run/out"

echo "== tav-suite check"
"$build/suite/tav-suite" check -t "$run/suite/tasks.json" -m "$run/suite/metadata.json" \
  -c "$run/suite/config.json" -o "$run/out" -d "$run/logs"

echo "== tav-req: $(grep -c '"uuid"' "$run/suite/tasks.json") requests in $(
  python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' "$run/suite/tasks.json"
) tasks"
req_status=0
"$build/req/tav-req" -d "$run/logs" -t "$run/suite/tasks.json" -o "$run/out" || req_status=$?
echo "   exit status $req_status"

echo "== tav-rep"
rep_status=0
"$build/rep/tav-rep" -d "$run/logs" -m "$run/suite/metadata.json" -r "$run/out/responses.json" \
  -c "$run/suite/config.json" -o "$run/out" || rep_status=$?
echo "   exit status $rep_status"

echo "== summary (tav-view)"
view_status=0
if [[ -f "$run/out/responses.json" ]]; then
  "$build/view/tav-view" -m "$run/suite/metadata.json" -r "$run/out/responses.json" \
    -c "$run/suite/config.json" -t "$run/suite/tasks.json" \
    --junit "$run/out/junit.xml" --html "$run/out/report.html" || view_status=$?
  # 1 only says that some requests failed, which the misconfigured area makes happen.
  if [[ $view_status -le 1 ]]; then
    echo "   page:  $run/out/report.html"
    echo "   JUnit: $run/out/junit.xml"
  fi
else
  echo "no responses.json; see $run/logs"
fi
echo "== the expected failures: the lab's misconfigured read area (daemon reads bad_3_7) and"
echo "   its misconfigured write area (sys, at 3:7, writes down into l0_0)"
left=$(find "$lab/www" -mindepth 2 ! -name index.html)
if [[ -z $left ]]; then
  echo "== the lab's areas hold only their index.html again: every granted PUT was deleted"
else
  echo "== left in the lab's areas:"
  echo "$left"
  view_status=2
fi
echo "run files: $run (suite/, logs/, out/)"
[[ $req_status -eq 0 && $rep_status -eq 0 && $view_status -le 1 ]]
