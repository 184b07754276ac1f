#!/usr/bin/python3
# The runner's JSON, metrics and values over HTTP on a virtual meter line: /metrics parsed by
# Prometheus' own text parser with its counters checked against the statistics the runner prints
# at the end; PUT /api/values/TAG with and without the token, and its value on the meter.
# Usage: web_api_test.py BIN_DIR
import os
import re
import sys
import tempfile
import time

from prometheus_client.parser import text_string_to_metric_families

from web_lib import Road, wait_until

TOKEN = "s3cret-token.42"


def samples(text):
    """{(name, frozenset of labels): value} of every sample."""
    found = {}
    for family in text_string_to_metric_families(text):
        for s in family.samples:
            found[(s.name, frozenset(s.labels.items()))] = s.value
    return found


def station(number, name):
    return frozenset({"line": "road", "station": name, "number": str(number)}.items())


def main():
    token_dir = tempfile.mkdtemp(prefix="veldrane-token.")
    token = os.path.join(token_dir, "token")
    with open(token, "w") as f:
        f.write(TOKEN + "\n")
    os.chmod(token, 0o600)
    road = Road(sys.argv[1], extra=["--http-token", token])
    os.unlink(token)
    os.rmdir(token_dir)
    try:
        road.road_values()
        bearer = {"Authorization": "Bearer " + TOKEN}
        # (headers, path, body, expected status)
        cases = [
            ({}, "/api/values/T2", b"42", 401),
            ({"Authorization": "Bearer wrong"}, "/api/values/T2", b"42", 401),
            ({"Authorization": "Bearer " + TOKEN + "x"}, "/api/values/T2", b"42", 401),
            ({"Authorization": "Bearer " + TOKEN[:-1]}, "/api/values/T2", b"42", 401),
            ({"Authorization": "Basic " + TOKEN}, "/api/values/T2", b"42", 401),
            (bearer, "/api/values/T2", b"many", 400),
            (bearer, "/api/values/NOSUCH", b"1", 404),
            (bearer, "/api/values/T2", b"nan", 422),
            (bearer, "/api/values/T2", b"x" * 5000, 413),
            (bearer, "/api/values/T2", b'{"value": 42, "unit": "m3/h"}', 200),
        ]
        for headers, path, body, expected in cases:
            status, answer, text = road.get(path, headers=headers, method="PUT", data=body)
            if status != expected:
                road.fail("PUT %s %r %s: %d %s, expected %d" % (path, body[:20], headers, status,
                                                               text, expected))
            if status == 401 and "Bearer" not in answer.get("WWW-Authenticate", ""):
                road.fail("401 without WWW-Authenticate: Bearer")
        status, _, _ = road.get("/api/values/T2")
        if status != 405:
            road.fail("GET on a value answered %d, expected 405" % status)
        if not wait_until(lambda: road.shows().get(3) == "42", 10):
            road.fail("the meter of T2 did not show 42 set over HTTP: %s" % road.shows())

        # Every answer: only the runner's own origin, no guessing of types; live data never cached.
        for path, cache in (("/", "no-cache"), ("/app.js", "no-cache"), ("/api/status", "no-store"),
                            ("/metrics", "no-store"), ("/api/values/T2", "no-store")):
            _, headers, _ = road.get(path)
            csp = headers.get("Content-Security-Policy", "")
            if ("default-src 'self'" not in csp or headers.get("X-Content-Type-Options") != "nosniff"
                    or headers.get("Cache-Control") != cache):
                road.fail("%s: headers %s" % (path, headers))
        if not road.get("/metrics")[1]["Content-Type"].startswith("text/plain; version=0.0.4"):
            road.fail("/metrics is not of the text exposition format's type")

        # The JSON: station objects shaped as the MQTT status topics', then the page's members.
        status = road.json("/api/status")
        first = status["lines"][0]["stations"][0]
        if list(first)[:7] != ["state", "sent", "failed", "value", "station", "number", "tag"]:
            road.fail("a station's object is not shaped as the status topic's: %s" % first)
        events = road.json("/api/events")["events"]
        if not events or events[0]["sequence"] < events[-1]["sequence"]:
            road.fail("/api/events is not the event log newest first: %s" % events[:3])

        # The counters, once the line is quiet, against the runner's own statistics at the end.
        def quiet():
            a = road.get("/metrics")[2].decode()
            time.sleep(1.5)
            b = road.get("/metrics")[2].decode()
            sa, sb = samples(a), samples(b)
            counters = [k for k in sa if k[0].startswith("veldrane_station_frames")]
            return sb if counters and all(sa[k] == sb.get(k) for k in counters) else None
        metrics = wait_until(quiet, 20, 0)
        if not metrics:
            road.fail("the frame counters did not settle")
        output = road.stop()
        rows = re.findall(r"^\d+\s+(K\d)\s+\S+(?: \S+)?\s+(\d+)\s+T\d.*?\s(\d+)\s+(\d+)\s+(\w+)$",
                          output, re.M)
        if len(rows) != 7:
            road.fail("expected 7 stations in the statistics, found %s" % rows)
        for name, number, sent, failed, state in rows:
            labels = station(number, name)
            got = (metrics.get(("veldrane_station_frames_sent_total", labels)),
                   metrics.get(("veldrane_station_frames_failed_total", labels)),
                   metrics.get(("veldrane_station_state", labels | {("state", state.lower())})))
            if got != (int(sent), int(failed), 1):
                road.fail("%s: metrics %s, statistics sent %s failed %s %s" % (
                    name, got, sent, failed, state))
        total = re.search(r"^total: (\d+) frames sent, (\d+) failed", output, re.M)
        line = frozenset({"line": "road", "port": "COM1"}.items())
        if (metrics.get(("veldrane_line_frames_sent_total", line)),
                metrics.get(("veldrane_line_frames_failed_total", line))) != \
                (int(total.group(1)), int(total.group(2))):
            road.fail("line totals differ from the statistics: %s" % total.group(0))
        inputs = {k[1]: v for k, v in metrics.items() if k[0] == "veldrane_input_values_total"}
        # The road's 14 value lines (road_values) and the one PUT that was taken.
        expected = {frozenset({("input", "values")}): 14, frozenset({("input", "http")}): 1}
        if inputs != expected:
            road.fail("values by input %s, expected %s" % (inputs, expected))
        refused = metrics.get(("veldrane_input_refused_total", frozenset({("input", "http")})))
        if refused != 3:
            road.fail("the http input refused %s values, expected 3 (bad, unknown tag, NaN)"
                      % refused)
        for name in ("process_resident_memory_bytes", "process_cpu_seconds_total",
                     "process_open_fds", "process_start_time_seconds"):
            if metrics.get((name, frozenset())) is None:
                road.fail("no %s in the metrics" % name)
        print("web_api: tokens, values over HTTP, JSON and %d samples checked" % len(metrics))
    finally:
        road.close()


if __name__ == "__main__":
    main()
