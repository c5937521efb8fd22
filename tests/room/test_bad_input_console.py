"""Hostile input to VorlekServer.exe in a room: malformed datagrams from a listed station and
from a stranger, a burst of ten thousand, and broken "clients" files. The console must keep its
station list as it was, show no notice, and go on answering. Datagrams are byte literals."""

import time

import pytest

import room as roomlib
from console_support import (HELLO, INFORMATION, SERVER, SETTLE, START_TIMEOUT, STATUS_REQUEST,
                             Console, fake_agents)

LISTED = "vlhost1"
NEWCOMER = "vlhost2"
STRANGER = "stranger"
HOSTS = [SERVER, LISTED, NEWCOMER, STRANGER]

BLOCKED = b"\x04\x03\x00\x00\x80"
NORMAL_90 = b"\x04\x5a\x00\x00\x00"
MEGABYTES_10 = 10 * 1024 * 1024
EDITOR = "Edit Clients List"
EDITOR_LIST = 1054
EDITOR_SAVE = 1057
EDIT_CLIENT_LIST = 40017


@pytest.fixture
def console_room(room_factory):
    with fake_agents(room_factory(HOSTS, unnamed=[STRANGER], warm=[SERVER])) as room:
        yield room


def row(room, name, state=""):
    return f"{name} ( {room[name].address} ){state}"


def start_console(room, clients):
    server = room[SERVER]
    server.put_file("clients", clients)
    console = Console(server, server.start(room.release("VorlekServer.exe")))
    assert console.wait_for_window(), console.process.stderr[-2000:]
    return console


def notices(console):
    return [text for caption, text in console.boxes() if caption == INFORMATION]


def listed_station_shows_available(room, clients):
    """Starts the console with this "clients" file and the listed station answering; returns
    the console once the station's row shows its report."""
    room.agent(LISTED)
    console = start_console(room, clients)
    expected = [row(room, LISTED, " -- state AVAILABLE")]
    assert console.wait_rows(lambda rows: rows == expected) == expected
    return console


def newcomer_is_answered_and_listed(room, console):
    """A new station's hello is answered and its row added. The hello is repeated until the
    answer comes, as a datagram may be lost while the socket still holds a burst."""
    newcomer = room.agent(NEWCOMER)

    def answered():
        newcomer.send(HELLO, room[SERVER].address)
        return newcomer.wait_for(STATUS_REQUEST, timeout=1.0)

    arrivals = roomlib.wait_until(answered, START_TIMEOUT * 2, interval=0.1)
    assert [(data, sender) for _, data, sender in arrivals][:1] == [
        (STATUS_REQUEST, (room[SERVER].address, roomlib.STATION_PORT))]
    shown = row(room, NEWCOMER, " -- state AVAILABLE")
    assert shown in console.wait_rows(lambda rows: shown in rows)


def ignored_datagrams():
    """What the console drops from anyone: empty, 1 to 4 bytes of every type but 1 (a Hello with
    trailing bytes is still a Hello; a report needs its word), 5 bytes of every type but 1 and 4,
    and reports and hellos too long for its 512-byte buffer."""
    junk = [b""]
    for kind in range(256):
        if kind != 1:
            junk += [bytes([kind]) + b"\x03" * (length - 1) for length in range(1, 5)]
        if kind not in (1, 4):
            junk.append(bytes([kind]) + b"\x03\x00\x00\x80")
    for length in [513, 4096, 65000]:
        junk.append(BLOCKED + b"\x00" * (length - len(BLOCKED)))
        junk.append(HELLO + b"\x00" * (length - 1))
    return junk


def test_malformed_datagrams_leave_the_station_list_as_it_was(console_room):
    room = console_room
    server = room[SERVER].address
    console = listed_station_shows_available(room, f"{room[LISTED].address}\r\n")
    listed = room[LISTED].peer(port=40000, receive_broadcasts=False)
    stranger = room[STRANGER].peer(receive_broadcasts=False)

    for datagram in ignored_datagrams():
        listed.send(server, datagram)
        stranger.send(server, datagram)
    # A full report from a station that is not listed is dropped as well.
    stranger.send(server, BLOCKED)
    time.sleep(SETTLE * 2)
    assert console.row_texts() == [row(room, LISTED, " -- state AVAILABLE")]
    assert notices(console) == []
    assert listed.recv_all(0.2) == [] and stranger.recv_all(0.2) == []

    # A report that fills the whole buffer is read (and then counted down from 00:01:30).
    listed.send(server, NORMAL_90 + b"\xff" * (512 - len(NORMAL_90)))
    counting = row(room, LISTED, " -- state NORMAL, remains 00:01:")
    rows = console.wait_rows(lambda rows: len(rows) == 1 and rows[0].startswith(counting))
    assert len(rows) == 1 and rows[0].startswith(counting), rows
    newcomer_is_answered_and_listed(room, console)
    assert console.process.running


