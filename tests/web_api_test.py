#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# move-rename-web as a browser or a script meets it: the real server on a real tree in a
# temporary folder, spoken to over loopback HTTP(S) only.
# Usage: web_api_test.py SERVER CLI
import fcntl
import http.client
import json
import os
import pty
import random
import re
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

SERVER, CLI = sys.argv[1], sys.argv[2]
PASSWORD = "correct horse"
# What a run says of a row whose file another run moved first.
LOSING_REASONS = {"source does not exist", "target exists"}
results = {"passed": 0, "failed": 0}
running = []  # the servers started, killed after each case


def check(tag, ok, detail=""):
    results["passed" if ok else "failed"] += 1
    if not ok:
        print(f"FAIL {tag}: {detail}")


def write(path, size=1000):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"x" * size)


class Server:
    """A server on a free loopback port, its settings and journals in temporary folders."""

    def __init__(self, top, roots, password=None, tls=None, extra=(), wrap=(), env=None):
        self.env = dict(os.environ, XDG_CONFIG_HOME=f"{top}/config", XDG_STATE_HOME=f"{top}/state",
                        **(env or {}))
        if password:
            subprocess.run([SERVER, "--set-password"], input=password.encode(), env=self.env,
                           check=True, capture_output=True)
        args = [*wrap, SERVER, "--listen", "127.0.0.1:0", *extra]
        for root in roots:
            args += ["--root", root]
        if tls:
            args += ["--tls-cert", tls[0], "--tls-key", tls[1]]
        self.log = open(f"{top}/server.log", "w+")
        self.process = subprocess.Popen(args, env=self.env, stderr=subprocess.PIPE, text=True,
                                        errors="replace")
        running.append(self.process)  # a case that breaks off still stops its server
        first = self.process.stderr.readline()
        self.port = int(first.rsplit(":", 1)[1].strip("/\n"))
        threading.Thread(target=lambda: [self.log.write(line) for line in self.process.stderr],
                         daemon=True).start()
        self.context = ssl.create_default_context(cafile=tls[0]) if tls else None
        self.cookie = None

    def request(self, method, path, body=None, headers=None, source="127.0.0.1", raw=None):
        """(status, headers, parsed or raw body) of one request on a fresh connection."""
        if self.context:
            conn = http.client.HTTPSConnection("127.0.0.1", self.port, context=self.context,
                                               timeout=30, source_address=(source, 0))
        else:
            conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30,
                                              source_address=(source, 0))
        sent = {"Content-Type": "application/json"} if method == "POST" else {}
        if self.cookie:
            sent["Cookie"] = "session=" + self.cookie
        sent.update(headers or {})
        data = raw if raw is not None else (None if body is None else json.dumps(body))
        conn.request(method, path, data, {k: v for k, v in sent.items() if v is not None})
        response = conn.getresponse()
        text = response.read().decode()
        conn.close()
        try:
            kind = response.getheader("Content-Type", "")
            parsed = json.loads(text) if text and kind.startswith("application/json") else text
        except ValueError:
            parsed = text
        return response.status, response, parsed

    def login(self, password=PASSWORD):
        status, response, _ = self.request("POST", "/api/login", {"password": password})
        if response.getheader("Set-Cookie"):
            self.cookie = response.getheader("Set-Cookie").split(";")[0].split("=", 1)[1]
        return status, response

    def stop(self):
        self.process.terminate()
        code = self.process.wait(timeout=30)
        self.log.seek(0)
        return code, self.log.read()


def query(**params):
    return urllib.parse.urlencode(params, quote_via=urllib.parse.quote)


def apply(server, sid, body):
    status, _, text = server.request("POST", f"/api/scans/{sid}/apply", body)
    lines = [json.loads(line) for line in text.splitlines()] if status == 200 else []
    return status, {line["row"]: line for line in lines if "row" in line}, (lines or [{}])[-1]


def season(top, episodes):
    root = f"{top}/media"
    for n in episodes:
        write(f"{root}/Season/Show.S01E{n:02}.720p-GRP/show.s01e{n:02}.mkv", 1000 + n)
    return root


