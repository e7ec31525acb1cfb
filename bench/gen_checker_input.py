#!/usr/bin/python3
"""Writes tav-rep inputs of a chosen size: metadata.json, responses.json, config.json.

The entries look like a lab suite's (five users with their labels, six areas, Basic and
Negotiate), repeated until COUNT requests, with the lab's page as the body of a 200 and Apache's
refusal page as the body of a 403. About one answer in a hundred disagrees with the labels, so
the report lists some uuids. Both data files are indented by 2 like the files tav-req and the
suite generator write. The output depends only on COUNT.

    gen_checker_input.py --entries COUNT --out DIR
"""

import argparse
import json
import os

USERS = [("nobody", "0:0"), ("daemon", "1:1"), ("bin", "2:3"), ("sys", "3:7"), ("games", "2:2")]
AREAS = [("l0_0", "0:0", False), ("l1_1", "1:1", False), ("l2_3", "2:3", False),
         ("l3_7", "3:7", False), ("open", "3:7", True), ("bad_3_7", "3:7", False)]
AUTHS = ["basic", "gssapi"]
MIN_LABEL, MAX_LABEL = "0:0", "3:7"
PAGE = ('<!DOCTYPE html>\n<html><head><title>tav lab {area}</title></head>\n'
        '<body><p>object label {label}</p></body></html>\n')
FORBIDDEN = ('<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML 2.0//EN">\n<html><head>\n'
             '<title>403 Forbidden</title>\n</head><body>\n<h1>Forbidden</h1>\n'
             '<p>You don\'t have permission to access this resource.</p>\n</body></html>\n')
CONFIG = {"check_body": True,
          "body_template": "object label {obj_mac_lev}:{obj_mac_cat:x}",
          "allowed_codes": [200],
          "denied_codes": [401, 403]}


def dominates(subject, obj):
    (sl, sc), (ol, oc) = [(int(t.split(":")[0]), int(t.split(":")[1], 16)) for t in (subject, obj)]
    return sl >= ol and sc & oc == oc


def combos():
    """Every (uuid suffix, user label, area) of one lab suite, with the answer labels predict."""
    out = []
    for auth in AUTHS:
        for name, label in USERS:
            for area, area_label, ignore in AREAS:
                granted = ignore or dominates(label, area_label)
                out.append((f"{auth}-{name}-{area}", label, area, area_label, ignore, granted))
    return out


def write(path, chunks):
    with open(path, "w", encoding="utf-8") as f:
        f.writelines(chunks)


def metadata_chunks(count, table):
    yield "["
    for i in range(count):
        suffix, label, _, area_label, ignore, _ = table[i % len(table)]
        yield (f'{"," if i else ""}\n  {{\n'
               f'    "uuid": "{i:08x}-{suffix}",\n'
               f'    "subject_label": "{label}",\n'
               f'    "min_mac_label": "{MIN_LABEL}",\n'
               f'    "max_mac_label": "{MAX_LABEL}",\n'
               f'    "object_label": "{area_label}",\n'
               f'    "expect_ignore_mac_label": {"true" if ignore else "false"}\n'
               f'  }}')
    yield "\n]"


def responses_chunks(count, table):
    yield "["
    for i in range(count):
        suffix, _, area, area_label, _, granted = table[i % len(table)]
        # Every 97th answer is the opposite of what the labels predict.
        if i % 97 == 13:
            granted = not granted
        code, body = (200, PAGE.format(area=area, label=area_label)) if granted else (403, FORBIDDEN)
        yield (f'{"," if i else ""}\n  {{\n'
               f'    "body": {json.dumps(body, ensure_ascii=False)},\n'
               f'    "code": {code},\n'
               f'    "uuid": "{i:08x}-{suffix}"\n'
               f'  }}')
    yield "\n]"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--entries", type=int, required=True, help="number of requests")
    parser.add_argument("--out", required=True, help="folder to write the three files into")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    table = combos()
    write(os.path.join(args.out, "metadata.json"), metadata_chunks(args.entries, table))
    write(os.path.join(args.out, "responses.json"), responses_chunks(args.entries, table))
    with open(os.path.join(args.out, "config.json"), "w", encoding="utf-8") as f:
        json.dump(CONFIG, f, indent=2)


if __name__ == "__main__":
    main()
