"""The room simulator of the benchmarks (bench/room_sim.cpp) answers like VorlekClient: a raw
peer in the console's place checks its datagrams byte by byte. No Wine is involved."""

import subprocess
from pathlib import Path

import pytest

import room as roomlib

REPOSITORY = Path(__file__).resolve().parents[2]
SIM_BUILD = REPOSITORY / "build" / "bench"
FIRST = "198.18.0.1"
AGENTS = ["198.18.0.1", "198.18.0.2", "198.18.0.3"]


@pytest.fixture(scope="module")
def simulator():
    """The simulator binary, built natively on first use."""
    roomlib.run(["cmake", "-S", REPOSITORY / "bench", "-B", SIM_BUILD], timeout=120)
    roomlib.run(["cmake", "--build", SIM_BUILD], timeout=300)
    return SIM_BUILD / "vorlek-room-sim"


@pytest.fixture
def sim_room(room_factory):
    """A console host holding a raw peer on port 10001 and a simulator host with three agent
    addresses, reached through the simulator host."""
    room = room_factory(["console", "sim"], warm=False)
    console, sim = room["console"], room["sim"]
    for address in AGENTS:
        roomlib.run(["ip", "-n", sim.namespace, "address", "add", f"{address}/32", "dev", "eth0"])
    roomlib.run(["ip", "-n", console.namespace, "route", "add", "198.18.0.0/15", "via",
                 sim.address])
    return room, console.peer(receive_broadcasts=False)


def start(room, simulator, *options):
    process = subprocess.Popen(
        room["sim"].command([simulator, "--first", FIRST, "--count", len(AGENTS),
                             "--server", room["console"].address, *options]),
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, start_new_session=True)
    assert process.stdout.readline() == b"ready 3\n"
    return process


def two(peer):
    """The next two datagrams, as soon as they are there."""
    return [peer.recv(timeout=2), peer.recv(timeout=2)]


def stop(process):
    roomlib.kill_pids([process.pid])
    process.wait(10)


def test_agents_say_hello_answer_requests_and_obey_commands(sim_room, simulator):
    room, peer = sim_room
    process = start(room, simulator, "--hello", "--start-seconds", "100")
    try:
        hellos = sorted(peer.recv_all(timeout=2))
        assert hellos == [(b"\x01", (address, 10001)) for address in AGENTS]

        # Set 300 seconds: a report to the server (this peer) and the answer to the sender. The
        # next tick is a second away, so the pause right after keeps all 300.
        peer.send("198.18.0.2", b"\x03\x2c\x01\x00\x00")
        assert two(peer) == [(b"\x04\x2c\x01\x00\x00", ("198.18.0.2", 10001))] * 2
        # Pause: the seconds plus the paused flag, and a request gets the same word.
        peer.send("198.18.0.2", b"\x03\x01\x00\x00\x80")
        assert two(peer) == [(b"\x04\x2c\x01\x00\x20", ("198.18.0.2", 10001))] * 2
        peer.send("198.18.0.2", b"\x04")
        assert peer.recv(timeout=2) == (b"\x04\x2c\x01\x00\x20", ("198.18.0.2", 10001))
        # Free, unlimited and block are reported as mode words.
        for command, report in ((b"\x03\x02\x00\x00\x80", b"\x04\x02\x00\x00\x80"),
                                (b"\x03\x00\x00\x00\x80", b"\x04\x00\x00\x00\x80"),
                                (b"\x03\x03\x00\x00\x80", b"\x04\x03\x00\x00\x80")):
            peer.send("198.18.0.3", command)
            assert two(peer) == [(report, ("198.18.0.3", 10001))] * 2
        # Another type, or a command too short for its word: no answer.
        peer.send("198.18.0.1", b"\x02")
        peer.send("198.18.0.1", b"\x03\x2c\x01")
        assert peer.recv_all(timeout=1) == []
    finally:
        stop(process)


def test_an_agent_counts_down_and_locks_itself_quietly_at_zero(sim_room, simulator):
    room, peer = sim_room
    process = start(room, simulator, "--start-seconds", "1")
    try:
        assert peer.recv_all(timeout=3) == []
        peer.send("198.18.0.1", b"\x04")
        assert peer.recv(timeout=2) == (b"\x04\x03\x00\x00\x80", ("198.18.0.1", 10001))
    finally:
        stop(process)


def test_silent_agents_never_answer_and_report_rounds_reach_the_server(sim_room, simulator):
    room, peer = sim_room
    process = start(room, simulator, "--silent", "1")
    try:
        peer.send("198.18.0.3", b"\x04")
        assert peer.recv(timeout=1) is None
        process.stdin.write(b"report 100\n")
        process.stdin.flush()
        reports = sorted(peer.recv_all(timeout=2))
        assert reports == [(b"\x04\x02\x00\x00\x80", (address, 10001)) for address in AGENTS[:2]]
    finally:
        stop(process)