def security_table(top):
    root = season(top, [1, 2])
    os.makedirs(f"{top}/outside/Secret.S01E01.720p-GRP")
    write(f"{top}/outside/Secret.S01E01.720p-GRP/secret.mkv")
    os.symlink(f"{top}/outside", f"{root}/escape")
    os.symlink(f"{top}/outside/Secret.S01E01.720p-GRP", f"{root}/Season/Show.S01E09.720p-GRP")
    os.symlink(f"{top}/outside", f"{root}/Season/away")
    os.makedirs(f"{root}/Season/Show.S01E08.720p-GRP")
    os.symlink(f"{top}/outside/Secret.S01E01.720p-GRP/secret.mkv",
               f"{root}/Season/Show.S01E08.720p-GRP/show.s01e08.mkv")
    server = Server(top, [root], password=PASSWORD)
    check("login", server.login()[0] == 204)
    cookie = server.cookie
    foreign = {"Origin": "http://evil.example"}
    big = json.dumps({"root": 0, "folders": ["x" * (1 << 20)]})
    # tag, method, path, body, headers, wanted status
    rows = [
        ("no cookie", "GET", "/api/roots", None, {"Cookie": None}, 401),
        ("forged cookie", "GET", "/api/roots", None, {"Cookie": "session=" + cookie[:-1] + (
            "0" if cookie[-1] != "0" else "1")}, 401),
        ("wrong password", "POST", "/api/login", {"password": "wrong"}, {}, 401),
        ("foreign Host", "GET", "/api/roots", None, {"Host": "evil.example"}, 403),
        ("foreign Origin", "POST", "/api/scans", {"root": 0, "folders": ["Season"]}, foreign, 403),
        ("form post, not JSON", "POST", "/api/scans", {"root": 0, "folders": ["Season"]},
         {"Content-Type": "text/plain"}, 403),
        ("absolute path", "GET", "/api/folders?" + query(root=0, path="/etc"), None, {}, 403),
        ("'..' component", "GET", "/api/folders?" + query(root=0, path="Season/../.."), None, {},
         403),
        ("encoded '..'", "GET", "/api/folders?root=0&path=%2e%2e%2F", None, {}, 403),
        # Refused by its words, not only where the kernel finds it leads out.
        ("'..' that stays inside", "GET", "/api/folders?" + query(root=0, path="Season/../Season"),
         None, {}, 403),
        ("NUL byte", "GET", "/api/folders?root=0&path=Season%00x", None, {}, 400),
        ("symbolic link out of the root", "GET", "/api/folders?" + query(root=0, path="escape"),
         None, {}, 403),
        ("scan through a link", "POST", "/api/scans", {"root": 0, "folders": ["escape"]}, {}, 403),
        ("scan of '..'", "POST", "/api/scans", {"root": 0, "folders": [".."]}, {}, 403),
        ("scan of an absolute path", "POST", "/api/scans", {"root": 0, "folders": [top]}, {}, 403),
        ("unknown root", "GET", "/api/folders?root=7&path=", None, {}, 404),
        ("oversized body", "POST", "/api/scans", big, {}, 413),
        ("malformed JSON", "POST", "/api/scans", "{\"root\": 0,", {}, 400),
        ("wrong method", "DELETE", "/api/roots", None, {}, 405),
        ("GET on a POST route", "GET", "/api/scans", None, {}, 405),
        ("unknown route", "GET", "/api/nothing", None, {}, 404),
        ("undo of a path, not a name", "POST", "/api/undo", {"journal": "../../etc/passwd"}, {},
         404),
    ]
    for tag, method, path, body, headers, wanted in rows:
        raw = body if isinstance(body, str) else None
        status, response, answer = server.request(method, path, None if raw else body, headers,
                                                  raw=raw)
        cors = [h for h, _ in response.getheaders() if h.lower().startswith("access-control")]
        check(tag, status == wanted and not cors and (status < 400 or "error" in answer),
              f"{status} {answer!r} {cors}")
        check(tag + ": nothing outside named", top + "/outside" not in str(answer), str(answer))
    status, response, _ = server.request("POST", "/api/login", {"password": "wrong"})
    check("the session survives a wrong password", server.request("GET", "/api/roots")[0] == 200)
    cookie_text = server.login()[1].getheader("Set-Cookie")
    check("cookie attributes", all(a in cookie_text for a in ["HttpOnly", "SameSite=Strict"])
          and "Secure" not in cookie_text and len(server.cookie) >= 32, cookie_text)

    status, _, scan = server.request("POST", "/api/scans", {"root": 0, "folders": ["Season"]})
    check("a linked release folder or file is not scanned", scan["rows"] == 2 and "Secret" not in
          json.dumps(scan), scan)
    status, lines, last = apply(server, scan["scan"], {
        "filename": "x", "output": "y", "unticked": [1], "targets": {"0": "away/x.mkv"}})
    check("a target through a link out of the root", lines[0]["error"] == "outside the root" and
          not os.path.exists(f"{top}/outside/x.mkv"), lines)
    status, _, listing = server.request("GET", "/api/folders?" + query(root=0, path=""))
    check("a link out of the root is not listed",
          listing == {"path": "", "folders": ["Season"], "release": False}, listing)

    # Five wrong passwords from one address block it for a minute, that address only.
    server.cookie = None
    statuses = [server.request("POST", "/api/login", {"password": p}, source="127.0.0.3")[0]
                for p in ["a", "b", "c", "d", "e", PASSWORD]]
    statuses.append(server.request("POST", "/api/login", {"password": PASSWORD},
                                   source="127.0.0.2")[0])
    check("rate limit from one address", statuses == [401] * 5 + [429, 204], statuses)

    page = server.request("GET", "/", headers={"Cookie": None})
    check("the page needs no login", page[0] == 200 and "Move &amp; Rename" in page[2])
    check("the page's headers", page[1].getheader("Content-Security-Policy") ==
          "default-src 'self'; frame-ancestors 'none'" and page[1].getheader(
              "X-Content-Type-Options") == "nosniff" and page[1].getheader(
                  "Referrer-Policy") == "no-referrer")

    # A request that never ends is cut off; the server answers others meanwhile.
    slow = socket.create_connection(("127.0.0.1", server.port))
    slow.sendall(b"GET /api/roots HTTP/1.1\r\nHost: 127.0.0.1\r\n")
    server.cookie = cookie
    check("answers while one request stalls", server.request("GET", "/api/roots")[0] == 200)
    slow.settimeout(20)
    started = time.monotonic()
    answer = slow.recv(100)
    try:
        after = server.request("GET", "/api/roots")[0]
    except OSError as error:
        after = repr(error)
    check("a stalled request times out", time.monotonic() - started < 15 and (
        answer == b"" or answer.startswith(b"HTTP/1.1 4")) and after == 200, (answer, after))
    code, log = server.stop()
    check("log lines", "GET /api/roots 200" in log and cookie not in log and "horse" not in log
          and "wrong" not in log, log[-500:])

    refused = subprocess.run([SERVER, "--root", root, "--listen", "0.0.0.0:0"],
                             env=dict(server.env, XDG_CONFIG_HOME=f"{top}/none"),
                             capture_output=True, text=True, timeout=30)
    check("no password, not loopback", refused.returncode == 2 and "password" in refused.stderr,
          refused.stderr)


