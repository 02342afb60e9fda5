#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# move-rename-web against hostile clients on loopback, none with a session: each attack bounded
# in bytes and seconds, the server capped at 1 GiB of address space. After each, the server still
# runs, answers, and holds no more than 16 MB more than before. Prints each row's figures.
# Usage: web_attack_test.py SERVER
import concurrent.futures
import gzip
import http.client
import os
import re
import select
import socket
import subprocess
import sys
import tempfile
import threading
import time

SERVER = sys.argv[1]
PASSWORD = "correct horse"
MB = 1 << 20
failures = []


def check(tag, ok, detail=""):
    print(f"{'ok  ' if ok else 'FAIL'} {tag}: {detail}")
    if not ok:
        failures.append(tag)


class Server:
    def __init__(self, top, conf=""):
        self.env = dict(os.environ, XDG_CONFIG_HOME=f"{top}/config", XDG_STATE_HOME=f"{top}/state")
        os.makedirs(f"{top}/root")
        subprocess.run([SERVER, "--set-password"], input=PASSWORD.encode(), env=self.env,
                       check=True, capture_output=True)
        with open(f"{top}/config/move-rename/web.conf", "a") as settings:
            settings.write(conf)
        self.process = subprocess.Popen(
            ["prlimit", "--as=1073741824", SERVER, "--listen", "127.0.0.1:0", "--root",
             f"{top}/root"], env=self.env, stderr=subprocess.PIPE, text=True, errors="replace")
        self.port = int(self.process.stderr.readline().rsplit(":", 1)[1].strip("/\n"))
        self.log = []
        threading.Thread(target=lambda: self.log.extend(self.process.stderr), daemon=True).start()

    def memory(self, field="VmRSS"):
        """The server's resident (or peak resident) memory in MB, 0 once it is gone."""
        try:
            with open(f"/proc/{self.process.pid}/status") as status:
                return next(int(line.split()[1]) for line in status if line.startswith(field)) >> 10
        except (OSError, StopIteration):
            return 0

    def request(self, method, path, body=None, headers=None, source="127.0.0.1", timeout=10):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout,
                                          source_address=(source, 0))
        conn.request(method, path, body, {"Content-Type": "application/json", **(headers or {})})
        response = conn.getresponse()
        data = response.read(2 * MB)
        conn.close()
        return response.status, response, data

    def login(self, password, source="127.0.0.1", headers=None):
        try:
            return self.request("POST", "/api/login", f'{{"password": "{password}"}}', headers,
                                source, timeout=60)[0]
        except OSError:
            return "closed"

    def connect(self, source="127.0.0.1"):
        return socket.create_connection(("127.0.0.1", self.port), timeout=10,
                                        source_address=(source, 0))


def flood(server, head, piece, limit=32 * MB, seconds=15):
    """Sends head, then piece again and again until the server answers or closes, or limit bytes
    or seconds pass: (bytes sent, the first bytes that came back, None when nothing did)."""
    s = server.connect()
    s.sendall(head)
    sent, answer, deadline = 0, None, time.monotonic() + seconds
    while answer is None and sent < limit and time.monotonic() < deadline:
        readable, writable, _ = select.select([s], [s], [], 1)
        try:
            if readable:
                answer = s.recv(100)
            elif writable:
                sent += s.send(piece)
        except OSError:
            answer = b""
    s.close()
    return sent, answer


