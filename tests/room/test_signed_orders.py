"""Signed orders against the real programs: the agent's nonce on the wire, orders signed here with
Debian's python3-cryptography (so the layout is checked by code that shares nothing with the
programs), the forgeries and replays the agent drops, the key tool's public line, and a signing
console driving checking and unchanged agents, its signatures verified here."""
import base64
import hashlib
import socket
import struct
import subprocess

import pytest
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, utils
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat

import room as roomlib
import test_system as system
from agent_support import LOCK_REQUEST, device_log, install_driver
from console_support import INFORMATION, Console, FakeAgent
from test_agent import (AVAILABLE_REPORT, OTHER, SERVER, SETTLE, START_BOX_WAIT, START_TIMEOUT,
                        STATION, STATUS_REQUEST, start_agent, station_sender)

ADD_HOUR = 0xC0000E10


def key_line(key, comment="console"):
    point = key.public_key().public_bytes(Encoding.X962, PublicFormat.UncompressedPoint)
    return f"vorlek-p256 {base64.b64encode(point).decode()} {comment}"


def signed_order(key, word, sequence, address, nonce):
    head = b"\x03" + struct.pack("<I", word) + b"\x02" + struct.pack("<Q", sequence)
    message = b"VORLEK-ORDER-2" + socket.inet_aton(address) + nonce + head
    r, s = utils.decode_dss_signature(key.sign(message, ec.ECDSA(hashes.SHA256())))
    return head + r.to_bytes(32, "big") + s.to_bytes(32, "big")


def report(word, nonce):
    return b"\x04" + struct.pack("<I", word) + nonce


def started_nonce(room, server):
    """The nonce of the agent's Hello; its first report carries the same."""
    hello, sender = server.recv(START_TIMEOUT)
    assert sender == station_sender(room) and len(hello) == 9 and hello[0] == 1, hello.hex()
    nonce = hello[1:]
    assert nonce != bytes(8)
    assert server.recv(START_TIMEOUT) == (AVAILABLE_REPORT + nonce, station_sender(room))
    return nonce


@pytest.fixture
def signed_room(room_factory):
    room = room_factory([STATION, SERVER, OTHER])
    install_driver(room[STATION])
    return room


def test_a_checking_agent_obeys_only_new_orders_signed_for_it_by_a_room_key(signed_room):
    room = signed_room
    station = room[STATION]
    server, other = room[SERVER].peer(), room[OTHER].peer()
    console_a, console_b = ec.generate_private_key(ec.SECP256R1()), ec.generate_private_key(
        ec.SECP256R1())
    stranger = ec.generate_private_key(ec.SECP256R1())
    station.put_file("roomkeys", f"# two consoles\r\n{key_line(console_a)}\r\n\r\n"
                                 f"{key_line(console_b, 'desk 2')}\r\n")
    agent = start_agent(room, f"{room[SERVER].address}\r\n", "/orders=signed")
    nonce = started_nonce(room, server)

    good = signed_order(console_a, ADD_HOUR, 1000, station.address, nonce)
    server.send(station.address, good)
    answers = server.recv_all(SETTLE * 2)
    assert [data[:5] for data, _ in answers] == [b"\x04\x10\x0e\x00\x00"] * 2
    assert all(data[5:] == nonce for data, _ in answers)

    flipped = bytearray(signed_order(console_a, ADD_HOUR, 1001, station.address, nonce))
    flipped[1] ^= 0x01
    forgeries = [
        b"\x03\x10\x0e\x00\xc0",
        bytes(flipped),
        signed_order(console_a, ADD_HOUR, 1002, room[OTHER].address, nonce),
        signed_order(stranger, ADD_HOUR, 1003, station.address, nonce),
        signed_order(console_a, ADD_HOUR, 1004, station.address, bytes(8)),
    ]
    for forged in forgeries:
        other.send(station.address, forged)
        server.send(station.address, forged)
    # The order already obeyed, captured and sent again from another host.
    other.send(station.address, good)
    assert other.recv_all(SETTLE * 2) == [] and server.recv_all(SETTLE) == []

    # A second console's key has its own sequence; requests are answered as always.
    server.send(station.address, signed_order(console_b, 0x80000003, 5, station.address, nonce))
    assert [data for data, _ in server.recv_all(SETTLE * 2)] == [report(0x80000003, nonce)] * 2
    other.send(station.address, STATUS_REQUEST)
    assert other.recv(START_TIMEOUT) == (report(0x80000003, nonce), station_sender(room))

    # After a restart the agent has a new nonce: an order captured before is dropped.
    station.wine("taskkill.exe", "/F", "/IM", "VorlekClient.exe")
    assert agent.wait(START_TIMEOUT) is not None
    agent = start_agent(room, None, "/orders=signed")
    new_nonce = started_nonce(room, server)
    assert new_nonce != nonce
    later = signed_order(console_a, ADD_HOUR, 2000, station.address, nonce)
    server.send(station.address, later)
    assert server.recv_all(SETTLE * 2) == []
    server.send(station.address, signed_order(console_a, ADD_HOUR, 2000, station.address,
                                              new_nonce))
    assert [data[:5] for data, _ in server.recv_all(SETTLE * 2)] == [b"\x04\x10\x0e\x00\x00"] * 2
    assert agent.running