def own_address():
    """The machine's address on its default route, or None (a UDP connect sends nothing)."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        try:
            probe.connect(("192.0.2.1", 9))
            return probe.getsockname()[0]
        except OSError:
            return None


def every_address(top):
    own = own_address()
    if own is None:
        print("skipped rows: 2: no address but loopback to reach the server at")
    root = season(top, [1])
    for wildcard in ["0.0.0.0:0", "[::]:0"]:  # on "::", IPv4 arrives as "::ffff:127.0.0.1"
        every_address_rows(Server(top, [root], password=PASSWORD, extra=["--listen", wildcard]),
                           wildcard, own)


def every_address_rows(server, wildcard, own):
    port = server.port
    # reached at, Host, wanted status
    rows = [("127.0.0.1", f"127.0.0.1:{port}", 200), ("127.0.0.2", f"127.0.0.2:{port}", 200),
            ("127.0.0.1", "localhost", 200), ("127.0.0.1", f"127.0.0.2:{port}", 403),
            ("127.0.0.1", f"rebound.example:{port}", 403)]
    rows += [(own, f"{own}:{port}", 200)] if own else []
    for address, host, wanted in rows:
        conn = http.client.HTTPConnection(address, port, timeout=30)
        conn.request("GET", "/", headers={"Host": host, "Accept": "text/html"})
        response = conn.getresponse()
        page = response.read().decode()
        conn.close()
        check(f"on {wildcard}, the page reached at {address} as {host}",
              response.status == wanted and (wanted == 200 or "host = " + host.split(":")[0] in
                                             page and "<html" in page), (response.status, page))
    status, _, answer = server.request("GET", "/api/roots", headers={"Host": "rebound.example"})
    check("a script's foreign Host answered in JSON", status == 403 and "error" in answer, answer)
    server.stop()


def session_flow(top):
    root = season(top, [1, 2, 3, 4])
    write(f"{root}/Season/Show.S01E02.720p-GRP/show.s01e02.en.srt")
    write(f"{root}/Season/Show - 1x03.mkv")  # the third row's target is taken
    os.symlink("nowhere", f"{root}/Season/Show - 1x04.mkv")  # the fourth's, by a dangling link
    server = Server(top, [root])
    check("login without a password", server.login("anything")[0] == 204)
    status, _, scan = server.request("POST", "/api/scans", {"root": 0, "folders": ["Season"]})
    check("scan", status == 200 and scan["rows"] == 4 and scan["suggestion"] == {
        "filename": "Show.S01E0%1.720p", "output": "%1"}, scan)
    sid = scan["scan"]
    rows_url = f"/api/scans/{sid}/rows?"
    # As a person types the output pattern, each keystroke asks for the screen again.
    # output, offset, the targets and conflicts of the screen from there
    typing = [("Show - 1x%1", 0, ["Show - 1x1.mkv", "Show - 1x2.mkv", "Show - 1x3.mkv",
                                  "Show - 1x4.mkv"], [None] * 4),
              ("Show - 1x0%1", 2, ["Show - 1x03.mkv", "Show - 1x04.mkv"], ["exists", "exists"]),
              ("Same", 1, ["Same.mkv"] * 3, ["duplicate"] * 3),
              ("Same/./x", 1, ["Same/./x.mkv"] * 3, ["duplicate"] * 3),
              ("../%1", 3, ["../4.mkv"], ["outside"])]
    for output, offset, targets, conflicts in typing:
        status, _, answer = server.request("GET", rows_url + query(
            filename="Show.S01E0%1.720p", output=output, offset=offset, limit=10))
        check(f"rows for {output!r} from {offset}", answer["total"] == 4 and [
            (r["target"], r["conflict"]) for r in answer["rows"]] == list(zip(targets, conflicts)),
            answer)
    status, _, answer = server.request("GET", rows_url + query(
        filename="Show.S01E0%1.720p", output="Show - 1x0%1", offset=1, limit=1, sidecars=1))
    check("sidecars", answer["rows"][0]["sidecars"] == [
        {"file": "show.s01e02.en.srt", "target": "Show - 1x02.en.srt", "conflict": None}], answer)
    check("unknown action", server.request("GET", rows_url + "action=shred")[0] == 400)

    status, lines, last = apply(server, sid, {
        "filename": "Show.S01E0%1.720p", "output": "Show - 1x0%1", "action": "move",
        "sidecars": True, "unticked": [3], "targets": {"0": "Pilot.mkv", "1": "../../x.mkv"}})
    check("apply", status == 200 and lines[0]["outcome"] == "moved" and
          lines[1]["error"] == "outside the root" and lines[2]["error"] == "target exists" and
          3 not in lines and last["moved"] == 1 and last["failed"] == 2 and last["journal"],
          (lines, last))
    check("moved on disk", os.path.exists(f"{root}/Season/Pilot.mkv") and not os.path.exists(
        f"{root}/Season/Show.S01E01.720p-GRP/show.s01e01.mkv") and not os.path.exists(
            f"{top}/x.mkv"))
    status, _, answer = server.request("GET", rows_url + query(filename="x", output="y"))
    check("moved rows leave the scan", [r["row"] for r in answer["rows"]] == [1, 2, 3], answer)

    status, _, history = server.request("GET", "/api/journals")
    check("history", [(j["journal"], j["moved"], j["undone"], j["root"], j["folder"], j["done"])
                      for j in history] == [(last["journal"], 1, "no", 0, "Season",
                                             {"moved": 1})], history)
    status, _, preview = server.request("POST", "/api/undo", {"journal": last["journal"]})
    check("undo preview, relative to the root", preview["rows"] == [{
        "now_at": "Season/Pilot.mkv", "back_to": "Season/Show.S01E01.720p-GRP/show.s01e01.mkv",
        "refused": None}] and os.path.exists(f"{root}/Season/Pilot.mkv"), preview)

    # A journal in use is refused, by the server and by the command line alike.
    journal = f"{top}/state/move-rename/{last['journal']}"
    with open(journal, "rb") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        status, _, answer = server.request("POST", "/api/undo", {"journal": last["journal"],
                                                                 "apply": True})
        cli = subprocess.run([CLI, "--undo", "--apply", journal], env=server.env,
                             capture_output=True, text=True)
    check("undo of a journal in use", status == 409 and "in use" in answer["error"] and
          top not in answer["error"], answer)
    check("command line undo of a journal in use", cli.returncode == 2 and
          "in use" in cli.stderr, cli.stderr)
    status, _, answer = server.request("POST", "/api/undo", {"journal": last["journal"],
                                                             "apply": True})
    check("undo", answer["restored"] == 1 and answer["failed"] == 0 and os.path.exists(
        f"{root}/Season/Show.S01E01.720p-GRP/show.s01e01.mkv"), answer)
    status, _, history = server.request("GET", "/api/journals")
    check("history after the undo", history[0]["undone"] == "yes", history)

    # The command line's actions and output folders, through the API alike.
    status, _, scan = server.request("POST", "/api/scans", {"root": 0, "folders": ["Season"]})
    status, lines, last = apply(server, scan["scan"], {
        "filename": "Show.S01E0%1.720p", "output": "Show/S1/E%1", "action": "hardlink",
        "unticked": [2]})
    source = f"{root}/Season/Show.S01E02.720p-GRP/show.s01e02.mkv"
    check("hard links into new folders", last["moved"] == 3 and os.path.exists(source) and
          os.path.samefile(source, f"{root}/Season/Show/S1/E2.mkv"), (lines, last))
    status, _, history = server.request("GET", "/api/journals")
    check("history in the action's words", history[0]["done"] == {"hard-linked": 3}, history)
    status, _, preview = server.request("POST", "/api/undo", {"journal": last["journal"]})
    check("an undo's folders told from its files", [r["now_at"] for r in preview["rows"] if
                                                   r.get("folder")] == ["Season/Show/S1",
                                                                        "Season/Show"] and
          sum(not r.get("folder") for r in preview["rows"]) == 3, preview)
    status, _, answer = server.request("POST", "/api/undo", {"journal": last["journal"],
                                                             "apply": True})
    check("undo of the links and their folders", answer["failed"] == 0 and
          os.path.exists(source) and not os.path.exists(f"{root}/Season/Show"), answer)
    server.stop()


def tls(top):
    root = season(top, [1])
    cert, key = f"{top}/cert.pem", f"{top}/key.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    server = Server(top, [root], password=PASSWORD, tls=(cert, key))
    plain = socket.create_connection(("127.0.0.1", server.port))
    plain.sendall(b"GET /api/roots HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    plain.settimeout(10)
    answer = plain.recv(100)
    check("no plain HTTP under TLS", not answer.startswith(b"HTTP/"), answer)
    status, response = server.login()
    check("TLS login", status == 204 and "; Secure" in response.getheader("Set-Cookie"))
    status, _, roots = server.request("GET", "/api/roots")
    check("TLS roots", roots == [{"id": 0, "path": root}], roots)
    server.stop()


def settings_and_times(top):
    root = season(top, [1])
    os.makedirs(f"{top}/config/move-rename")
    conf = f"{top}/config/move-rename/web.conf"
    with open(conf, "w") as settings:
        settings.write("host = NAS.example\n")
    os.chmod(conf, 0o640)
    env = dict(os.environ, XDG_CONFIG_HOME=f"{top}/config", XDG_STATE_HOME=f"{top}/state")
    refused = subprocess.run([SERVER, "--root", root], env=env, capture_output=True, text=True,
                             timeout=30)
    check("a settings file its group may read", refused.returncode == 2 and
          "may be read by others" in refused.stderr, refused.stderr)
    os.chmod(conf, 0o600)
    # A session ends after 2 idle seconds here, and a login block after 8 (the test's times): five
    # hashes in a row take well over 2 seconds on a busy machine, and the first wrong password
    # must still count when the sixth try comes.
    server = Server(top, [root], password=PASSWORD, env={"MOVE_RENAME_WEB_TEST_SECONDS": "2,8"})
    with open(conf) as settings:
        check("the password's hash", "password = $argon2id$v=19$m=65536,t=3,p=1$" in
              settings.read())
    check("a host line", server.request("GET", "/", headers={"Host": "nas.example"})[0] == 200)
    server.login()
    statuses = []
    for pause in [1.2, 1.2, 2.5]:
        time.sleep(pause)
        statuses.append(server.request("GET", "/api/roots")[0])
    check("a session ends when idle, not while used", statuses == [200, 200, 401], statuses)
    server.cookie = None
    statuses = [server.login(p)[0] for p in ["a", "b", "c", "d", "e", PASSWORD]]
    time.sleep(8.5)
    statuses.append(server.login()[0])
    check("a login block ends", statuses == [401] * 5 + [429, 204], statuses)
    server.stop()

    env["XDG_CONFIG_HOME"] = f"{top}/none"
    named = subprocess.Popen([SERVER, "--root", root, "--listen", "localhost:0"], env=env,
                             stderr=subprocess.PIPE, text=True)
    running.append(named)
    first = named.stderr.readline()
    check("--listen with a loopback name", first.startswith("listening on http://127.0.0.1:"),
          first)
    unknown = subprocess.run([SERVER, "--root", root, "--listen", "no-such-name.invalid:0"],
                             env=env, capture_output=True, text=True, timeout=30)
    check("--listen with a name that does not resolve", unknown.returncode == 2 and
          "cannot resolve 'no-such-name.invalid'" in unknown.stderr, unknown.stderr)
    port = int(first.rsplit(":", 1)[1].strip("/\n"))
    second = subprocess.run([SERVER, "--root", root, "--listen", f"127.0.0.1:{port}"], env=env,
                            capture_output=True, text=True, timeout=30)
    check("a port already in use", second.returncode == 2 and
          f"address in use: 127.0.0.1:{port}\n" in second.stderr, second.stderr)
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/", timeout=30) as page:
        check("the first server still serves", page.status == 200)

    # A short password is refused from standard input, and asked again at a terminal.
    env["XDG_CONFIG_HOME"] = f"{top}/short"
    short = subprocess.run([SERVER, "--set-password"], input=b"seven77\n", env=env,
                           capture_output=True, timeout=30)
    check("a short password from standard input", short.returncode == 2 and
          b"at least 8 characters" in short.stderr and not os.path.exists(f"{top}/short"),
          short.stderr)
    main, terminal = pty.openpty()
    asked = subprocess.Popen([SERVER, "--set-password"], stdin=terminal, env=env,
                             stderr=subprocess.PIPE)
    os.write(main, b"seven77\neight888\neight888\n")
    stored = asked.wait(timeout=30) == 0 and "password =" in open(
        f"{top}/short/move-rename/web.conf").read()
    check("a short password asked again at a terminal", stored and asked.stderr.read().count(
        b"Password: ") == 2, stored)
    os.close(main)
    os.close(terminal)


def two_clients(top):
    count = 30
    root = season(top, range(1, count + 1))
    server = Server(top, [root])
    # Each has scanned the season, so each has every row still to move when it applies.
    scans = [server.request("POST", "/api/scans", {"root": 0, "folders": ["Season"]})[2]["scan"]
             for _ in range(2)]
    body = {"filename": "Show.S01E%1.720p", "output": "E%1", "action": "move"}
    outcomes = []
    clients = [threading.Thread(target=lambda sid=sid: outcomes.append(apply(server, sid, body)))
               for sid in scans]
    for client in clients:
        client.start()
    for client in clients:
        client.join()
    moved = [row for _, lines, _ in outcomes for row, line in lines.items()
             if line["outcome"] == "moved"]
    failed = [line for _, lines, _ in outcomes for line in lines.values()
              if line["outcome"] == "failed"]
    on_disk = [name for _, _, names in os.walk(root) for name in names]
    check("two clients: each row moved once", sorted(moved) == list(range(count)), moved)
    check("two clients: the losing side says why", len(failed) == count and all(
        line["error"] in LOSING_REASONS for line in failed), failed[:3])
    check("two clients: every file in one place", sorted(on_disk) == [
        f"E{n:02}.mkv" for n in range(1, count + 1)], on_disk)
    server.stop()


def races(top):
    """A source changed between the scan and the move; a journal naming a path outside."""
    root = season(top, [1, 2])
    write(f"{top}/outside/Show.S01E01.720p-GRP/show.s01e01.mkv", 7)
    trace = f"{top}/trace"
    # The journal's flush, just before the first file moves, is held back for a second.
    server = Server(top, [root], wrap=["strace", "-qq", "-f", "-o", trace, "-e", "trace=fsync",
                                       "-e", "inject=fsync:delay_enter=1000000:when=1"])
    # The server itself, which strace runs: stopped by its own SIGTERM, so that none outlives us.
    with open(f"/proc/{server.process.pid}/task/{server.process.pid}/children") as children:
        traced = int(children.read().split()[0])
    try:
        races_traced(top, root, server, trace)
    finally:
        os.kill(traced, signal.SIGTERM)
        server.stop()

    # A command line run whose release folder lies outside the server's root.
    before = set(os.listdir(f"{top}/state/move-rename"))
    subprocess.run([CLI, "--apply", "--root", root, "--release", "--filename",
                    "Show.S01E0%1.720p-GRP", "--output", "stolen",
                    f"{top}/outside/Show.S01E01.720p-GRP"],
                   env=server.env, check=True, capture_output=True)
    server = Server(top, [root])
    server.login("anything")
    (name,) = set(os.listdir(f"{top}/state/move-rename")) - before
    status, _, history = server.request("GET", "/api/journals")
    check("a journal with a path outside the roots is not listed",
          name not in [j["journal"] for j in history], history)
    status, _, answer = server.request("POST", "/api/undo", {"journal": name, "apply": True})
    check("its undo refused", answer["failed"] == 1 and answer["rows"][0]["back_to"] is None and
          answer["rows"][0]["refused"] == "outside the roots" and top not in str(answer) and
          os.path.exists(f"{root}/stolen.mkv"), answer)
    server.stop()


def races_traced(top, root, server, trace):
    server.login("anything")
    sid = server.request("POST", "/api/scans", {"root": 0, "folders": ["Season"]})[2]["scan"]
    done = []
    run = threading.Thread(target=lambda: done.append(apply(server, sid, {
        "filename": "Show.S01E0%1.720p-GRP", "output": "%1"})))
    run.start()
    while "fsync(" not in open(trace).read():
        time.sleep(0.01)
    # The first release folder becomes a link out of the root, the second's file another file.
    first, second = [f"{root}/Season/Show.S01E0{n}.720p-GRP" for n in (1, 2)]
    os.rename(first, f"{top}/held")
    os.symlink(f"{top}/outside/Show.S01E01.720p-GRP", first)
    os.rename(f"{second}/show.s01e02.mkv", f"{top}/kept")
    write(f"{second}/show.s01e02.mkv", 5)
    run.join()
    _, lines, last = done[0]
    check("a source's folder swapped for a link out of the root", lines[0]["error"] ==
          "outside the root" and os.path.getsize(
              f"{top}/outside/Show.S01E01.720p-GRP/show.s01e01.mkv") == 7, lines)
    check("a source replaced by another file", lines[1]["error"] ==
          "the file changed since the scan" and last["moved"] == 0 and
          sorted(os.listdir(f"{root}/Season")) == [os.path.basename(first),
                                                   os.path.basename(second)], (lines, last))


def far_rows(top):
    """A screen far down after new patterns: duplicates found by name, the disk asked only about
    the rows on it and those whose sidecars could share its targets."""
    root = season(top, range(1, 31))
    for name in ("Show.S01E30.720p-GRP/show.s01e30.nfo", "Show.S01E30.720p-OTHER/show.s01e30.nfo",
                 "Show.S01E30.720p-OTHER/show.s01e30.avi"):
        write(f"{root}/Season/{name}")
    trace = f"{top}/trace"
    server = Server(top, [root], wrap=["strace", "-qq", "-f", "-o", trace, "-e", "trace=%file"])
    with open(f"/proc/{server.process.pid}/task/{server.process.pid}/children") as children:
        traced = int(children.read().split()[0])
    try:
        server.login("anything")
        sid = server.request("POST", "/api/scans", {"root": 0, "folders": ["Season"]})[2]["scan"]

        def mark(name):  # a path asked about, seen in the trace once strace has written it
            server.request("GET", "/api/folders?" + query(root=0, path=name))
            for _ in range(1000):
                if name in open(trace).read():
                    break
                time.sleep(0.01)
        mark("before-the-rows")
        _, _, answer = server.request("GET", f"/api/scans/{sid}/rows?" + query(
            filename="Show.S01E%1.720p", output="%1", offset=30, limit=1, sidecars=1))
        mark("after-the-rows")
        text = open(trace).read().split("before-the-rows")[-1].split("after-the-rows")[0]
        asked = re.findall(r"S01E[0-2]\d[^/\"]*", text)
    finally:
        os.kill(traced, signal.SIGTERM)
        server.stop()
    check("the last row's sidecar a duplicate of a row far above", [
        (r["target"], r["conflict"], r["sidecars"][0]["conflict"]) for r in answer["rows"]] == [
            ("30.avi", "sidecar", "duplicate")], answer)
    check("the rows above asked nothing of the disk", not asked, sorted(set(asked))[:5])


def ahead(top):
    """A pass ahead carries the index of its own patterns to the last row, and no other's."""
    root = season(top, range(1, 31))
    server = Server(top, [root])
    server.login("anything")
    sid = server.request("POST", "/api/scans", {"root": 0, "folders": ["Season"]})[2]["scan"]

    def rows(output, **more):
        return server.request("GET", f"/api/scans/{sid}/rows?" + query(
            filename="Show.S01E%1.720p", output=output, **more))[2]
    rows("%1", offset=0, limit=5)
    far = rows("30", ahead=1)  # every row's target 30.mkv
    end = rows("%1", offset=29, limit=1)
    server.stop()
    check("a pass ahead answers no rows", far == {"total": 30, "rows": []}, far)
    check("the rows after it by their own patterns", [
        (r["target"], r["conflict"]) for r in end["rows"]] == [("30.mkv", None)], end)


