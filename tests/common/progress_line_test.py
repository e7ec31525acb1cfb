#!/usr/bin/python3
"""The progress line as a user sees it, on a real pseudo-terminal: tav-req, tav-view and tav-suite
draw it there, erase it before any other output, and write not one byte of it to a pipe or a
file.

  progress_line_test.py SOURCE_DIR BUILD_DIR

Exit 0 when all holds, 1 with the failures listed. tav-req's part needs root and is skipped
with a note without it.
"""

import json
import os
import re
import select
import signal
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import tty
from pathlib import Path

SOURCE, BUILD = Path(sys.argv[1]), Path(sys.argv[2])
REQ, VIEW, SUITE = BUILD / "req" / "tav-req", BUILD / "view" / "tav-view", BUILD / "suite" / "tav-suite"
ERASE = b"\r\x1b[K"
failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)


def throttle(process):
    """Lets the program run 5 ms of every 100 until it ends: twenty times slower, so its work
    lasts well over the second before the line appears, however fast the machine."""
    try:
        while process.poll() is None:
            os.kill(process.pid, signal.SIGSTOP)
            time.sleep(0.095)
            os.kill(process.pid, signal.SIGCONT)
            time.sleep(0.005)
    except ProcessLookupError:
        pass


def on_terminal(argv, stdout_too, slow=False, env_extra=None):
    """Runs argv with standard error (and standard output when stdout_too) on a raw
    pseudo-terminal, so no line feed is translated; what the terminal received, the standard
    output when it went elsewhere, and the status. With slow, the program is throttled."""
    master, slave = os.openpty()
    tty.setraw(slave)
    env = {**os.environ, "NO_COLOR": "1", **(env_extra or {})}
    # A file, not a pipe: a large summary would fill a pipe no one reads meanwhile.
    out_file = tempfile.TemporaryFile()
    process = subprocess.Popen([str(a) for a in argv], stdin=subprocess.DEVNULL, env=env,
                               stdout=slave if stdout_too else out_file, stderr=slave)
    os.close(slave)
    slower = threading.Thread(target=throttle, args=(process,)) if slow else None
    if slower:
        slower.start()
    seen = b""
    while True:
        ready, _, _ = select.select([master], [], [], 60)
        if not ready:
            process.kill()
            failures.append(f"{argv[0]} wrote nothing on the terminal for 60 s")
            break
        try:
            chunk = os.read(master, 65536)
        except OSError:  # EIO: every writer has closed the terminal
            break
        if not chunk:
            break
        seen += chunk
    process.wait()
    if slower:
        slower.join()
    out_file.seek(0)
    out = out_file.read()
    os.close(master)
    return seen, out, process.returncode


def plain(argv, stderr_to_file=None):
    env = dict(os.environ, NO_COLOR="1")
    if stderr_to_file:
        with open(stderr_to_file, "wb") as err:
            result = subprocess.run([str(a) for a in argv], stdout=subprocess.PIPE, stderr=err, env=env)
        return result.stdout, Path(stderr_to_file).read_bytes(), result.returncode
    result = subprocess.run([str(a) for a in argv], capture_output=True, env=env)
    return result.stdout, result.stderr, result.returncode


def frames(seen):
    """The texts the line showed, in order; every piece between carriage returns must be a drawn
    line ("TEXT\\x1b[K") or an erase, else something else reached the terminal."""
    texts = []
    for piece in seen.split(b"\r")[1:]:
        if not piece.endswith(b"\x1b[K"):
            failures.append(f"the terminal got more than the line: {piece[:200]!r}")
            continue
        if piece != b"\x1b[K":
            texts.append(piece[:-3].decode())
    return texts


