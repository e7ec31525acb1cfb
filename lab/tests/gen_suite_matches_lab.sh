#!/bin/bash
# gen_suite.py writes a consistent suite (one task per user, every area by
# Basic and Negotiate, metadata for every uuid), and its expected_failed.json
# names exactly the requests where the live lab disagrees with the labels:
# daemon on bad_3_7, and nothing once that area is fixed.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools

# check_suite SUITE_DIR EXPECTED_FAILED_JSON
check_suite() {
  local suite=$1 want=$2
  "$PY" "$LAB_ROOT/gen_suite.py" --lab "$LAB_DIR" --out "$suite" || { check "$?" 0 "gen_suite.py"; return; }
  "$PY" "$LAB_ROOT/tests/suite_replay.py" "$suite/tasks.json" "$suite/responses.json" ||
    { check "$?" 0 "suite_replay.py"; return; }
  "$PY" - "$suite" "$want" "$LAB_BASE_URL" "$LAB_DIR" <<'EOF' || FAILS=$((FAILS + 1))
import json, sys
suite, want, base, lab_dir = sys.argv[1], json.loads(sys.argv[2]), sys.argv[3], sys.argv[4]
load = lambda name: json.load(open(f"{suite}/{name}"))
tasks, meta, config = load("tasks.json"), load("metadata.json"), load("config.json")
responses, expected = load("responses.json"), load("expected_failed.json")
errors = []
def expect(cond, what):
    if not cond:
        errors.append(what)

users = {"nobody": "0:0", "daemon": "1:1", "bin": "2:3", "sys": "3:7", "games": "2:2"}
areas = {"l0_0": "0:0", "l1_1": "1:1", "l2_3": "2:3", "l3_7": "3:7", "open": "3:7", "bad_3_7": "3:7"}
expect([t["user"]["name"] for t in tasks] == list(users), "one task per lab user, in lab order")
expect(len({(t["user"]["name"], t["user"]["mac_label"]) for t in tasks}) == len(tasks),
       "no two tasks share user name and label")
uuids = []
for t in tasks:
    name = t["user"]["name"]
    expect(t["user"]["mac_label"] == users.get(name), f"label of {name}")
    expect(t["env"] == {"KRB5CCNAME": f"FILE:{lab_dir}/ccache/{name}",
                        "KRB5_CONFIG": f"{lab_dir}/krb5.conf"}, f"env of {name}")
    for r in t["requests"]:
        auth, user, area = r["uuid"].split("-")
        prefix = "/basic/" if auth == "basic" else "/gss/"
        expect(r["auth_type"] == auth and user == name and r["uri"] == f"{base}{prefix}{area}/",
               f"request {r}")
        uuids.append(r["uuid"])
want_uuids = sorted(f"{a}-{u}-{z}" for a in ("basic", "gssapi") for u in users for z in areas)
expect(sorted(uuids) == want_uuids, "uuids: every user, area and auth type exactly once")
expect(sorted(m["uuid"] for m in meta) == want_uuids, "metadata covers exactly the uuids")
for m in meta:
    auth, user, area = m["uuid"].split("-")
    expect(m == {"uuid": m["uuid"], "subject_label": users[user], "min_mac_label": "0:0",
                 "max_mac_label": "3:7", "object_label": areas[area],
                 "expect_ignore_mac_label": area == "open"}, f"metadata {m}")
expect(config == {"check_body": True, "body_template": "object label {obj_mac_lev}:{obj_mac_cat:x}",
                  "allowed_codes": [200], "denied_codes": [401, 403]}, "config.json")
expect(expected == want, f"expected_failed.json is {expected}, want {want}")

# What the live lab did, judged by the labels alone.
def dominates(s, o):
    (sl, sc), (ol, oc) = [(int(x.split(":")[0]), int(x.split(":")[1], 16)) for x in (s, o)]
    return sl >= ol and sc & oc == oc
by_uuid = {m["uuid"]: m for m in meta}
observed = []
for r in responses:
    m = by_uuid[r["uuid"]]
    should = m["expect_ignore_mac_label"] or dominates(m["subject_label"], m["object_label"])
    granted = r["code"] == 200 and f"object label {m['object_label']}" in r["body"]
    denied = r["code"] in (401, 403)
    expect(granted or denied, f"{r['uuid']} answered {r['code']}")
    if should != granted:
        observed.append(r["uuid"])
expect(sorted(observed) == expected, f"lab disagrees with the labels on {sorted(observed)}")
for e in errors:
    print(f"FAIL: {suite}: {e}", file=sys.stderr)
sys.exit(1 if errors else 0)
EOF
}

lab_up
new_tmp
check_suite "$NEW_TMP/suite" '["basic-daemon-bad_3_7", "gssapi-daemon-bad_3_7"]'
lab_up LAB_FIX_BAD=1
new_tmp
check_suite "$NEW_TMP/suite" '[]'
finish