def library(top):
    """A mixed download folder placed as a media library: groups, patterns, fields, links, undo."""
    root = f"{top}/media"
    releases = {"Harbour.Lights.S02E01.720p.HDTV.x264-GRP": "harbour.lights.s02e01.mkv",
                "Harbour.Lights.S02E02.720p.HDTV.x264-GRP": "harbour.lights.s02e02.mkv",
                "Other.Show.S01E01E02.720p-GRP": "other.mkv",
                "The.Quiet.Harbour.2019.1080p.BluRay.x264-GRP": "quiet.mkv",
                "Harbour.Lights.S02E03.720p-GRP": "harbour.lights.s02e03.sample.mkv",
                "Extras": "making.of.mkv"}
    for folder, name in releases.items():
        write(f"{root}/dl/{folder}/{name}")
    write(f"{root}/dl/Harbour.Lights.S02E01.720p.HDTV.x264-GRP/harbour.lights.s02e01.en.srt", 10)
    server = Server(top, [root])
    sid = server.request("POST", "/api/scans", {"root": 0, "folders": ["dl"]})[2]["scan"]
    url = f"/api/scans/{sid}/library"
    status, _, answer = server.request("POST", url, {"sidecars": True})
    shown = [(g["kind"], g["heading"], g["output"],
              [(r["folder"], r["target"], r["fields"]) for r in g["rows"]])
             for g in answer.get("groups", [])]
    episode = "%{show}/Season %{season:02}/%{show} - S%{season:02}E%{episode:02}"
    harbour = [("Harbour.Lights.S02E01.720p.HDTV.x264-GRP",
                "Harbour Lights/Season 02/Harbour Lights - S02E01.mkv",
                {"show": "Harbour Lights", "season": 2, "episode": 1}),
               ("Harbour.Lights.S02E02.720p.HDTV.x264-GRP",
                "Harbour Lights/Season 02/Harbour Lights - S02E02.mkv",
                {"show": "Harbour Lights", "season": 2, "episode": 2})]
    other = [("Other.Show.S01E01E02.720p-GRP", "Other Show/Season 01/Other Show - S01E01-E02.mkv",
              {"show": "Other Show", "season": 1, "episode": [1, 2]})]
    check("library groups", status == 200 and shown == [
        ("episodes", "Harbour Lights, season 02", episode, harbour),
        ("episodes", "Other Show, season 01", episode, other),
        ("film", "The Quiet Harbour (2019)", "%{title} (%{year})/%{title} (%{year})",
         [("The.Quiet.Harbour.2019.1080p.BluRay.x264-GRP",
           "The Quiet Harbour (2019)/The Quiet Harbour (2019).mkv",
           {"title": "The Quiet Harbour", "year": 2019})]),
        ("not recognised", "not recognised", None, [("Extras", None, {})])] and answer[
            "skipped"] == [{"folder": "Harbour.Lights.S02E03.720p-GRP", "reason": "only a sample"}]
          and answer["groups"][0]["filename"] == "Harbour.Lights.S02E0%1.720p" and
          answer["groups"][0]["rows"][0]["sidecars"][0]["target"] ==
          "Harbour Lights/Season 02/Harbour Lights - S02E01.en.srt", answer)
    ids = {r["folder"]: r["row"] for g in answer.get("groups", []) for r in g["rows"]}

    # One group's own patterns change that group alone; a malformed one is refused by name.
    key = answer["groups"][0]["key"]
    own = {key: {"filename": "Harbour.Lights.S02E0%1.720p", "output": "TV/%{show}/E%1"}}
    status, _, edited = server.request("POST", url, {"groups": own})
    check("a group's own patterns", [[r["target"] for r in g["rows"]] for g in edited["groups"]][
        :2] == [["TV/Harbour Lights/E1.mkv", "TV/Harbour Lights/E2.mkv"], [other[0][1]]], edited)
    status, _, refused = server.request("POST", url, {"groups": {key: {
        "filename": "", "output": "%{nope}"}}})
    check("a malformed group pattern", status == 400 and key in refused["error"], refused)
    check("a library in another root", server.request("POST", url, {"to": 1})[0] == 404)

    status, lines, last = apply(server, sid, {
        "library": True, "groups": own, "action": "hardlink", "sidecars": True,
        "unticked": [ids["Other.Show.S01E01E02.720p-GRP"]]})
    film = f"{root}/dl/The Quiet Harbour (2019)/The Quiet Harbour (2019).mkv"
    source = f"{root}/dl/Harbour.Lights.S02E02.720p.HDTV.x264-GRP/harbour.lights.s02e02.mkv"
    check("library applied by hard links", status == 200 and last["moved"] == 3 and
          last["failed"] == 0 and os.path.samefile(source, f"{root}/dl/TV/Harbour Lights/E2.mkv")
          and os.path.exists(f"{root}/dl/TV/Harbour Lights/E1.en.srt") and os.path.exists(film)
          and not os.path.exists(f"{root}/dl/Other Show") and
          ids["Extras"] not in lines, (lines, last, os.listdir(f"{root}/dl")))
    status, _, answer = server.request("POST", "/api/undo", {"journal": last["journal"],
                                                             "apply": True})
    check("undo of the library", status == 200 and answer["failed"] == 0 and
          sorted(os.listdir(f"{root}/dl")) == sorted(releases) and os.path.exists(source),
          (answer, os.listdir(f"{root}/dl")))
    server.stop()


