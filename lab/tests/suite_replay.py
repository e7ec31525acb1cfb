#!/usr/bin/python3
"""Sends every request of a tasks.json with curl, as its task user and with
its task env, and writes the answers as a responses file (a top-level array
of {"uuid", "code", "body"}). A check of the lab and the suite that does not
need tav-req.

usage: suite_replay.py TASKS_JSON RESPONSES_JSON
"""

import json
import os
import pwd
import subprocess
import sys


def fetch(task, request):
    user = task["user"]
    entry = pwd.getpwnam(user["name"])
    cmd = ["setpriv", f"--reuid={entry.pw_uid}", f"--regid={entry.pw_gid}", "--clear-groups",
           "curl", "-sS", "-w", "\n%{http_code}"]
    if request["auth_type"] == "gssapi":
        cmd += ["--negotiate", "-u", ":", "--delegation", "always"]
    else:
        cmd += ["-u", f"{user['name']}:{user['password']}"]
    env = {"PATH": "/usr/bin:/bin", **task.get("env", {})}
    out = subprocess.run(cmd + [request["uri"]], env=env, capture_output=True, text=True,
                         timeout=30).stdout
    body, _, code = out.rpartition("\n")
    return int(code or 0), body


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    with open(sys.argv[1], encoding="utf-8") as f:
        tasks = json.load(f)
    responses = []
    for task in tasks:
        for request in task["requests"]:
            code, body = fetch(task, request)
            responses.append({"uuid": request["uuid"], "code": code, "body": body})
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        json.dump(responses, f, indent=2)


if __name__ == "__main__":
    main()