@pytest.mark.parametrize("roomkeys", [None, "# nobody yet\r\n", "vorlek-p256 AAAA\r\n"],
                         ids=["missing", "no-key", "malformed"])
def test_an_agent_without_usable_roomkeys_refuses_to_start(signed_room, roomkeys):
    room = signed_room
    station = room[STATION]
    server = room[SERVER].peer()
    if roomkeys is not None:
        station.put_file("roomkeys", roomkeys)
    agent = start_agent(room, f"{room[SERVER].address}\r\n", "/orders=signed")
    closed = station.probe("close-box", "Vorlek client", START_BOX_WAIT)
    assert closed.returncode == 0
    assert closed.stdout.startswith("closed Vorlek client\t/orders=signed: the file \"roomkeys\"")
    assert agent.wait(START_TIMEOUT) == 0
    assert server.recv_all(SETTLE) == []


def test_the_key_tool_makes_a_key_once_and_prints_a_point_of_p256(room_factory):
    room = room_factory(["console"])
    console = room["console"]
    console.install(room.release("VorlekKey.exe"))
    made = console.wine("VorlekKey.exe", "new", "room.key")
    assert made.returncode == 0, made.stderr
    word, encoded, _comment = made.stdout.strip().split(" ", 2)
    assert word == "vorlek-p256"
    point = base64.b64decode(encoded, validate=True)
    # Raises unless the 65 bytes are an uncompressed point on the curve.
    ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), point)
    assert b"BEGIN" not in console.read_file("room.key")
    again = console.wine("VorlekKey.exe", "public", "room.key")
    assert (again.returncode, again.stdout) == (0, made.stdout)
    refused = console.wine("VorlekKey.exe", "new", "room.key")
    assert refused.returncode == 1
    assert refused.stderr.strip() == ("VorlekKey: The file exists already: a key is never "
                                      "overwritten.")


def test_the_documented_test_vector_verifies_and_follows_the_layout():
    guide = (roomlib.REPOSITORY / "docs" / "signed-orders.md").read_text()
    block = guide.split("### Test vector", 1)[1].split("```")[1]
    fields, name = {}, None
    for line in block.strip().splitlines():
        if not line.startswith(" "):
            name, line = line.split(":", 1)
        fields[name] = fields.get(name, "") + " " + line.strip()
    private = ec.derive_private_key(int(fields["private scalar"], 16), ec.SECP256R1())
    assert key_line(private, "test-vector") == fields["public line"].strip()
    datagram = bytes.fromhex(fields["datagram"])
    nonce = bytes.fromhex(fields["nonce"])
    signed = b"VORLEK-ORDER-2" + socket.inet_aton(fields["station"].strip()) + nonce + datagram[:14]
    assert signed == bytes.fromhex(fields["signed bytes"])
    assert hashlib.sha256(signed).hexdigest() == fields["SHA-256"].strip()
    assert datagram[:6] == b"\x03\x10\x0e\x00\xc0\x02" and len(datagram) == 78
    assert struct.unpack("<Q", datagram[6:14])[0] == int(fields["sequence"].split()[0])
    signature = utils.encode_dss_signature(int.from_bytes(datagram[14:46], "big"),
                                           int.from_bytes(datagram[46:], "big"))
    private.public_key().verify(signature, signed, ec.ECDSA(hashes.SHA256()))


CONSOLE, DESK2, ALPHA = system.CONSOLE, "desk2", "alpha"

