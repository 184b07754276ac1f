# A runner with a web server on a virtual meter line, for the web page's tests: the road's seven
# stations (one of each meter kind, road_stations.txt), veldrane-meter on a pseudo-terminal as
# COM1, veldrane-host reading values from a FIFO and serving on a free loopback port.
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(check, seconds, step=0.1):
    """check() until it gives something true, at most `seconds`; returns it, or None."""
    end = time.monotonic() + seconds
    while True:
        got = check()
        if got:
            return got
        if time.monotonic() >= end:
            return None
        time.sleep(step)


class Road:
    def __init__(self, bin_dir, extra=(), seconds=120):
        self.bin = bin_dir
        self.tmp = tempfile.mkdtemp(prefix="veldrane-web.")
        self.port = free_port()
        self.origin = "http://127.0.0.1:%d" % self.port
        os.mkdir(os.path.join(self.tmp, "ports"))
        self.cfg = os.path.join(self.tmp, "road.cfg")
        subprocess.run([os.path.join(bin_dir, "veldrane-cfg"), "new", self.cfg], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(HERE, "road_stations.txt"), "rb") as stations:
            subprocess.run([os.path.join(bin_dir, "veldrane-cfg"), "import", self.cfg],
                           stdin=stations, check=True, stdout=subprocess.DEVNULL)
        self.meter = None
        self.start_meter()
        self.fifo = os.path.join(self.tmp, "values")
        os.mkfifo(self.fifo)
        # Held open for writing all along, so that the runner never sees the end of its input.
        self.writer = os.open(self.fifo, os.O_RDWR)
        env = dict(os.environ, VELDRANE_PORTS=os.path.join(self.tmp, "ports"))
        self.host_out = open(os.path.join(self.tmp, "host.out"), "wb")
        self.host = subprocess.Popen(
            [os.path.join(bin_dir, "veldrane-host"), "run", self.cfg, "--values", self.fifo,
             "--plain", "--seconds", str(seconds), "--http", "127.0.0.1:%d" % self.port]
            + list(extra), stdout=self.host_out, stderr=subprocess.STDOUT, env=env)
        if not wait_until(lambda: self.get("/healthz", quiet=True), 10):
            self.fail("the runner's web server did not answer /healthz within 10 s")

    def start_meter(self):
        link = os.path.join(self.tmp, "ports", "com1")
        self.meter_out = os.path.join(self.tmp, "meter.out")
        self.meter = subprocess.Popen(
            [os.path.join(self.bin, "veldrane-meter"), "--pty", "--link", link, "--config",
             self.cfg, "--plain", "--seconds", "300"],
            stdout=open(self.meter_out, "wb"), stderr=subprocess.STDOUT)
        if not wait_until(lambda: os.path.exists(link), 5):
            self.fail("the virtual meter did not link its pseudo-terminal")

    def stop_meter(self):
        self.meter.send_signal(signal.SIGINT)
        self.meter.wait(10)

    def road_values(self):
        """Gives the road's values once the line carries frames (the meter may miss the frames
        of the line's first moments), so that each meter must show ROAD_SHOWS."""
        self.values("".join("T%d %d\n" % (i, i + 1) for i in range(7)))
        if not wait_until(lambda: self.shows(), 15):
            self.fail("the meter decoded no frame within 15 s")
        self.values(self.ROAD_VALUES)

    def values(self, text):
        os.write(self.writer, text.encode())

    def shows(self):
        """The last text each station's meter showed: {station number: text}."""
        found = {}
        with open(self.meter_out, encoding="utf-8", errors="replace") as out:
            for line in out:
                m = re.search(r"station=(\d+) kind=\d+ shows=(\S*)", line)
                if m:
                    found[int(m.group(1))] = m.group(2)
        return found

    def get(self, path, headers=None, method="GET", data=None, quiet=False):
        request = urllib.request.Request(self.origin + path, headers=headers or {},
                                         method=method, data=data)
        try:
            with urllib.request.urlopen(request, timeout=5) as response:
                return response.status, dict(response.headers), response.read()
        except urllib.error.HTTPError as e:
            return e.code, dict(e.headers), e.read()
        except OSError:
            if quiet:
                return None
            raise

    def json(self, path):
        status, _, body = self.get(path)
        assert status == 200, (path, status, body)
        return json.loads(body)

    def stop(self):
        """Stops the runner as Ctrl-C does; its output."""
        self.host.send_signal(signal.SIGINT)
        self.host.wait(10)
        return self.output()

    def output(self):
        self.host_out.flush()
        with open(os.path.join(self.tmp, "host.out"), encoding="utf-8", errors="replace") as f:
            return f.read()

    def fail(self, message):
        report = "FAIL: " + message + "\n--- host\n" + self.output()
        if os.path.exists(self.meter_out):
            with open(self.meter_out, encoding="utf-8", errors="replace") as f:
                report += "--- meter (last lines)\n" + "".join(f.readlines()[-20:])
        self.close()
        raise SystemExit(report)

    def close(self):
        for p in (self.host, self.meter):
            if p and p.poll() is None:
                p.kill()
                p.wait()
        if self.writer is not None:
            os.close(self.writer)
            self.writer = None
        shutil.rmtree(self.tmp, ignore_errors=True)

    # The values of host_meter_road_test.sh and what each meter must show for them.
    ROAD_VALUES = "T0 12.25\nT1 -3.125\nT2 -123.5\nT3 45.6\nT4 70000\nT5 -1999\nT6 999999\n"
    ROAD_SHOWS = {1: "12.3", 2: "-3.13", 3: "-124", 12: "45.6", 100: "4464", 200: "-1999",
                  255: "999999"}
