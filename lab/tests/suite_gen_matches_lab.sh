#!/bin/bash
# tav-suite gen on the lab's suite.json writes a consistent suite (one task
# per user, every area by Basic and Negotiate, metadata for every uuid),
# tav-suite check finds no error in it against the live lab, and the live lab
# answered with curl and judged by tav-rep disagrees with the labels on
# exactly the misconfigured area's requests of daemon; on none once that area
# is fixed.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools
require_tav

# check_suite SUITE_DIR EXPECTED_FAILED_JSON
check_suite() {
  local suite=$1 want=$2 out
  gen_lab_suite "$suite" || { check "$?" 0 "tav-suite gen"; return; }
  out=$("$TAV_SUITE" check -t "$suite/tasks.json" -m "$suite/metadata.json" -c "$suite/config.json" 2>&1)
  check "$?" 0 "tav-suite check on the lab suite: $out"
  check "$(grep -c '^error:' <<<"$out")" 0 "errors of tav-suite check"
  "$PY" "$LAB_ROOT/tests/suite_replay.py" "$suite/tasks.json" "$suite/responses.json" ||
    { check "$?" 0 "suite_replay.py"; return; }
  new_tmp
  mkdir "$NEW_TMP/logs" "$NEW_TMP/out"
  "$REP" -d "$NEW_TMP/logs" -m "$suite/metadata.json" -r "$suite/responses.json" \
    -c "$suite/config.json" -o "$NEW_TMP/out" || { check "$?" 0 "tav-rep"; return; }
  "$PY" - "$suite" "$want" "$LAB_BASE_URL" "$LAB_DIR" "$NEW_TMP/out/report.json" <<'PYEOF' ||
import json, sys
suite, want, base, lab_dir, report = sys.argv[1], json.loads(sys.argv[2]), *sys.argv[3:]
load = lambda name: json.load(open(f"{suite}/{name}"))
tasks, meta, config = load("tasks.json"), load("metadata.json"), load("config.json")
errors = []
def expect(cond, what):
    if not cond:
        errors.append(what)

users = {"nobody": "0:0", "daemon": "1:1", "bin": "2:3", "sys": "3:7", "games": "2:2"}
areas = {"l0_0": "0:0", "l1_1": "1:1", "l2_3": "2:3", "l3_7": "3:7", "open": "3:7", "bad_3_7": "3:7"}
expect([t["user"]["name"] for t in tasks] == list(users), "one task per lab user, in lab order")
uuids = []
for t in tasks:
    name = t["user"]["name"]
    expect(t["user"]["mac_label"] == users.get(name), f"label of {name}")
    expect(t["env"] == {"KRB5CCNAME": f"FILE:{lab_dir}/ccache/{name}",
                        "KRB5_CONFIG": f"{lab_dir}/krb5.conf"}, f"env of {name}")
    for r in t["requests"]:
        auth, user, label, area = r["uuid"].split("-")
        prefix = "/basic/" if auth == "basic" else "/gss/"
        expect(r["auth_type"] == auth and user == name and label == users[name].replace(":", "_")
               and r["uri"] == f"{base}{prefix}{area}/", f"request {r}")
        uuids.append(r["uuid"])
want_uuids = sorted(f"{a}-{u}-{l.replace(':', '_')}-{z}" for a in ("basic", "gssapi")
                    for u, l in users.items() for z in areas)
expect(sorted(uuids) == want_uuids, "uuids: every user, area and auth type exactly once")
expect(sorted(m["uuid"] for m in meta) == want_uuids, "metadata covers exactly the uuids")
for m in meta:
    auth, user, label, area = m["uuid"].split("-")
    expect(m == {"uuid": m["uuid"], "subject_label": users[user], "min_mac_label": "0:0",
                 "max_mac_label": "3:7", "object_label": areas[area],
                 "expect_ignore_mac_label": area == "open"}, f"metadata {m}")
expect(config == {"check_body": True, "body_template": "object label {obj_mac_lev}:{obj_mac_cat:x}",
                  "allowed_codes": [200], "denied_codes": [401, 403]}, "config.json")
# What the live lab did, judged by tav-rep from the labels.
failed = json.load(open(report))["failed_uuids"]
expect(failed == want, f"the lab disagrees with the labels on {failed}, want {want}")
for e in errors:
    print(f"FAIL: {suite}: {e}", file=sys.stderr)
sys.exit(1 if errors else 0)
PYEOF
    FAILS=$((FAILS + 1))
}

lab_up
new_tmp
check_suite "$NEW_TMP/suite" "[\"${BAD_UUIDS[0]}\", \"${BAD_UUIDS[1]}\"]"
lab_up LAB_FIX_BAD=1
new_tmp
check_suite "$NEW_TMP/suite" '[]'
finish
