#!/usr/bin/python3
# Hostile HTTP against the runner's web server, on loopback only: 1,000 connections that never
# finish their headers, a 10 MB header, a body larger than allowed, 200 event streams that never
# read, PUTs with wrong tokens. Meanwhile a normal client from another address is answered
# within a second, the runner's memory stays bounded, and only the bounded requests are refused.
# The attackers come from 127.0.0.2 to 127.0.0.5, as from other hosts: the limits per address
# keep one client from taking the server from the others.
# Usage: web_hostile_test.py BIN_DIR
import os
import resource
import socket
import sys
import tempfile
import time

from web_lib import Road


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def memory_bound_kib(pid):
    """64 MB; a sanitizer's shadow memory grows with what the runner touches, so four times that
    under one (the runner's maps name the sanitizer's run-time library)."""
    with open("/proc/%d/maps" % pid) as f:
        sanitized = any("libtsan" in line or "libasan" in line for line in f)
    return (256 if sanitized else 64) * 1024


def connect(road, source):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind((source, 0))
    s.settimeout(5)
    s.connect(("127.0.0.1", road.port))
    return s


def answer_of(s):
    """The status code of the answer on `s`, or None when the server closed without one."""
    try:
        head = s.recv(64)
    except OSError:
        return None
    return int(head.split()[1]) if head.startswith(b"HTTP/1.1 ") else None


def main():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 4096), hard))
    token_dir = tempfile.mkdtemp(prefix="veldrane-token.")
    token = os.path.join(token_dir, "token")
    with open(token, "w") as f:
        f.write("right-token\n")
    os.chmod(token, 0o600)
    road = Road(sys.argv[1], extra=["--http-token", token])
    held = []

    def normal_client(what):
        start = time.monotonic()
        status, _, body = road.get("/api/status")
        took = time.monotonic() - start
        if status != 200 or took > 1.0:
            road.fail("%s: a normal client got %s after %.2f s" % (what, status, took))
        return took

    try:
        road.road_values()
        normal_client("at the start")
        rss_before = rss_kib(road.host.pid)

        # 1,000 connections that never finish their headers.
        for _ in range(1000):
            try:
                s = connect(road, "127.0.0.2")
                s.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ")
                held.append(s)
            except OSError:
                pass  # refused: over the limit of one address
        normal_client("beside 1,000 unfinished requests")

        # A 10 MB header: refused once it outgrows the connection's memory.
        s = connect(road, "127.0.0.3")
        try:
            s.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Big: " + b"a" * (10 << 20))
        except OSError:
            pass  # the server closed it while it was being sent
        code = answer_of(s)
        if code not in (None, 413, 431):
            road.fail("a 10 MB header was answered %s" % code)
        s.close()
        normal_client("after a 10 MB header")

        # A body larger than allowed: 413 before it is read.
        s = connect(road, "127.0.0.3")
        s.sendall(b"PUT /api/values/T1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                  b"Authorization: Bearer right-token\r\nContent-Length: 100000000\r\n\r\n" +
                  b"1" * 65536)
        if answer_of(s) != 413:
            road.fail("an oversized body was not answered 413")
        s.close()

        # 200 event streams that never read.
        for _ in range(200):
            try:
                s = connect(road, "127.0.0.4")
                s.sendall(b"GET /api/stream HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                held.append(s)
            except OSError:
                pass
        normal_client("beside 200 streams that never read")

        # Wrong tokens: each refused, and the right one still works.
        for i in range(50):
            status, _, _ = road.get("/api/values/T1", method="PUT", data=b"1",
                                    headers={"Authorization": "Bearer wrong-%d" % i})
            if status != 401:
                road.fail("a wrong token was answered %d" % status)
        status, _, _ = road.get("/api/values/T1", method="PUT", data=b"2",
                                headers={"Authorization": "Bearer right-token"})
        if status != 200:
            road.fail("the right token was answered %d under attack" % status)

        # A while under all of it: still answered, memory bounded.
        for _ in range(5):
            road.values("T0 %d\n" % int(time.monotonic()))
            time.sleep(1)
            normal_client("under attack")
        grown = rss_kib(road.host.pid) - rss_before
        if grown > memory_bound_kib(road.host.pid):
            road.fail("the runner grew by %d KiB under attack" % grown)
        print("web_hostile: answered within a second throughout; memory grew %d KiB" % grown)
    finally:
        for s in held:
            s.close()
        road.close()
        os.unlink(token)
        os.rmdir(token_dir)


if __name__ == "__main__":
    main()
