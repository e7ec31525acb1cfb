#!/usr/bin/python3
"""Writes a tav suite for a running lab: every lab user against every area.

Reads DIR/lab.json (written by `lab.sh up DIR`) and writes into OUTDIR:
  tasks.json            input of tav-req, one task per user
  metadata.json         input of tav-rep, one entry per request
  config.json           report configuration for tav-rep
  expected_failed.json  sorted uuids a correct checker reports as failed

A request uuid reads AUTH-USER-AREA, e.g. basic-daemon-l2_3 or gssapi-sys-open.
"""

import argparse
import json
import os
import sys

AUTH_TYPES = {"basic": "basic_path", "gssapi": "gssapi_path"}


def parse_label(text):
    level, cats = text.split(":")
    return int(level), int(cats, 16)


def dominates(subject, obj):
    (sl, sc), (ol, oc) = parse_label(subject), parse_label(obj)
    return sl >= ol and sc & oc == oc


def build(lab, auth_types):
    tasks, metadata, failed = [], [], []
    for user in lab["users"]:
        requests = []
        for auth in auth_types:
            for area in lab["areas"]:
                uuid = f"{auth}-{user['name']}-{area['name']}"
                requests.append({"uuid": uuid,
                                 "uri": lab["base_url"] + area[AUTH_TYPES[auth]],
                                 "auth_type": auth})
                metadata.append({"uuid": uuid,
                                 "subject_label": user["label"],
                                 "min_mac_label": user["min_label"],
                                 "max_mac_label": user["max_label"],
                                 "object_label": area["label"],
                                 "expect_ignore_mac_label": area["ignore_mac_label"]})
                # The lab grants exactly the users an area lists; where that
                # disagrees with the labels, a correct checker must object.
                granted = user["name"] in area["allowed"]
                predicted = area["ignore_mac_label"] or dominates(user["label"], area["label"])
                if granted != predicted:
                    failed.append(uuid)
        tasks.append({"env": {"KRB5CCNAME": user["ccache"], "KRB5_CONFIG": lab["krb5_config"]},
                      "user": {"name": user["name"], "password": user["password"],
                               "mac_label": user["label"]},
                      "requests": requests})
    config = {"check_body": True,
              "body_template": "object label {obj_mac_lev}:{obj_mac_cat:x}",
              "allowed_codes": [200],
              "denied_codes": [401, 403]}
    return {"tasks.json": tasks, "metadata.json": metadata,
            "config.json": config, "expected_failed.json": sorted(failed)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lab", required=True, help="folder of a lab brought up by lab.sh")
    parser.add_argument("--out", required=True, help="folder to write the suite into")
    parser.add_argument("--auth", choices=["basic", "gssapi", "both"], default="both",
                        help="authentication types to request (default: both)")
    args = parser.parse_args()
    try:
        with open(os.path.join(args.lab, "lab.json"), encoding="utf-8") as f:
            lab = json.load(f)
    except (OSError, ValueError) as e:
        sys.exit(f"gen_suite.py: cannot read lab description: {e}")
    auth_types = list(AUTH_TYPES) if args.auth == "both" else [args.auth]
    os.makedirs(args.out, exist_ok=True)
    for name, doc in build(lab, auth_types).items():
        with open(os.path.join(args.out, name), "w", encoding="utf-8") as f:
            json.dump(doc, f, indent=2)
            f.write("\n")


if __name__ == "__main__":
    main()
