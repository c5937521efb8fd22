"""Hostile input to VorlekClient.exe in a room: malformed datagrams of every type and length, a
burst of ten thousand, and broken "servers" and "BLOCKED.BMP" files. The agent must ignore what
it does not act on, answer what it does, and keep running. Datagrams are byte literals."""

import struct
import time

import pytest

import room as roomlib
from agent_support import (LOCK_REQUEST, UNLOCK_REQUEST, device_log, install_driver,
                           wait_for_device_log)

STATION = "station"
SERVER = "server"
STRANGER = "stranger"

HELLO = b"\x01"
STATUS_REQUEST = b"\x04"
AVAILABLE_REPORT = b"\x04\x02\x00\x00\x80"
BLOCKED_REPORT = b"\x04\x03\x00\x00\x80"
BLOCK = b"\x03\x03\x00\x00\x80"
MINUTE_REPORT = b"\x04\x3c\x00\x00\x00"
SET_TIME_60 = b"\x03\x3c\x00\x00\x00"

START_TIMEOUT = 20
SETTLE = 1.0
MEGABYTES_10 = 10 * 1024 * 1024


def lock_windows(host):
    listed = host.probe("windows")
    assert listed.returncode == 0, listed.stdout
    return [line for line in listed.stdout.splitlines()
            if line.startswith("VorlekClientWndClass\t")]


@pytest.fixture
def station_room(room_factory):
    room = room_factory([STATION, SERVER, STRANGER], warm=[STATION])
    install_driver(room[STATION])
    return room


class Station:
    """The agent under test and the raw ports of the server and the stranger."""

    def __init__(self, room, servers, picture=None):
        self.room = room
        self.host = room[STATION]
        self.server = room[SERVER].peer()
        self.stranger = room[STRANGER].peer(receive_broadcasts=False)
        self.host.put_file("servers", servers)
        if picture is not None:
            self.host.put_file("BLOCKED.BMP", picture)
        self.process = self.host.start(room.release("VorlekClient.exe"))
        self.sender = (self.host.address, roomlib.STATION_PORT)

    def expect(self, peer, data, timeout=START_TIMEOUT):
        datagram = peer.recv(timeout)
        assert datagram is not None, (f"nothing arrived; expected {data.hex(' ')}; "
                                      f"{self.process.stderr[-2000:]}")
        assert datagram == (data, self.sender)

    def started(self):
        self.expect(self.server, HELLO)
        self.expect(self.server, AVAILABLE_REPORT)
        return self

    def send(self, data, peer=None):
        (peer or self.stranger).send(self.host.address, data)

    def answers_status_request(self, timeout=START_TIMEOUT):
        """The agent's answer to a request from the stranger, or None."""
        self.stranger.drain()
        self.send(STATUS_REQUEST)
        datagram = self.stranger.recv(timeout)
        return datagram[0] if datagram is not None and datagram[1] == self.sender else None


def ignored_datagrams():
    """Every datagram the agent must drop without an answer: empty, 1 to 4 bytes of every type
    but 4 (a short Command has no word), 5 bytes of every type but 3, another agent's report
    (type 4, 5 bytes or more: answering it would start an echo), 4096 bytes of a foreign type,
    and 4097 and 65000 bytes of types it would act on (too long for its 4096-byte buffer)."""
    junk = [b""]
    for kind in range(256):
        if kind != 4:
            junk += [bytes([kind]) + bytes([0x80] * (length - 1)) for length in range(1, 5)]
        if kind != 3:
            junk.append(bytes([kind]) + b"\x03\x00\x00\x80")
    junk += [AVAILABLE_REPORT, STATUS_REQUEST + b"\x03" * 4095]
    junk.append(b"\x07" + b"\x00" * 4095)
    junk.append(STATUS_REQUEST + b"\x00" * 4096)
    junk.append(BLOCK + b"\x00" * (65000 - len(BLOCK)))
    return junk


def test_malformed_datagrams_and_reports_are_ignored_and_every_request_is_answered(station_room):
    station = Station(station_room, f"{station_room[SERVER].address}\r\n").started()

    junk = ignored_datagrams()
    for datagram in junk:
        station.send(datagram)
    assert station.stranger.recv_all(SETTLE * 2) == []
    assert station.server.recv_all(0.2) == []
    assert device_log(station.host) == ["open"]

    # A type-4 datagram shorter than a report is a status request.
    for length in [1, 2, 3, 4]:
        station.send(STATUS_REQUEST + b"\x03" * (length - 1))
        station.expect(station.stranger, AVAILABLE_REPORT)
    # A command that fills the whole buffer is obeyed: its report to the list, then the answer.
    station.send(SET_TIME_60 + b"\xff" * (4096 - len(SET_TIME_60)))
    station.expect(station.server, MINUTE_REPORT)
    station.expect(station.stranger, MINUTE_REPORT)
    assert station.process.running
    assert device_log(station.host) == ["open"]