def test_a_burst_of_ten_thousand_datagrams_leaves_the_console_answering(console_room):
    room = console_room
    server = room[SERVER].address
    console = listed_station_shows_available(room, f"{room[LISTED].address}\r\n")
    stranger = room[STRANGER].peer(receive_broadcasts=False)

    junk = ignored_datagrams()
    began = time.monotonic()
    for i in range(10_000):
        stranger.send(server, junk[i % len(junk)] if i % 5 else BLOCKED)
    assert time.monotonic() - began < 30

    newcomer_is_answered_and_listed(room, console)
    rows = console.row_texts()
    assert row(room, LISTED, " -- state AVAILABLE") in rows and len(rows) == 2
    assert notices(console) == []
    assert stranger.recv_all(0.2) == []
    assert console.process.running


def garbage(size):
    """Bytes of every value but Ctrl+Z (which ends a text-mode read), no line end among them."""
    pattern = bytes(b for b in range(256) if b not in (0x0A, 0x1A))
    return (pattern * (size // len(pattern) + 1))[:size]


def clients_file(kind, address):
    line = f"{address}\r\n".encode()
    return {
        "binary": garbage(4096) + b"\n" + line,
        "10-megabytes-of-comments": (b"# " + b"c" * 100 + b"\r\n") * (MEGABYTES_10 // 104)
        + line,
        "100000-character-lines": b"z" * 100_000 + b"\r\n" + b"1" * 100_000 + b"\r\n" + line,
    }[kind]


@pytest.mark.parametrize("kind", ["binary", "10-megabytes-of-comments",
                                  "100000-character-lines"])
def test_broken_clients_file_still_gives_the_one_listed_station(console_room, kind):
    room = console_room
    console = listed_station_shows_available(room, clients_file(kind, room[LISTED].address))
    newcomer_is_answered_and_listed(room, console)
    assert notices(console) == []


def test_empty_clients_file_finds_the_station_by_broadcast(console_room):
    room = console_room
    console = listed_station_shows_available(room, "")
    newcomer_is_answered_and_listed(room, console)
    assert notices(console) == []


def editor_rows(console):
    result = console.probe("rows", EDITOR, EDITOR_LIST, check=False)
    return [text for text, _ in roomlib.parse_rows(result.stdout)] if result.returncode == 0 else None


def test_the_editor_takes_words_up_to_a_nul_and_keeps_broken_comments_whole(console_room):
    room = console_room
    address = room[LISTED].address.encode()
    long_word = b"z" * 100_000
    clients = (b"# room\x00 one\r\n#\xff\xfe\r\n\r\n" + long_word + b"\r\n" + b"pc1\x00junk\r\n"
               + b"\x00pc2\r\n" + address + b"\r\n" + b"# late\r\n" * (MEGABYTES_10 // 8))
    console = start_console(room, clients)
    console.command(EDIT_CLIENT_LIST)
    expected = [address.decode(), "pc1", long_word.decode()]
    assert roomlib.wait_until(lambda: editor_rows(console) == expected, START_TIMEOUT), (
        [row[:40] for row in editor_rows(console) or []])

    # The leading comments are copied byte for byte, NULs and all; the comments after the first
    # entry and the line that is blank up to its NUL are not kept.
    console.click(EDITOR_SAVE, title=EDITOR)
    saved = (b"# room\x00 one\r\n#\xff\xfe\r\n" + b"\r\n" + address + b"\r\npc1\r\n"
             + long_word)
    server = room[SERVER]
    assert roomlib.wait_until(lambda: server.read_file("clients") == saved, 10), (
        server.read_file("clients")[:200])
    assert console.process.running
