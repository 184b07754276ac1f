#!/usr/bin/python3
"""A PLC's side of host_modbus_test.sh, with pymodbus (Debian's python3-pymodbus).

Usage: modbus_client.py PORT write|readback|refusals|clients
Exits non-zero with the reason on the first check that fails.
"""
import socket
import struct
import sys
import time

from pymodbus.client import ModbusTcpClient
from pymodbus.mei_message import ReadDeviceInformationRequest

PORT = int(sys.argv[1])
HOST = "127.0.0.1"


def fail(text):
    print("FAIL: " + text, file=sys.stderr)
    sys.exit(1)


def client():
    c = ModbusTcpClient(HOST, port=PORT, timeout=1, retries=0)
    if not c.connect():
        fail("pymodbus could not connect")
    return c


def ok(result, what):
    if result.isError():
        fail(what + ": " + str(result))
    return result


def refused(result, code, what):
    got = getattr(result, "exception_code", None)
    if got != code:
        fail("%s: expected exception %d, got %s" % (what, code, result))


def words(value, fmt):
    return list(struct.unpack(">HH", struct.pack(fmt, value)))


def write():
    """The types mbpoll does not write: uint16, int32 low word first, uint32 scaled, uint32 low
    word first; one request each."""
    c = client()
    ok(c.write_register(7, 7000, slave=1), "uint16")
    ok(c.write_registers(8, list(reversed(words(-1999, ">i"))), slave=1), "int32-swapped")
    ok(c.write_registers(10, words(999999000, ">I"), slave=1), "uint32 scaled")
    ok(c.write_registers(12, list(reversed(words(75, ">I"))), slave=1), "uint32-swapped")
    c.close()


# pymodbus 3.0 names the unit 'unit' for read and write, 'slave' for the other functions.
def readback():
    """What was written comes back; a read and write takes its write first."""
    c = client()
    expected = (words(12.25, ">f") + list(reversed(words(-3.125, ">f"))) +
                [(-1235) & 0xFFFF] + words(750, ">i") + [7000] +
                list(reversed(words(-1999, ">i"))) + words(999999000, ">I") +
                list(reversed(words(75, ">I"))))
    got = ok(c.read_holding_registers(0, 14, slave=1), "read").registers
    if got != expected:
        fail("read %s, expected %s" % (got, expected))
    got = ok(c.readwrite_registers(read_address=4, read_count=1, write_address=4,
                                   write_registers=[500], unit=1), "read and write").registers
    if got != [500]:
        fail("read and write gave %s, expected [500]" % got)
    c.close()


def closed(sock, seconds):
    """Closed by the server: an end, or a reset when it left bytes unread."""
    sock.settimeout(seconds)
    try:
        return sock.recv(1) == b""
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


def served(sock):
    sock.settimeout(2)
    sock.sendall(bytes([0, 9, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1]))
    try:
        return len(sock.recv(64)) == 11
    except socket.timeout:
        return False


def refusals():
    c = client()
    refused(c.read_coils(0, 1, slave=1), 1, "read coils")
    refused(c.read_input_registers(0, 1, slave=1), 1, "read input registers")
    refused(c.write_coil(0, True, slave=1), 1, "write coil")
    refused(c.execute(ReadDeviceInformationRequest(unit=1)), 1, "read device identification")
    refused(c.read_holding_registers(14, 1, slave=1), 2, "read past the map")
    refused(c.write_register(100, 1, slave=1), 2, "write past the map")
    before = ok(c.read_holding_registers(0, 7, slave=1), "read").registers
    refused(c.write_register(1, 5, slave=1), 3, "write of half a float32")
    refused(c.write_registers(4, [1, 2], slave=1), 3, "int16 and half an int32")
    refused(c.write_registers(0, [0x7FC0, 0], slave=1), 3, "NaN")
    refused(c.readwrite_registers(read_address=0, read_count=1, write_address=6,
                                  write_registers=[1], unit=1), 3, "read and write of half")
    after = ok(c.read_holding_registers(0, 7, slave=1), "read").registers
    if after != before:
        fail("a refused request changed registers: %s, then %s" % (before, after))
    # Another unit is not answered.
    if not c.read_holding_registers(0, 1, slave=2).isError():
        fail("unit 2 was answered")
    c.close()

    # A malformed frame closes that client and no other.
    good = socket.create_connection((HOST, PORT))
    bad_frames = {
        "a length that lies": bytes([0, 1, 0, 0, 0, 20, 1, 3, 0, 0, 0, 1]),
        "a truncated header": bytes([0, 1, 0]),
        "garbage": b"\xff\xfe GARBAGE \x00" * 8,
    }
    for what, frame in bad_frames.items():
        s = socket.create_connection((HOST, PORT))
        s.sendall(frame)
        if not closed(s, 3):
            fail(what + ": the client was not closed")
        s.close()
        if not served(good):
            fail(what + ": another client was no longer served")
    good.close()


def clients():
    # Eight clients, each answered (so all are taken); a ninth is refused; the eight are still
    # served; one goes and the next to come is served (the server may see the going a moment
    # later than the coming: a few tries).
    eight = []
    for _ in range(8):
        eight.append(socket.create_connection((HOST, PORT)))
        if not served(eight[-1]):
            fail("one of eight clients was not served")
    ninth = socket.create_connection((HOST, PORT))
    if not closed(ninth, 3):
        fail("a ninth client was not refused")
    ninth.close()
    for s in eight:
        if not served(s):
            fail("one of eight clients was not served after the ninth")
    eight.pop().close()
    for _ in range(10):
        time.sleep(0.3)
        again = socket.create_connection((HOST, PORT))
        taken = served(again)
        again.close()
        if taken:
            break
    else:
        fail("the place of a client that left was not free")
    for s in eight:
        s.close()


{"write": write, "readback": readback, "refusals": refusals, "clients": clients}[sys.argv[2]]()