def move_to(top):
    """The files go under another root chosen by id, the releases stay in theirs; undo brings
    them back across both."""
    downloads = season(top, [1, 2])
    media = f"{top}/library"  # the same file system as the downloads
    write(f"{media}/TV/Show 2.mkv")
    write(f"{downloads}/Season/TV")  # a file where the folder opened would need a folder
    other = tempfile.TemporaryDirectory(dir="/dev/shm")  # another file system, for a copy
    check("two file systems", os.stat(other.name).st_dev != os.stat(top).st_dev)
    server = Server(top, [downloads, other.name, media])

    def rows(sid, **params):
        answer = server.request("GET", f"/api/scans/{sid}/rows?" + query(
            filename="Show.S01E0%1.720p-GRP", output="TV/Show %1", **params))[2]
        return [(r["target"], r["conflict"], r["note"]) for r in answer["rows"]]

    def scan():
        return server.request("POST", "/api/scans", {"root": 0, "folders": ["Season"]})[2]["scan"]
    sid = scan()
    check("targets beneath the folder opened", rows(sid) == [
        ("TV/Show 1.mkv", "not a folder", None), ("TV/Show 2.mkv", "not a folder", None)],
          rows(sid))
    check("targets beneath the root chosen", rows(sid, to=2, action="hardlink") == [
        ("TV/Show 1.mkv", None, None), ("TV/Show 2.mkv", "exists", None)], rows(sid, to=2))
    for action, note in [("hardlink", "hard links cannot cross file systems"),
                         ("hardlink-or-copy", "copied: another file system"), ("copy", None)]:
        check(f"{action} to another file system", rows(sid, to=1, action=action) == [
            ("TV/Show 1.mkv", None, note), ("TV/Show 2.mkv", None, note)], rows(sid, to=1))
    check("no such root to move to", server.request(
        "GET", f"/api/scans/{sid}/rows?" + query(filename="x", output="y", to=3))[0] == 404)

    episode = f"{downloads}/Season/Show.S01E01.720p-GRP/show.s01e01.mkv"
    body = {"filename": "Show.S01E0%1.720p-GRP", "output": "TV/Show %1", "to": 2}
    status, lines, linked = apply(server, sid, {**body, "action": "hardlink"})
    check("hard-linked into the library", status == 200 and [
        (line["outcome"], line["how"]) for line in lines.values()] == [
            ("moved", "hard-linked"), ("failed", None)] and
          os.path.samefile(episode, f"{media}/TV/Show 1.mkv"), (lines, linked))
    undone = server.request("POST", "/api/undo", {"journal": linked["journal"], "apply": True})
    check("links undone in the other root", undone[0] == 200 and undone[2]["failed"] == 0 and
          os.listdir(f"{media}/TV") == ["Show 2.mkv"], undone)
    status, lines, moved = apply(server, scan(), {**body, "to": 1, "action": "move"})
    check("moved to another file system", status == 200 and moved["moved"] == 2 and
          [line["how"] for line in lines.values()] == ["moved", "moved"] and
          not os.path.exists(episode) and os.path.exists(f"{other.name}/TV/Show 1.mkv"),
          (lines, moved))
    undone = server.request("POST", "/api/undo", {"journal": moved["journal"], "apply": True})
    check("moves undone across roots", undone[0] == 200 and undone[2]["failed"] == 0 and
          os.path.isfile(episode) and os.listdir(other.name) == [], undone)
    server.stop()
    other.cleanup()