def streams(server):
    post = b"POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
    chunk = b"4000\r\n" + b"a" * 0x4000 + b"\r\n"
    # tag, head, piece repeated, the status wanted (None: closed will do)
    rows = [("a header line with no end", b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX: ",
             b"a" * 16384, b"431"),
            ("a request line with no end", b"GET /", b"a" * 16384, b"431"),
            ("many small headers", b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n", b"X-a: b\r\n" * 2048,
             b"431"),
            ("a chunked body of 1 GB", post + b"Transfer-Encoding: chunked\r\n\r\n", chunk, b"413"),
            ("a chunk size of -2", post + b"Transfer-Encoding: chunked\r\n\r\n-2\r\n", b"a" * 16384,
             b"400"),
            ("a body with no length", post + b"\r\n", b"a" * 16384, b"411")]
    for tag, head, piece, wanted in rows:
        before, started = server.memory(), time.monotonic()
        sent, answer = flood(server, head, piece)
        seconds, after = time.monotonic() - started, server.memory()
        check(tag, answer is not None and (answer == b"" or answer[9:12] == wanted) and
              sent < 16 * MB and after - before <= 16 and server.process.poll() is None,
              f"refused after {sent / MB:.2f} MB in {seconds:.2f} s with {answer[:12]!r}, "
              f"{before} -> {after} MB" if answer is not None else
              f"no answer after {sent / MB:.0f} MB in {seconds:.1f} s, {before} -> {after} MB, "
              f"running: {server.process.poll() is None}")


def codings(server):
    # Ten megabytes of JSON, gzipped to some ten kilobytes.
    packed = gzip.compress(b'{"password": "' + b"a" * (10 * MB) + b'"}')
    status, response, _ = server.request("POST", "/api/login", packed, {"Content-Encoding": "gzip"})
    internal = [h for h, _ in response.getheaders() if h.lower().startswith("exception")]
    check("a gzip body", status == 415 and not internal, f"{status} {internal}")
    status = server.request("GET", "/", headers={f"X-{n}": "a" for n in range(101)})[0]
    check("101 header fields", status == 431, status)

    whole = server.request("GET", "/page.js")[2]
    ranges = "bytes=" + ",".join(["0-"] * 2700)  # some 8 KB of ranges
    status, response, data = server.request("GET", "/page.js", headers={"Range": ranges})
    check("Range", status == 200 and data == whole, f"{status} {len(data)} of {len(whole)} bytes")
    # Twelve such requests whose answers are not read.
    before = server.memory()
    idle = [server.connect() for _ in range(12)]
    for s in idle:
        s.sendall(f"GET /page.js HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: {ranges}\r\n\r\n".encode())
    time.sleep(1)
    after = server.memory()
    check("Range unread by twelve", after - before <= 16 and server.process.poll() is None,
          f"{before} -> {after} MB")
    for s in idle:
        s.close()


def slow(server):
    addresses = [f"127.0.1.{n}" for n in range(1, 6)]  # 16 connections from each of these
    trickling = [server.connect(addresses[0]) for _ in range(16)]
    idle = [server.connect(a) for a in addresses[1:] for _ in range(16)]
    over = server.connect(addresses[1])  # a 17th from one address
    over.settimeout(2)
    try:
        refused = over.recv(1) == b""
    except OSError as error:
        refused = not isinstance(error, socket.timeout)
    check("a 17th connection from one address", refused)
    for s in trickling:
        s.sendall(b"G")
    started = time.monotonic()
    answered, cut_off = [], []

    def normal():
        try:
            answered.append(server.request("GET", "/", timeout=10)[0])
        except OSError as error:
            answered.append(repr(error))
        answered.append(time.monotonic() - started)
    threading.Thread(target=normal, daemon=True).start()
    while time.monotonic() - started < 14 and len(cut_off) < len(trickling):
        for s in list(trickling):  # one byte a second each
            try:
                s.sendall(b"E")
            except OSError:
                cut_off.append(time.monotonic() - started)
                trickling.remove(s)
        time.sleep(1)
    check("a request beside 16 trickling and 64 idle", answered[:1] == [200] and answered[1] < 2,
          f"{answered[0]} after {answered[1]:.2f} s" if answered else "no answer in 14 s")
    check("trickling cut off", len(cut_off) == 16 and max(cut_off) < 14,
          f"{len(cut_off)} of 16 cut off within {max(cut_off or [0]):.1f} s")
    for s in trickling + idle + [over]:
        s.close()