# Sends one UDP datagram from port 10001 with any source address, as a laptop on the room's
# network can: argv is the source, the destination and the payload in hex.
FORGER = """
import socket, struct, sys
source, destination, payload = sys.argv[1], sys.argv[2], bytes.fromhex(sys.argv[3])
udp = struct.pack("!HHHH", 10001, 10001, 8 + len(payload), 0) + payload
ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0,
                 socket.inet_aton(source), socket.inet_aton(destination))
socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW).sendto(ip + udp, (destination, 0))
"""


def forge(host, source, destination, payload):
    subprocess.run(["ip", "netns", "exec", host.namespace, "/usr/bin/python3", "-c", FORGER,
                    source, destination, payload.hex()], check=True, timeout=START_TIMEOUT)


@pytest.fixture
def console_room(room_factory):
    """Two console hosts, a station with the stand-in driver and an observer."""
    room = room_factory([CONSOLE, DESK2, ALPHA, system.OBSERVER])
    install_driver(room[ALPHA])
    room[ALPHA].install(room.release("BLOCKED.BMP"))
    room.observer = room[system.OBSERVER].peer(port=system.OBSERVER_PORT,
                                               receive_broadcasts=False)
    return room


def make_console_key(room, name):
    """A "room.key" made in the console's data folder; returns its public line."""
    host = room[name]
    host.install(room.release("VorlekKey.exe"))
    made = host.wine("VorlekKey.exe", "new", "room.key")
    assert made.returncode == 0, made.stderr
    return made.stdout.strip()


def start_signing_console(room, name, stations):
    host = room[name]
    host.put_file("clients", "".join(f"{room[n].address}\r\n" for n in stations))
    console = Console(host, host.start(room.release("VorlekServer.exe"), "/orders=signed"))
    assert console.wait_for_window(), console.process.stderr
    # A Hello heard before the first tick gets a row of its own beside the listed station's OFF
    # row: agents start once the list is populated.
    rows = console.wait_rows(lambda rows: len(rows) == len(stations), START_TIMEOUT)
    assert len(rows) == len(stations), rows
    return console


def start_checking_agent(room, *switches):
    station = room[ALPHA]
    station.put_file("servers", f"{room[CONSOLE].address}\r\n")
    return station.start(room.release("VorlekClient.exe"), *switches)


def verify_order(public_line, datagram, address, nonce):
    """Raises unless datagram is a 78-byte signed Command for this station and nonce."""
    assert len(datagram) == 78 and datagram[0] == 3 and datagram[5] == 2, datagram.hex()
    point = base64.b64decode(public_line.split()[1])
    key = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), point)
    signature = utils.encode_dss_signature(int.from_bytes(datagram[14:46], "big"),
                                           int.from_bytes(datagram[46:], "big"))
    key.verify(signature, b"VORLEK-ORDER-2" + socket.inet_aton(address) + nonce + datagram[:14],
               ec.ECDSA(hashes.SHA256()))


def seconds_reported(room):
    """The seconds of alpha's report (with or without a nonce) to the observer's request."""
    report = None
    station = (room[ALPHA].address, roomlib.STATION_PORT)
    room.observer.drain()
    for _ in range(START_TIMEOUT):
        room.observer.send(room[ALPHA].address, STATUS_REQUEST)
        answer = room.observer.recv(SETTLE)
        if answer is not None and answer[1] == station:
            report = answer[0]
            break
    assert report is not None and report[0] == 4 and len(report) in (5, 13), report
    return int.from_bytes(report[1:5], "little")


def seconds_reach(room, low, high):
    """Whether alpha reports between low and high seconds within a few seconds: a button's order
    goes after the console has handled the click, and may be signed after a status request."""
    return roomlib.wait_until(lambda: low <= seconds_reported(room) <= high, 10)


def select_station(console, room):
    system.select_rows(console, system.index_of(console.row_texts(), f"{ALPHA} ("))


