"""Signed orders against the real agent: its nonce on the wire, orders signed here with Debian's
python3-cryptography (so the layout is checked by code that shares nothing with the programs),
the forgeries and replays it drops, and the key tool's public line."""
import base64
import hashlib
import socket
import struct

import pytest
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, utils
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat

import room as roomlib
from agent_support import install_driver
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