def garbage(top):
    root = season(top, [1, 2])
    server = Server(top, [root])
    sid = server.request("POST", "/api/scans", {"root": 0, "folders": ["Season"]})[2]["scan"]
    rng = random.Random(19)
    paths = ["/api/roots", "/api/folders", "/api/scans", f"/api/scans/{sid}/rows",
             f"/api/scans/{sid}/apply", "/api/undo", "/api/login", "/", "/%00", "/api/%2e%2e"]
    bodies = [b"", b"{", b"[]", b"null", b'{"root": "x"}', b'{"folders": [1]}',
              b'{"filename": 1}', b"\xff\xfe", json.dumps({"journal": "../x"}).encode()]
    statuses, errors = set(), []
    for n in range(1000):
        kind = n % 4
        if kind == 0:  # random bytes
            data = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 300)))
        else:
            method = rng.choice(["GET", "POST", "PUT", "G\x00T", "DELETE", "OPTIONS"])
            path = rng.choice(paths) + rng.choice(["", "?root=0&path=..", "?offset=-1&limit=x",
                                                   "?limit=99999999999", "?path=%ff"])
            body = rng.choice(bodies)
            head = f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n"
            head += rng.choice(["Content-Type: application/json\r\n", "Content-Length: 99\r\n",
                                "Content-Length: -5\r\n", "Transfer-Encoding: chunked\r\n", ""])
            data = (head + f"Content-Length: {len(body)}\r\n\r\n").encode() + body
            if kind == 3:
                data = data[:rng.randrange(len(data))]  # cut off anywhere
        try:
            with socket.create_connection(("127.0.0.1", server.port), timeout=10) as s:
                s.sendall(data)
                s.shutdown(socket.SHUT_WR)
                answer = s.recv(64)
                if answer.startswith(b"HTTP/1.1 "):
                    statuses.add(int(answer[9:12]))
        except OSError as error:
            errors.append(repr(error))
    check("garbage answered or closed, never reset", not errors, errors[:3])
    status, _, roots = server.request("GET", "/api/roots")
    check("garbage answered without a server error", statuses and max(statuses) < 500, statuses)
    check("roots after a thousand malformed requests", status == 200 and roots == [
        {"id": 0, "path": root}], roots)
    check("the tree after them", os.path.exists(
        f"{root}/Season/Show.S01E01.720p-GRP/show.s01e01.mkv"))
    code, _ = server.stop()
    check("stops on SIGTERM", code == 0, code)