def test_signing_consoles_drive_checking_and_unchanged_agents(console_room):
    room = console_room
    line_a, line_b = make_console_key(room, CONSOLE), make_console_key(room, DESK2)
    room[ALPHA].put_file("roomkeys", f"{line_a}\r\n{line_b}\r\n")
    # A station of the console's list that answers with a nonce of its own: what the console
    # signs for it is checked here.
    nonce = bytes(range(1, 9))
    fake = FakeAgent(room[system.OBSERVER], report=AVAILABLE_REPORT + nonce)
    try:
        console = start_signing_console(room, CONSOLE, [ALPHA, system.OBSERVER])
        agent = start_checking_agent(room, "/orders=signed")
        system.wait_for_rows(console, [system.row(room, ALPHA, " -- state AVAILABLE"),
                                       system.row(room, system.OBSERVER, " -- state AVAILABLE")])
        signed = roomlib.wait_until(
            lambda: [d for d in fake.datagrams() if len(d) == 78], START_TIMEOUT)
        # The client warning, 600 s, the first order the console gave it.
        assert signed[0][:6] == b"\x03\x58\x02\x00\x90\x02"
        verify_order(line_a, signed[0], room[system.OBSERVER].address, nonce)
    finally:
        fake.close()

    # One hour given to the checking agent, and counted.
    select_station(console, room)
    console.click(system.ADD_1_HOUR)
    assert seconds_reach(room, 3590, 3600)
    # The second console, with its own key, gives a minute more.
    desk2 = start_signing_console(room, DESK2, [ALPHA])
    system.wait_for_rows(desk2, [system.counting_row(room, ALPHA, r"00:59:\d\d")])
    select_station(desk2, room)
    desk2.click(system.ADD_1_MINUTE)
    assert seconds_reach(room, 3640, 3660)

    # Three seconds, then the lock at zero.
    select_station(console, room)
    console.set_text(system.DEATH_TIMER, "3")
    console.click(system.UPDATE)
    assert console.wait_box(INFORMATION, timeout=15) == (
        f"Client '{ALPHA}' ( {room[ALPHA].address} ) is BLOCKED")
    assert device_log(room[ALPHA]) == ["open", LOCK_REQUEST]
    assert console.close_box(INFORMATION) is not None

    # An agent without the switch obeys the signing console: it is given back BLOCKED, then
    # a minute.
    room[ALPHA].wine("taskkill.exe", "/F", "/IM", "VorlekClient.exe")
    assert agent.wait(START_TIMEOUT) is not None
    agent = start_checking_agent(room)
    system.wait_for_rows(console, [system.row(room, ALPHA, " -- state BLOCKED"),
                                   system.row(room, system.OBSERVER, " -- state AVAILABLE")])
    assert roomlib.wait_until(lambda: device_log(room[ALPHA])[-1:] == [LOCK_REQUEST], 10)
    select_station(console, room)
    console.click(system.ADD_1_MINUTE)
    assert seconds_reach(room, 50, 60)
    assert agent.running


def test_a_forged_report_does_not_make_the_console_give_back_more_than_it_granted(console_room):
    room = console_room
    room[ALPHA].put_file("roomkeys", f"{make_console_key(room, CONSOLE)}\r\n")
    console = start_signing_console(room, CONSOLE, [ALPHA])
    agent = start_checking_agent(room, "/orders=signed")
    system.wait_for_rows(console, [system.row(room, ALPHA, " -- state AVAILABLE")])
    select_station(console, room)
    console.click(system.ADD_1_MINUTE)
    assert seconds_reach(room, 50, 60)

    # A laptop sends the station's report of 194 days in its name; the console shows it...
    forge(room[system.OBSERVER], room[ALPHA].address, room[CONSOLE].address,
          b"\x04\xff\xff\xff\x00")
    system.wait_for_rows(console, [system.counting_row(room, ALPHA, r"4660:\d\d:\d\d")])
    # ...but when the agent restarts, it gives back only what is left of the minute.
    room[ALPHA].wine("taskkill.exe", "/F", "/IM", "VorlekClient.exe")
    assert agent.wait(START_TIMEOUT) is not None
    agent = start_checking_agent(room, "/orders=signed")
    restored = roomlib.wait_until(
        lambda: (seconds := seconds_reported(room)) != 0x80000002 and seconds, START_TIMEOUT)
    assert 30 <= restored <= 60, restored
    assert agent.running


def test_a_signing_console_without_its_key_refuses_to_start_before_anything_is_sent(console_room):
    room = console_room
    host = room[CONSOLE]
    host.put_file("clients", f"{room[ALPHA].address}\r\n")
    station = room[ALPHA].peer()
    console = Console(host, host.start(room.release("VorlekServer.exe"), "/orders=signed"))
    text = console.wait_box("Vorlek Server")
    assert text.startswith("/orders=signed: the console's key \"room.key\" could not be read: "
                           "The key file could not be opened (error 2)."), text
    assert text.endswith("\nMake it in the console's data folder with \"VorlekKey.exe new "
                         "room.key\", or start the console without /orders=signed."), text
    assert console.close_box("Vorlek Server") is not None
    assert console.process.wait(START_TIMEOUT) == 0
    assert station.recv_all(SETTLE) == []
