#!/usr/bin/python3
# Makes the README's pictures of the live page: the demo's line (examples/demo.cfg) with
# simulated values on a virtual meter, in headless Chromium at a desktop's and a phone's width.
# Usage: docs/screenshots/make-web-screenshots.py [BUILD-DIR]   (default build/debug)
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
bin_dir = os.path.join(root, sys.argv[1] if len(sys.argv) > 1 else "build/debug", "bin")
out_dir = os.path.join(root, "docs", "screenshots")
tmp = tempfile.mkdtemp(prefix="veldrane-shots.")
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
os.mkdir(os.path.join(tmp, "ports"))
cfg = os.path.join(tmp, "demo.cfg")
shutil.copy(os.path.join(root, "examples", "demo.cfg"), cfg)
link = os.path.join(tmp, "ports", "com1")
meter = subprocess.Popen([os.path.join(bin_dir, "veldrane-meter"), "--pty", "--link", link,
                          "--config", cfg, "--plain", "--seconds", "120"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
for _ in range(50):
    if os.path.exists(link):
        break
    time.sleep(0.1)
host = subprocess.Popen([os.path.join(bin_dir, "veldrane-host"), "run", cfg, "--simulate",
                         "--plain", "--seconds", "120", "--http", "127.0.0.1:%d" % port],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                        env=dict(os.environ, VELDRANE_PORTS=os.path.join(tmp, "ports")))
driver = None
try:
    options = webdriver.ChromeOptions()
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--hide-scrollbars",
                "--force-device-scale-factor=1"):
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    # The demo drives one station out of its meter's range after a few seconds: wait for it.
    time.sleep(14)
    for name, width, height in (("web-page.png", 1200, 980), ("web-page-phone.png", 390, 1400)):
        driver.set_window_size(width, height)
        driver.get("http://127.0.0.1:%d/" % port)
        time.sleep(2)
        driver.save_screenshot(os.path.join(out_dir, name))
        print(os.path.join("docs", "screenshots", name))
finally:
    if driver:
        driver.quit()
    for p in (host, meter):
        p.send_signal(signal.SIGINT)
        p.wait(10)
    shutil.rmtree(tmp, ignore_errors=True)