def logins(server):
    with concurrent.futures.ThreadPoolExecutor(100) as pool:
        statuses = list(pool.map(lambda _: server.login("wrong", "127.0.0.7"), range(40)))
    # Those over 16 connections from one address are closed at once.
    check("40 wrong passwords at once from one address", statuses.count(401) == 5 and
          statuses.count(429) + statuses.count("closed") == 35,
          f"{statuses.count(401)} hashed, {statuses.count(429)} refused, "
          f"{statuses.count('closed')} closed")

    def attacker(n):  # tries again while the server is busy, for at most 20 s
        while (status := server.login("wrong", f"127.0.1.{20 + n % 8}")) == 503 and \
                time.monotonic() < started + 20:
            pass
        return status

    before, started = server.memory(), time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(40) as pool:
        flood = pool.map(attacker, range(40))
        time.sleep(0.3)
        asked = time.monotonic()
        page = server.request("GET", "/")[0], time.monotonic() - asked
        # A newcomer waits for one hash of each address ahead of it (a fifth of the flood's
        # time), not for the whole flood.
        asked = time.monotonic()
        right = server.login(PASSWORD, "127.0.1.99"), time.monotonic() - asked
        statuses = list(flood)
    seconds, peak = time.monotonic() - started, server.memory("VmHWM")
    counts = {s: statuses.count(s) for s in set(statuses)}
    check("40 wrong passwords from 8 addresses, a newcomer among them",
          seconds < 30 and peak - before < 200 and set(counts) <= {401, 429} and
          right[0] == 204 and right[1] < seconds / 2 and page[0] == 200 and page[1] < 1,
          f"{counts} in {seconds:.1f} s, peak {peak} MB from {before}, the page meanwhile "
          f"{page[0]} in {page[1]:.2f} s, the newcomer's right password {right[0]} in "
          f"{right[1]:.1f} s")


def proxy(server):
    forwarded = [server.login("wrong", headers={"X-Forwarded-For": "10.0.0.1"})
                 for _ in range(6)]
    others = server.login(PASSWORD, headers={"X-Forwarded-For": "198.51.100.7, 10.0.0.2"})
    # From an address that is not the proxy, a forwarded address is not believed.
    forged = [server.login("wrong", "127.0.0.5", {"X-Forwarded-For": f"10.0.1.{n}"})
              for n in range(6)]
    check("behind a reverse proxy", forwarded == [401] * 5 + [429] and others == 204 and
          forged == [401] * 5 + [429], f"{forwarded} then {others}; forged {forged}")


def logged(server):
    server.request("GET", "/nothing%0aGET%20/forged%20200%201%20ms")
    flood(server, b"GET /long HTTP/1.1\r\nHost: 127.0.0.1\r\nX: ", b"a" * 16384)
    time.sleep(0.5)
    lines = "".join(server.log).splitlines()[-2:]
    check("log lines", len(lines) == 2 and all(
        re.fullmatch(r"[A-Z]+ /\S* \d{3} \d{1,5} ms", line) for line in lines) and
        any(line.startswith("GET /long 431") for line in lines), lines)


# Each case on a server of its own, so that one that fells the server does not hide the others.
for case, conf in [(streams, ""), (codings, ""), (slow, ""), (logins, ""), (logged, ""),
                   (proxy, "trusted_proxy = 127.0.0.1\n")]:
    with tempfile.TemporaryDirectory() as folder:
        started = time.monotonic()
        server = None
        try:
            server = Server(folder, conf)
            case(server)
            check(f"{case.__name__}: the server still runs and answers",
                  server.process.poll() is None and server.request("GET", "/")[0] == 200,
                  f"exit status {server.process.poll()}")
        except Exception as error:  # one broken case must not hide the others' results
            check(case.__name__, False, repr(error))
        print(f"{case.__name__}: {time.monotonic() - started:.1f} s, server at "
              f"{server and server.memory()} MB")
        if server:
            server.process.kill()
print(f"{len(failures)} failed: {failures}" if failures else "all passed")
sys.exit(1 if failures else 0)
