#!/usr/bin/python3
"""The JSON Schemas against the programs, so that neither drifts from the other.

  schemas_test.py written SOURCE_DIR BUILD_DIR   a real suite, from a description through gen,
      tav-req against the test HTTP server, tav-rep, tav-view, split and merge: every file the
      programs write is valid against its schema, and so are the shipped examples (root)
  schemas_test.py refused SOURCE_DIR BUILD_DIR   a table of hand-made bad files: each one the
      program refuses, and its schema refuses it too

Exit 0 when all holds, 1 with the failures listed, 125 (skipped) when not root for "written".
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import validate  # noqa: E402

SOURCE, BUILD = Path(sys.argv[2]), Path(sys.argv[3])
SCHEMAS = SOURCE / "schemas"
TAV = {name: BUILD / folder / name for name, folder in
       (("tav-req", "req"), ("tav-rep", "rep"), ("tav-view", "view"), ("tav-suite", "suite"))}
failures = []


def check_valid(kind, path):
    found = validate.problems(validate.load_validator(SCHEMAS, kind), json.loads(path.read_bytes()))
    if found:
        failures.append(f"{path} is not a valid {kind} file: " + "; ".join(found[:5]))
    return path


def run(*argv, expect=0):
    result = subprocess.run([str(a) for a in argv], capture_output=True, text=True)
    if expect is not None and result.returncode != expect:
        failures.append(f"{' '.join(map(str, argv))}: status {result.returncode}, wanted {expect}: "
                        f"{result.stderr.strip()}")
    return result


def written(work):
    """Every file of a real run, and the examples, against their schemas."""
    for kind in ("tasks", "metadata", "config", "suite"):
        check_valid(kind, SOURCE / "packaging" / "examples" / f"{kind}.json")
    server = subprocess.Popen([sys.executable, str(SOURCE / "tests" / "req" / "http_test_server.py")],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        port = int(server.stdout.readline())
        description = {
            "$schema": "https://tav.invalid/schemas/suite.schema.json",
            "base_url": f"http://127.0.0.1:{port}",
            "auth_types": ["basic", "gssapi"],
            "users": [{"name": "daemon", "password": "pw", "labels": ["1:1", "2:80000000"],
                       "env": {"LANG": "C"}},
                      {"name": "bin", "labels": ["0:0"], "min_label": "0:0", "max_label": "3:7"}],
            "objects": [{"name": "ok", "label": "0:0", "path": "/ok"},
                        {"name": "forbidden", "label": "3:7", "ignore_mac_label": True,
                         "paths": {"basic": "/forbidden", "gssapi": "/status/401"}},
                        # Nothing listens there: a failed transfer, code 0 and an empty uuid.
                        {"name": "closed", "label": "1:0", "url": "http://127.0.0.1:1/"},
                        # PUT and DELETE of a probe per user, label and auth type.
                        {"name": "store", "label": "1:1", "path": "/store/", "write": True}],
            "report": {"check_body": True, "body_template": "{obj_mac_lev}:{obj_mac_cat:x}",
                       "allowed_codes": [200], "denied_codes": [401, 403]},
        }
        (work / "suite.json").write_text(json.dumps(description))
        check_valid("suite", work / "suite.json")
        suite, out, logs = work / "suite", work / "out", work / "logs"
        run(TAV["tav-suite"], "gen", work / "suite.json", "--out", suite)
        for kind in ("tasks", "metadata", "config"):
            check_valid(kind, suite / f"{kind}.json")
        for folder in (out, logs):
            folder.mkdir()
            folder.chmod(0o1777)
        # Some requests fail (a refused connection), so the run's status is no concern here.
        run(TAV["tav-req"], "-d", logs, "-t", suite / "tasks.json", "-o", out, expect=None)
        check_valid("responses", out / "responses.json")
        per_task = sorted(out.glob("responses_*.json"))
        if len(per_task) != 3:
            failures.append(f"3 per-task responses files expected, found {per_task}")
        for path in per_task:
            check_valid("task-responses", path)
        answers = json.loads((out / "responses.json").read_text())
        if not any(a["code"] == 0 and a["uuid"] == "" for a in answers):
            failures.append("no failed transfer in responses.json: the run tried less than meant")
        run(TAV["tav-rep"], "-d", logs, "-m", suite / "metadata.json", "-r", out / "responses.json",
            "-c", suite / "config.json", "-o", out)
        check_valid("report", out / "report.json")
        view = ["-m", suite / "metadata.json", "-r", out / "responses.json", "-c", suite / "config.json"]
        run(TAV["tav-view"], *view, "-t", suite / "tasks.json", "--json", work / "view-t.json", expect=1)
        run(TAV["tav-view"], *view, "--json", work / "view.json", expect=1)
        check_valid("view", work / "view-t.json")
        check_valid("view", work / "view.json")
        # Against an earlier run of either kind: the per-request change and the counts.
        for baseline in (work / "view.json", out / "report.json"):
            run(TAV["tav-view"], *view, "-t", suite / "tasks.json", "--baseline", baseline,
                "--json", work / "view-b.json", expect=1)
            check_valid("view", work / "view-b.json")
        run(TAV["tav-suite"], "rerun", "-t", suite / "tasks.json", "-m", suite / "metadata.json",
            "-c", suite / "config.json", "-r", out / "report.json", "--out", work / "rerun")
        for kind in ("tasks", "metadata", "config"):
            check_valid(kind, work / "rerun" / f"{kind}.json")
        run(TAV["tav-suite"], "merge", "--over", out / "responses.json", "-o", work / "over.json",
            out / "responses.json")
        check_valid("responses", work / "over.json")
        run(TAV["tav-suite"], "split", "-t", suite / "tasks.json", "-m", suite / "metadata.json",
            "--shards", "2", "--out", work / "shards")
        for k in (1, 2):
            check_valid("tasks", work / "shards" / f"tasks-{k}.json")
            check_valid("metadata", work / "shards" / f"metadata-{k}.json")
        run(TAV["tav-suite"], "merge", "-o", work / "merged.json", out / "responses.json")
        check_valid("responses", work / "merged.json")
    finally:
        server.stdin.close()
        server.wait(timeout=10)


EXAMPLES = SOURCE / "packaging" / "examples"
TASK = {"user": {"name": "daemon", "password": "pw", "mac_label": "1:1"},
        "requests": [{"uuid": "u", "uri": "http://127.0.0.1/", "auth_type": "basic"}]}
META = {"uuid": "u", "subject_label": "1:1", "object_label": "0:0", "min_mac_label": "0:0",
        "max_mac_label": "3:7", "expect_ignore_mac_label": False}
ANSWER = {"uuid": "u", "code": 200, "body": "ok"}
CONFIG = {"check_body": False, "body_template": "", "allowed_codes": [200], "denied_codes": [403]}
SUITE = {"base_url": "http://127.0.0.1", "users": [{"name": "daemon", "labels": ["1:1"]}],
         "objects": [{"name": "o", "label": "0:0", "path": "/o"}]}


def changed(base, path, value):
    """A deep copy of base with the value at path (keys and indexes) set, or removed for ..."""
    document = json.loads(json.dumps(base))
    *parents, last = path
    target = document
    for step in parents:
        target = target[step]
    if value is ...:
        del target[last]
    else:
        target[last] = value
    return document


# (schema, what is wrong, the whole bad file)
BAD = [
    ("tasks", "an object at the top", {"tasks": [TASK]}),
    ("tasks", "no task", []),
    ("tasks", "no password", [changed(TASK, ["user", "password"], ...)]),
    ("tasks", "a level that is no number", [changed(TASK, ["user", "mac_label"], "x:1")]),
    ("tasks", "a mask beyond an int", [changed(TASK, ["user", "mac_label"], "1:ffffffff")]),
    ("tasks", "a label without colon", [changed(TASK, ["user", "mac_label"], "11")]),
    ("tasks", "a name with a /", [changed(TASK, ["user", "name"], "a/b")]),
    ("tasks", "an empty name", [changed(TASK, ["user", "name"], "")]),
    ("tasks", "a name with a NUL", [changed(TASK, ["user", "name"], "a\u0000b")]),
    ("tasks", "a request without uri", [changed(TASK, ["requests", 0, "uri"], ...)]),
    ("tasks", "a number as uuid", [changed(TASK, ["requests", 0, "uuid"], 7)]),
    ("tasks", "no requests", [changed(TASK, ["requests"], ...)]),
    ("tasks", "an env value that is a number", [dict(TASK, env={"A": 1})]),
    ("tasks", "an unknown method", [changed(TASK, ["requests", 0, "method"], "PATCH")]),
    ("tasks", "a method in lower case", [changed(TASK, ["requests", 0, "method"], "put")]),
    ("tasks", "a body with GET", [changed(TASK, ["requests", 0, "body"], "text")]),
    ("tasks", "a body with DELETE", [changed(changed(TASK, ["requests", 0, "method"], "DELETE"),
                                             ["requests", 0, "body"], "text")]),
    ("tasks", "a body that is a number", [changed(changed(TASK, ["requests", 0, "method"], "PUT"),
                                                  ["requests", 0, "body"], 5)]),
    ("metadata", "no expect_ignore_mac_label", [changed(META, ["expect_ignore_mac_label"], ...)]),
    ("metadata", "expect_ignore_mac_label a string", [changed(META, ["expect_ignore_mac_label"], "no")]),
    ("metadata", "a label that is a number", [changed(META, ["subject_label"], 5)]),
    ("metadata", "no uuid", [changed(META, ["uuid"], ...)]),
    ("metadata", "an unknown access", [changed(META, ["access"], "exec")]),
    ("metadata", "access true", [changed(META, ["access"], True)]),
    ("metadata", "a string at the top", "metadata"),
    ("responses", "a code as a string", [changed(ANSWER, ["code"], "200")]),
    ("responses", "a code that is true", [changed(ANSWER, ["code"], True)]),
    ("responses", "no body", [changed(ANSWER, ["body"], ...)]),
    ("responses", "a null body", [changed(ANSWER, ["body"], None)]),
    ("responses", "the per-task form", {"tasks": [ANSWER]}),
    ("responses", "a code beyond 64 bits", [changed(ANSWER, ["code"], 2**64)]),
    ("config", "no allowed_codes", changed(CONFIG, ["allowed_codes"], ...)),
    ("config", "check_body a string", changed(CONFIG, ["check_body"], "yes")),
    ("config", "a code as a string", changed(CONFIG, ["allowed_codes"], ["200"])),
    ("config", "an unknown template field", dict(CONFIG, check_body=True, body_template="{nope}")),
    ("config", "a bad format type", dict(CONFIG, check_body=True, body_template="{obj_mac_cat:q}")),
    ("config", "an unclosed brace", dict(CONFIG, check_body=True, body_template="level {obj_mac_lev")),
    ("config", "a width from a mask", dict(CONFIG, check_body=True, body_template="{obj_mac_lev:{obj_mac_cat}}")),
    ("suite", "an unknown key", dict(SUITE, userz=[])),
    ("suite", "a label not in the plain form", changed(SUITE, ["users", 0, "labels"], ["1:1 "])),
    ("suite", "a level above 255", changed(SUITE, ["users", 0, "labels"], ["256:0"])),
    ("suite", "a mask of 33 bits", changed(SUITE, ["objects", 0, "label"], "1:100000000")),
    ("suite", "an unknown auth type", dict(SUITE, auth_types=["ntlm"])),
    ("suite", "an auth type twice", dict(SUITE, auth_types=["basic", "basic"])),
    ("suite", "path and url both", changed(SUITE, ["objects", 0, "url"], "http://h/")),
    ("suite", "an ftp base_url", dict(SUITE, base_url="ftp://127.0.0.1")),
    ("suite", "a code of 600", dict(SUITE, report={"allowed_codes": [600]})),
    ("suite", "paths without gssapi", dict(SUITE, auth_types=["basic", "gssapi"],
                                           objects=[{"name": "o", "label": "0:0", "paths": {"basic": "/b"}}])),
    ("suite", "paths naming an auth type not used", dict(SUITE, objects=[
        {"name": "o", "label": "0:0", "paths": {"basic": "/b", "gssapi": "/g"}}])),
    ("suite", "a path without base_url", {k: v for k, v in SUITE.items() if k != "base_url"}),
    ("suite", "a $schema that is no text", dict(SUITE, **{"$schema": 5})),
    ("suite", "no users", dict(SUITE, users=[])),
    ("suite", "a password that is a number", changed(SUITE, ["users", 0, "password"], 5)),
    ("suite", "a user name with a /", changed(SUITE, ["users", 0, "name"], "a/b")),
    ("suite", "an unknown user key", changed(SUITE, ["users", 0, "group"], "x")),
    ("suite", "write a string", changed(SUITE, ["objects", 0, "write"], "yes")),
    ("suite", "a bad body template", dict(SUITE, report={"check_body": True, "body_template": "{x}"})),
]


def refused(work):
    good = {"tasks": EXAMPLES / "tasks.json", "metadata": EXAMPLES / "metadata.json",
            "config": EXAMPLES / "config.json", "responses": work / "responses.json"}
    (work / "responses.json").write_text(json.dumps([ANSWER]))
    for kind, what, document in BAD:
        bad = work / f"bad-{kind}.json"
        bad.write_text(json.dumps(document))
        if kind == "suite":
            argv = [TAV["tav-suite"], "gen", bad, "--out", work / "gen"]
        else:
            files = dict(good, **{kind: bad})
            argv = [TAV["tav-view"], "-q", "-m", files["metadata"], "-r", files["responses"],
                    "-c", files["config"], "-t", files["tasks"]]
        status = subprocess.run([str(a) for a in argv], capture_output=True).returncode
        if status != 2:
            failures.append(f"{kind}, {what}: the program took it (status {status})")
        if not validate.problems(validate.load_validator(SCHEMAS, kind), document):
            failures.append(f"{kind}, {what}: the program refuses it, the schema takes it")
    # The good files the table starts from are taken by both, or the table proves nothing.
    status = subprocess.run([str(TAV["tav-view"]), "-q", "-m", good["metadata"], "-r", good["responses"],
                             "-c", good["config"], "-t", good["tasks"]], capture_output=True).returncode
    if status == 2:
        failures.append("tav-view refuses the table's good files")
    (work / "good-suite.json").write_text(json.dumps(SUITE))
    run(TAV["tav-suite"], "gen", work / "good-suite.json", "--out", work / "gen")
    for kind, document in (("tasks", [TASK]), ("metadata", [META]), ("responses", [ANSWER]),
                           ("config", CONFIG), ("suite", SUITE)):
        for problem in validate.problems(validate.load_validator(SCHEMAS, kind), document):
            failures.append(f"the good {kind} file is invalid: {problem}")


def main():
    mode = sys.argv[1]
    if mode == "written" and os.geteuid() != 0:
        print("SKIP: tav-req must run as root")
        return 125
    work = Path(tempfile.mkdtemp(prefix="tav-schemas-"))
    work.chmod(0o755)
    try:
        {"written": written, "refused": refused}[mode](work)
    finally:
        if not failures:
            shutil.rmtree(work)
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        print(f"kept {work}")
        return 1
    print(f"PASS: schemas {mode}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