def newcomer(top):
    """What a newcomer's season holds beside its episodes."""
    root = season(top, [1, 2])
    write(f"{root}/Season/Show.S01E01.720p-GRP/show.s01e01.nfo")
    write(f"{root}/Season/Show.S01E01.720p-GRP/Subs/English.srt")
    extras = season(f"{top}/extras", [2, 3, 4])
    os.remove(f"{extras}/Season/Show.S01E03.720p-GRP/show.s01e03.mkv")
    for spoiler in ["Show.S01E03.720p-GRP/show.s01e03-sample.mkv", "Sample/show.s01e04.mkv",
                    "Show.S01E02.720p-GRP/Subs/English.srt", "Show.S01E02.720p-GRP/Sample/s.mkv",
                    "Show - S01E01.mkv",
                    "Show.S01.Extras/readme.txt", "Behind.The.Scenes/interview.mkv"]:
        write(f"{extras}/Season/{spoiler}", 5000)
    server = Server(top, [root, extras])
    server.login()
    _, _, scan = server.request("POST", "/api/scans", {"root": 0, "folders": ["Season"]})
    # A name typed without the extension: the sidecars take it whole, nothing cut.
    status, lines, last = apply(server, scan["scan"], {
        "filename": "x", "output": "y", "sidecars": True, "unticked": [1],
        "targets": {"0": "Show - The Storm"}})
    check("sidecars of a name typed without extension", sorted(os.listdir(f"{root}/Season")) == [
        "Show - The Storm", "Show - The Storm.English.srt", "Show - The Storm.nfo",
        "Show.S01E01.720p-GRP", "Show.S01E02.720p-GRP"], (lines, os.listdir(f"{root}/Season")))

    # Rows that cannot be episodes of the batch are named with their reason, and the pattern is
    # suggested from the others.
    _, _, scan = server.request("POST", "/api/scans", {"root": 1, "folders": ["Season"]})
    check("rows left out of the batch", scan["suggestion"]["filename"] == "Show.S01E0%1.720p" and
          sorted((r["folder"], r["reason"]) for r in scan["left_out"]) == [
              ("Behind.The.Scenes", "unlike the others"), ("Sample", "a sample"),
              ("Show.S01.Extras", "not a video"), ("Show.S01E03.720p-GRP", "a sample")], scan)

    # A folder that holds a video, beside Subs and Sample, looks like one release; a season that
    # holds an episode moved out of its release folder does not. Chosen as one release, it is
    # one, not its Subs folder.
    one = "Season/Show.S01E02.720p-GRP"
    listed = [server.request("GET", "/api/folders?" + query(root=1, path=path))[2]["release"]
              for path in [one, "Season"]]
    check("a release folder and a season told apart", listed == [True, False], listed)
    for release, files in [(True, ["show.s01e02.mkv"]), (False, ["s.mkv", "English.srt"])]:
        _, _, scan = server.request("POST", "/api/scans", {"root": 1, "folders": [one],
                                                           "release": release})
        _, _, rows = server.request("GET", f"/api/scans/{scan['scan']}/rows?" + query(
            filename="x", output="y"))
        check(f"one folder, release {release}", [r["file"] for r in rows["rows"]] == files, rows)
    server.stop()


for case in [security_table, every_address, session_flow, ahead, library, move_to, tls,
             settings_and_times, two_clients, races, far_rows, garbage, newcomer]:
    with tempfile.TemporaryDirectory() as folder:
        started = time.monotonic()
        try:
            case(folder)
        except Exception as error:  # one broken case must not hide the others' results
            check(case.__name__, False, repr(error))
        for process in running:
            process.kill()
        running.clear()
        print(f"{case.__name__}: {time.monotonic() - started:.1f} s")
print(f"{results['passed']} passed, {results['failed']} failed")
sys.exit(1 if results["failed"] else 0)