def test_a_burst_of_ten_thousand_datagrams_leaves_the_agent_answering(station_room):
    station = Station(station_room, f"{station_room[SERVER].address}\r\n").started()
    junk = ignored_datagrams()

    began = time.monotonic()
    for i in range(10_000):
        station.send(junk[i % len(junk)] if i % 7 else b"\x02" * (i % 9))
    sending = time.monotonic() - began
    assert sending < 30

    # Whatever the socket kept is worked off without an answer; then the agent answers again.
    assert roomlib.wait_until(lambda: station.answers_status_request(1.0) == AVAILABLE_REPORT,
                              START_TIMEOUT * 2, interval=0.1), station.process.stderr[-2000:]
    assert station.server.recv_all(0.2) == []
    station.send(SET_TIME_60, station.server)
    station.expect(station.server, MINUTE_REPORT)
    station.expect(station.server, MINUTE_REPORT)
    assert station.process.running
    assert device_log(station.host) == ["open"]


def garbage(size):
    """Bytes of every value but Ctrl+Z (which ends a text-mode read), no line end among them."""
    pattern = bytes(b for b in range(256) if b not in (0x0A, 0x1A))
    return (pattern * (size // len(pattern) + 1))[:size]


def servers_files(server):
    line = f"{server}\r\n".encode()
    return {
        "binary": garbage(4096) + b"\n" + line,
        "10-megabytes-of-comments": (b"# " + b"c" * 100 + b"\r\n") * (MEGABYTES_10 // 104)
        + line,
        "100000-character-lines": b"a" * 100_000 + b"\r\n" + b"1" * 100_000 + b"\r\n"
        + b"x" * 99_999 + b"." + b"\r\n" + line,
    }


@pytest.mark.parametrize("kind", ["binary", "10-megabytes-of-comments",
                                  "100000-character-lines"])
def test_broken_servers_file_still_gives_the_one_listed_server(station_room, kind):
    server = station_room[SERVER].address
    station = Station(station_room, servers_files(server)[kind]).started()
    # Nothing but the one hello and report went out: no pieces of the junk lines were taken
    # as servers.
    assert station.server.recv_all(SETTLE) == []
    assert station.answers_status_request() == AVAILABLE_REPORT


def test_empty_servers_file_says_hello_by_broadcast(station_room):
    station = Station(station_room, "")
    station.expect(station.server, HELLO)
    assert station.server.recv_all(SETTLE) == []
    assert station.answers_status_request() == AVAILABLE_REPORT


def bmp(width, height, pixels):
    header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    return header + info + pixels


# Files that are no picture the station can show: each lock goes without a window and the next
# lock reads the file again.
BROKEN_PICTURES = [
    b"",
    garbage(65536),
    garbage(MEGABYTES_10),
    bmp(0x7FFFFFFF, 0x7FFFFFFF, b"\x00" * 4096),
    bmp(64, -64, b"\x40" * 64 * 64 * 3),
]
# A 10 MB picture with its pixel data cut short: it loads, the missing bytes read as 255.
LARGE_PICTURE = bmp(1920, 1820, garbage(1920 * 1820 * 3 - 1000))


def test_broken_pictures_lock_without_a_window_until_one_loads(station_room):
    station = Station(station_room, f"{station_room[SERVER].address}\r\n").started()
    requests = ["open"]
    for content in BROKEN_PICTURES + [LARGE_PICTURE]:
        windows = 1 if content is LARGE_PICTURE else 0
        station.host.put_file("BLOCKED.BMP", content)
        station.send(BLOCK, station.server)
        station.expect(station.server, BLOCKED_REPORT)
        station.expect(station.server, BLOCKED_REPORT)
        requests.append(LOCK_REQUEST)
        assert wait_for_device_log(station.host, requests) == requests
        shown = lock_windows(station.host)
        assert len(shown) == windows, (len(content), shown)

        station.send(SET_TIME_60, station.server)
        station.expect(station.server, MINUTE_REPORT)
        station.expect(station.server, MINUTE_REPORT)
        requests.append(UNLOCK_REQUEST)
        assert wait_for_device_log(station.host, requests) == requests
        assert roomlib.wait_until(lambda: lock_windows(station.host) == [], 5)
    assert station.process.running
