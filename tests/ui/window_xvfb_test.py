#!/usr/bin/env python3
"""The configuration window as a user meets it on a real X display (run under xvfb-run with -ac),
driven by key presses through the XTEST extension: veldrane-host configure on a file that the
user may not write, copied stations that outlive the window, a paste with a character that code
page 949 lacks, and a damaged file.

Usage: window_xvfb_test.py VELDRANE-HOST VELDRANE-CFG CLIPKEEPER DEMO-CFG
"""
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import time

HOST, CFG, KEEPER, DEMO = sys.argv[1:5]
BOUND = 15  # seconds any one step may take

x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
xtst = ctypes.cdll.LoadLibrary("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XFlush.argtypes = [ctypes.c_void_p]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
display = x11.XOpenDisplay(None)
assert display, "no X display"

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def keys(*names):
    for name in names:
        code = x11.XKeysymToKeycode(display, x11.XStringToKeysym(name.encode()))
        xtst.XTestFakeKeyEvent(display, code, 1, 0)
        xtst.XTestFakeKeyEvent(display, code, 0, 0)
        x11.XFlush(display)
        time.sleep(0.25)


def windows():
    """How many top-level windows carry the window's caption (the window and its boxes)."""
    tree = subprocess.run(["xwininfo", "-root", "-children"], capture_output=True, text=True).stdout
    return tree.count('"Veldrane')


def wait_windows(count):
    end = time.time() + BOUND
    while time.time() < end:
        if windows() == count:
            time.sleep(0.5)  # mapped and given the focus
            return True
    return False


def start(config, as_nobody=False):
    command = [HOST, "configure", config]
    if as_nobody:
        command = NOBODY + command
    env = dict(os.environ, QT_QPA_PLATFORM="xcb")
    return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                            text=True)


def finish(process):
    try:
        out, err = process.communicate(timeout=BOUND)
    except subprocess.TimeoutExpired:
        process.kill()
        out, err = process.communicate()
        check(False, "the window was still open: " + err)
    return process.returncode, out, err


def read(path):
    with open(path, "rb") as f:
        return f.read()


def xclip_out():
    return subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True,
                          timeout=BOUND).stdout


def keepers():
    found = []
    for pid in os.listdir("/proc"):
        try:
            if pid.isdigit() and os.readlink("/proc/%s/exe" % pid) == os.path.realpath(KEEPER):
                found.append(pid)
        except OSError:
            pass
    return found


NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
if subprocess.run(NOBODY + [HOST, "--help"], capture_output=True).returncode != 0:
    # A build in a folder that other users may not enter (a home folder, say).
    print("skipped: the user nobody cannot run " + HOST)
    sys.exit(77)

work = tempfile.mkdtemp()
os.chmod(work, 0o755)
try:
    # 1. A user who may not write the configuration: the file read-only to them, or the folder
    # (a save makes its new file beside the old one). Save (Tab from the tabs to the tree, then
    # past add, copy and paste to save; Enter on the focused button), close the box, leave.
    for case, file_mode, folder_mode, cause in [
        ("a read-only file", 0o644, 0o777, "the file is read-only for this user"),
        ("a folder the user may not write", 0o666, 0o755, "write permission on the folder"),
    ]:
        folder = os.path.join(work, case.replace(" ", "-"))
        os.mkdir(folder)
        config = os.path.join(folder, "\ub77c\uc778" "1.cfg")  # 라인1.cfg
        shutil.copy(DEMO, config)
        os.chmod(config, file_mode)
        os.chmod(folder, folder_mode)
        before = read(config)
        p = start(config, as_nobody=True)
        check(wait_windows(1), case + ": the window opened")
        keys("Tab", "Tab", "Tab", "Tab", "Tab", "Return")
        check(wait_windows(2), case + ": the save's error box opened")
        keys("Return")
        check(wait_windows(1), case + ": the box closed")
        keys("Escape")
        status, out, err = finish(p)
        check(status == 1, case + ": exit status 1, not %d" % status)
        check("the configuration was not saved" in out and cause in out,
              case + ": the runner names the cause: " + out)
        check("[error 2005" in err and cause in err, case + ": the console names it: " + err)
        check(read(config) == before, case + ": the file is unchanged")

    # 2. Copy every station (Down and Up in the tree select the root; Tab twice reaches copy), leave: the lines
    # stay on the clipboard, served by the keeper until another program takes the clipboard.
    config = os.path.join(work, "copy.cfg")
    shutil.copy(DEMO, config)
    exported = subprocess.run([CFG, "export", config, "--utf8"], capture_output=True,
                              check=True).stdout
    p = start(config)
    check(wait_windows(1), "copy: the window opened")
    keys("Tab", "Down", "Up", "Tab", "Tab", "Return", "Escape")
    status, out, err = finish(p)
    check(status == 1, "copy: left without saving")
    copied = xclip_out()
    check(copied.replace(b"\r\n", b"\n") == exported.replace(b"\r\n", b"\n") and copied,
          "copy: xclip -o gives the lines after the window closed")
    check(len(keepers()) == 1, "copy: one keeper serves them")
    subprocess.run(["xclip", "-i", "-selection", "clipboard"], input=b"other", check=True,
                   timeout=BOUND)
    end = time.time() + BOUND
    while keepers() and time.time() < end:
        time.sleep(0.1)
    check(not keepers(), "copy: the keeper ended when another program took the clipboard")

    # 3. A paste holding a character that code page 949 lacks changes nothing: the refusal's
    # box, then leaving asks nothing (nothing changed) and the file is as it was.
    config = os.path.join(work, "paste.cfg")
    shutil.copy(DEMO, config)
    before = read(config)
    subprocess.run(["xclip", "-i", "-selection", "clipboard"],
                   input="EMO\U0001F600\t0\t1\t0\t\t\r\nEMO\U0001F642\t0\t2\t0\t\t\r\n".encode(),
                   check=True, timeout=BOUND)
    p = start(config)
    check(wait_windows(1), "paste: the window opened")
    keys("Tab", "Down", "Up", "Tab", "Tab", "Tab", "Return")
    check(wait_windows(2), "paste: the refusal's box opened")
    keys("Return")
    check(wait_windows(1), "paste: the box closed")
    keys("Escape")
    status, out, err = finish(p)
    check(status == 1 and "nothing was saved" in out, "paste: nothing saved: " + out)
    check(read(config) == before, "paste: the file is unchanged")

    # 4. A damaged file: the host's error box 2002 with the path, and the console line.
    config = os.path.join(work, "damaged.cfg")
    with open(config, "w") as f:
        f.write("not a configuration")
    p = start(config)
    check(wait_windows(1), "damaged: the error box opened")
    keys("Return")
    status, out, err = finish(p)
    check(status == 1 and "[error 2002" in err and config in err, "damaged: " + err)
finally:
    for pid in keepers():
        os.kill(int(pid), 15)  # a keeper of this test's own, by its id
    for root, dirs, files in os.walk(work):
        for d in dirs:
            os.chmod(os.path.join(root, d), 0o755)
    shutil.rmtree(work)

print("%d failed" % len(failures))
sys.exit(1 if failures else 0)