def check_req(work):
    if os.geteuid() != 0:
        print("note: tav-req's part skipped, it must run as root")
        return
    server = subprocess.Popen([sys.executable, str(SOURCE / "tests" / "req" / "http_test_server.py")],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        port = int(server.stdout.readline())
        # Three tasks that take over a second, so the line is redrawn while they run.
        tasks = [{"user": {"name": name, "password": "", "mac_label": "1:1"},
                  "requests": [{"uuid": f"{name}-{i}", "uri": f"http://127.0.0.1:{port}/slow?ms=600",
                                "auth_type": "basic"} for i in range(2)]}
                 for name in ("daemon", "bin", "nobody")]
        (work / "tasks.json").write_text(json.dumps(tasks))
        results = {}
        for how in ("terminal", "pipe", "file"):
            logs, out = work / f"logs-{how}", work / f"out-{how}"
            for folder in (logs, out):
                folder.mkdir()
                folder.chmod(0o1777)
            argv = [REQ, "-d", logs, "-t", work / "tasks.json", "-o", out]
            if how == "terminal":
                seen, _, status = on_terminal(argv, stdout_too=True)
                results[how] = (seen, status)
            else:
                stdout, stderr, status = plain(argv, work / "req-err" if how == "file" else None)
                results[how] = (stdout + stderr, status)
            expect(status == 0, f"tav-req on {how}: status {status}")
            expect(json.loads((out / "responses.json").read_text()) ==
                   [{"uuid": f"{n}-{i}", "code": 200, "body": "slow 600"}
                    for n in ("daemon", "bin", "nobody") for i in range(2)],
                   f"tav-req on {how}: the answers differ")
        expect(results["pipe"][0] == b"" and results["file"][0] == b"",
               f"tav-req wrote to a pipe or file: {results['pipe'][0][:200]!r} {results['file'][0][:200]!r}")
        seen = results["terminal"][0]
        texts = frames(seen)
        line = re.compile(r"^\d of 3 tasks done, \d failed, \d answers, 0:0\d$")
        expect(texts and all(line.match(t) for t in texts[:-1]), f"tav-req's line: {texts}")
        expect("3 of 3 tasks done, 0 failed, 6 answers" in " ".join(texts),
               f"tav-req's line never counted every task and answer: {texts}")
        expect(texts[-1:] == ["merging the answers of 3 tasks"], f"tav-req's last line: {texts[-1:]}")
        expect(seen.endswith(ERASE), f"tav-req left its line on the terminal: {seen[-80:]!r}")
    finally:
        server.stdin.close()
        server.wait(timeout=10)


def check_view_and_suite(work):
    # The line stays away from work done within a second, so the runs on a terminal are
    # throttled: they last over a second on any machine.
    subprocess.run([sys.executable, str(SOURCE / "bench" / "gen_checker_input.py"), "--entries",
                    "20000", "--out", str(work / "in")], check=True, capture_output=True)
    inputs = ["-m", work / "in" / "metadata.json", "-r", work / "in" / "responses.json",
              "-c", work / "in" / "config.json"]
    summary, err, status = plain([VIEW, *inputs])
    expect(status == 1 and err == b"", f"tav-view without a terminal: status {status}, {err[:200]!r}")
    expect(plain([VIEW, *inputs], work / "view-err")[:2] == (summary, b""),
           "tav-view with standard error to a file differs from a run into a pipe")

    seen, out, _ = on_terminal([VIEW, *inputs], stdout_too=False, slow=True)
    expect(out == summary, "tav-view's standard output changed with its standard error on a terminal")
    texts = frames(seen)
    # Which phases a redraw catches depends on the machine; every frame is one of them.
    phases = [r"^reading .*metadata\.json: 1 entry$", r"^reading .*metadata\.json: [\d,]+ entries$",
              r"^reading .*responses\.json: 1 entry$", r"^reading .*responses\.json: [\d,]+ entries$",
              r"^reading .*config\.json$", r"^deciding$", r"^deciding: \d+%$"]
    expect(texts and all(any(re.match(p, t) for p in phases) for t in texts) and
           not any(re.match(r".*: 1 entries$", t) for t in texts), f"tav-view's line: {texts}")
    expect(seen.endswith(ERASE), f"tav-view left its line: {seen[-80:]!r}")

    # Against a baseline: its reading is a phase of its own, counting its requests.
    plain([VIEW, *inputs, "-q", "--json", work / "earlier.json"])
    seen, out, _ = on_terminal([VIEW, *inputs, "--baseline", work / "earlier.json"],
                               stdout_too=False, slow=True)
    texts = frames(seen)
    baseline = r"^reading .*earlier\.json: (1 request|[\d,]+ requests)$"
    expect(out.startswith(summary.split(b"\n")[0] + b"\nagainst baseline ") and
           all(any(re.match(p, t) for p in phases + [baseline]) for t in texts) and
           any(re.match(baseline, t) for t in texts), f"tav-view --baseline's line: {texts}")

    # Both on the terminal: the summary starts on an erased line and nothing of the line follows.
    seen, _, _ = on_terminal([VIEW, *inputs], stdout_too=True, slow=True)
    head, _, rest = seen.rpartition(ERASE)
    expect(head and rest == summary, f"tav-view's summary mixed with its line: {rest[:200]!r}")
    # A terminal that takes no control sequence (TERM=dumb: an editor's shell buffer) gets the
    # summary alone, without the line and without colour.
    seen, _, _ = on_terminal([VIEW, *inputs], stdout_too=True, slow=True,
                             env_extra={"TERM": "dumb", "NO_COLOR": ""})
    expect(seen == summary, f"tav-view on TERM=dumb: {seen[:200]!r}")
    seen, _, _ = on_terminal([VIEW, *inputs, "--quiet"], stdout_too=True)
    expect(ERASE not in seen and seen.startswith(b"requests 20000"), f"tav-view --quiet: {seen[:200]!r}")

    # Merging takes a few times less work per answer than deciding: four parts of 20,000
    # answers keep it over the second however long the throttle's pauses turn out.
    answers = json.loads((work / "in" / "responses.json").read_text())
    parts = []
    for part in "abcd":
        parts.append(work / f"part-{part}.json")
        parts[-1].write_text(json.dumps([dict(a, uuid=f"{part}-{a['uuid']}") for a in answers]))
    merge = [SUITE, "merge", "-o", work / "merged.json", *parts]
    expect(plain(merge)[1:] == (b"", 0), "tav-suite merge without a terminal wrote to standard error")
    seen, _, status = on_terminal(merge, stdout_too=True, slow=True)
    texts = frames(seen)
    expect(status == 0 and texts and
           all(re.match(r"^joining .*part-[a-d]\.json: (1 answer|[\d,]+ answers)$", t) or
               re.match(r"^writing .*merged\.json$", t) for t in texts),
           f"tav-suite merge's line: {texts}")
    expect(seen.endswith(ERASE), f"tav-suite left its line: {seen[-80:]!r}")


def main():
    work = Path(tempfile.mkdtemp(prefix="tav-progress-"))
    work.chmod(0o755)
    try:
        check_req(work)
        check_view_and_suite(work)
    finally:
        if not failures:
            shutil.rmtree(work)
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        print(f"kept {work}")
        return 1
    print("PASS: the progress line")
    return 0


if __name__ == "__main__":
    sys.exit(main())
