#!/usr/bin/python3
"""Prints what a person wants to see of one tav run: how many requests, how many passed, and
each failed request with its user, labels, the expected answer and the recorded one.

Usage: summarize.py --suite SUITE --out OUT
  SUITE holds tasks.json, metadata.json and config.json; OUT holds responses.json and
  report.json of the run.
"""

import argparse
import json
import os
import sys


def load(path):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError) as e:
        sys.exit(f"summarize.py: cannot read {path}: {e}")


def parse_label(text):
    level, cats = text.split(":")[:2]
    return int(level), int(cats, 16)


def dominates(subject, obj):
    (sl, sc), (ol, oc) = parse_label(subject), parse_label(obj)
    return sl >= ol and sc & oc == oc


def expected_answer(meta, config):
    """The answer the access rules predict, in words."""
    inside = dominates(meta["subject_label"], meta["min_mac_label"]) and dominates(
        meta["max_mac_label"], meta["subject_label"])
    if not inside:
        return "refused (subject outside the user's range)"
    if dominates(meta["subject_label"], meta["object_label"]):
        return f"granted {sorted(config['allowed_codes'])}"
    if meta["expect_ignore_mac_label"]:
        return f"granted {sorted(config['allowed_codes'])} (labels ignored)"
    return f"refused {sorted(config['denied_codes'])}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--suite", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    tasks = load(os.path.join(args.suite, "tasks.json"))
    metadata = {m["uuid"]: m for m in load(os.path.join(args.suite, "metadata.json"))}
    config = load(os.path.join(args.suite, "config.json"))
    responses = {r["uuid"]: r for r in load(os.path.join(args.out, "responses.json")) or []}
    report = load(os.path.join(args.out, "report.json"))

    users = {}
    for task in tasks:
        for request in task["requests"]:
            users[request["uuid"]] = (task["user"]["name"], request["auth_type"], request["uri"])

    total = report["total_count"]
    failed = report["failed_uuids"]
    print(f"requests checked: {total}")
    print(f"passed:           {total - len(failed)}")
    print(f"failed:           {len(failed)}")
    for uuid in failed:
        meta = metadata.get(uuid)
        user, auth, uri = users.get(uuid, ("?", "?", "?"))
        response = responses.get(uuid)
        actual = response["code"] if response else "no answer"
        if meta is None:
            print(f"  {uuid!r}: no metadata; recorded {actual}")
            continue
        print(f"  {uuid}: user {user} ({auth}) subject {meta['subject_label']} "
              f"object {meta['object_label']}: expected {expected_answer(meta, config)}, "
              f"got {actual}  {uri}")


if __name__ == "__main__":
    main()
