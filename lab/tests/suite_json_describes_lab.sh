#!/bin/bash
# `up` writes DIR/suite.json, the lab as input of `tav-suite gen`: base URL,
# both auth types, every user with its password, label, range and Kerberos
# env, every area with its label and paths, and the report settings; tav-suite
# gen takes it and puts those settings and env into config.json and the tasks.
# DIR/suite-https.json is the same with the https base URL, DIR/suite-write.json
# the same with write checks on every area, and lab.json names that URL and the
# CA file.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
require_lab_tools

lab_up TAV_PCAPS=
check "$LAB_SUITE" "$LAB_DIR/suite.json" "LAB_SUITE in lab.env"
passwords=()
for u in nobody daemon bin sys games; do passwords+=("$u=$(password_of "$u")"); done
new_tmp
gen=$NEW_TMP
gen_lab_suite "$gen" || check "$?" 0 "tav-suite gen"
"$PY" - "$LAB_SUITE" "$LAB_DIR" "$LAB_BASE_URL" "$gen" "$LAB_HTTPS_BASE_URL" "${passwords[@]}" \
  <<'EOF' || FAILS=$((FAILS + 1))
import json, sys
path, lab_dir, base, gen, https_base = sys.argv[1:6]
passwords = dict(a.split("=", 1) for a in sys.argv[6:])
errors = []
def expect(cond, what):
    if not cond:
        errors.append(what)

try:
    suite = json.load(open(path))
except (OSError, ValueError) as e:
    sys.exit(f"FAIL: cannot read {path}: {e}")
labels = {"nobody": "0:0", "daemon": "1:1", "bin": "2:3", "sys": "3:7", "games": "2:2"}
areas = {"l0_0": "0:0", "l1_1": "1:1", "l2_3": "2:3", "l3_7": "3:7", "open": "3:7", "bad_3_7": "3:7"}
report = {"check_body": True, "body_template": "object label {obj_mac_lev}:{obj_mac_cat:x}",
          "allowed_codes": [200], "denied_codes": [401, 403]}
want = {
    "base_url": base,
    "auth_types": ["basic", "gssapi"],
    "users": [{"name": u, "password": passwords[u], "labels": [label],
               "min_label": "0:0", "max_label": "3:7",
               "env": {"KRB5CCNAME": f"FILE:{lab_dir}/ccache/{u}",
                       "KRB5_CONFIG": f"{lab_dir}/krb5.conf"}} for u, label in labels.items()],
    "objects": [{"name": a, "label": label, "ignore_mac_label": a == "open",
                 "paths": {"basic": f"/basic/{a}/", "gssapi": f"/gss/{a}/"}}
                for a, label in areas.items()],
    "report": report,
}
expect(list(suite) == list(want), f"top-level keys {list(suite)}")
for key in want:
    expect(suite.get(key) == want[key], f"{key}: got {suite.get(key)!r}, want {want[key]!r}")

https_suite = json.load(open(f"{lab_dir}/suite-https.json"))
expect(https_suite == dict(suite, base_url=https_base), "suite-https.json is suite.json over https")
write_suite = json.load(open(f"{lab_dir}/suite-write.json"))
expect(write_suite == dict(suite, objects=[dict(o, write=True) for o in suite["objects"]]),
       "suite-write.json is suite.json with write checks on every area")
lab = json.load(open(f"{lab_dir}/lab.json"))
expect((lab.get("https_base_url"), lab.get("ca_file")) == (https_base, f"{lab_dir}/ca.pem"),
       "lab.json's https_base_url and ca_file")

# The same lab through tav-suite gen: its config and task env agree.
load = lambda name: json.load(open(f"{gen}/{name}"))
expect(load("config.json") == suite.get("report"), "report differs from tav-suite gen's config.json")
tasks = load("tasks.json")
expect([t["env"] for t in tasks] == [u.get("env") for u in suite.get("users", [])],
       "user env differs from tav-suite gen's task env")
for e in errors:
    print(f"FAIL: suite.json: {e}", file=sys.stderr)
sys.exit(1 if errors else 0)
EOF
finish
