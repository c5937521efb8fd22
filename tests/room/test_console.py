"""VorlekServer.exe in a room: start-up, registration of stations by their hello, the rows of
every reported state and the operator notices. The agents are fakes that send and check
datagrams written as byte literals; the rows and boxes are read with the probe."""

import time

import pytest

import room as roomlib
from console_support import (AVAILABLE, HELLO, INFORMATION, SERVER, SETTLE, START_TIMEOUT,
                             STATUS_REQUEST, WARNING, Console, PortBlocker, fake_agents,
                             press_keys, shot_folder)

HOSTS = [SERVER, "vlhost1", "vlhost2", "vlhost3", "nameless"]
# Listed in "clients" so that the console starts without discovery; nobody answers for it.
ABSENT = "198.51.100.99"
ABSENT_ROW = f"N/A ( {ABSENT} ) -- state OFF"


@pytest.fixture
def console_room(room_factory):
    with fake_agents(room_factory(HOSTS, unnamed=["nameless"])) as room:
        yield room


def start_console(room, clients=None, wait=True, switches=()):
    server = room[SERVER]
    if clients is not None:
        server.put_file("clients", clients)
    console = Console(server, server.start(room.release("VorlekServer.exe"), *switches))
    if wait:
        assert console.wait_for_window()
    return console


def row(room, name, state="", label=None):
    return f"{label or name} ( {room[name].address} ){state}"


def right_after_a_tick(ticker, action):
    """Runs action just after the console's one-second tick, seen as the poll that reaches
    ticker (a station the console polls on every tick). Returns action's result, or None when
    the next tick came before action had ended."""
    polls = len(ticker.wait_for(STATUS_REQUEST))
    ticker.wait_for(STATUS_REQUEST, count=polls + 1, timeout=3)
    started = time.clock_gettime_ns(time.CLOCK_REALTIME)
    result = action()
    later = [arrival for arrival, data, _ in ticker.received()
             if data == STATUS_REQUEST and arrival > started]
    return None if later else result


def test_hello_adds_a_selected_row_and_reports_rewrite_it(console_room, windows_build):
    room = console_room
    server = room[SERVER].address
    server_port = (server, roomlib.STATION_PORT)
    console = start_console(room, f"# nobody answers here\r\n{ABSENT}\r\n")
    # The first tick shows the listed address as OFF; the hellos come after it.
    assert console.wait_rows(lambda rows: rows == [ABSENT_ROW]) == [ABSENT_ROW]

    # A station that reports 0 seconds left is polled on every tick: the test's clock.
    ticker = room.agent("vlhost1", report=b"\x04\x00\x00\x00\x00")
    ticker.send(HELLO, server)
    assert [(d, s) for _, d, s in ticker.wait_for(STATUS_REQUEST)] == [(STATUS_REQUEST,
                                                                         server_port)]
    ticking = row(room, "vlhost1", " -- state NORMAL, remains 00:00:00")
    assert console.wait_rows(lambda rows: ticking in rows) == [ABSENT_ROW, ticking]

    # A hello from another port is answered to that port; the row stands until the next tick
    # counts the new station (0 s) down and polls it at its port 10001.
    host2 = room.agent("vlhost2")
    odd_port = room["vlhost2"].peer(port=40000, receive_broadcasts=False)
    rows = right_after_a_tick(ticker, lambda: (odd_port.send(server, HELLO),
                                               odd_port.recv(START_TIMEOUT), console.rows()))
    if rows is not None:
        assert rows[1] == (STATUS_REQUEST, server_port)
        assert (row(room, "vlhost2"), True) in rows[2]
    host2.wait_for(STATUS_REQUEST)
    assert console.wait_rows(lambda rows: row(room, "vlhost2", " -- state AVAILABLE") in rows)

    nameless = room.agent("nameless", answering=False)
    unnamed_rows = right_after_a_tick(
        ticker, lambda: (nameless.send(HELLO, server), nameless.wait_for(STATUS_REQUEST),
                         console.rows()))
    if unnamed_rows is not None:
        assert (row(room, "nameless", label="N/A"), True) in unnamed_rows[2]
    # Whichever tick came first, one of the two hellos was seen as its plain row.
    assert rows is not None or unnamed_rows is not None
    nameless.answering = True

    # A second hello is an agent started again: asked for its status, it reports AVAILABLE and
    # is given back what it had and the warning, with no notice and no new row. (Only the
    # ticker's row is left selected, so that its polls go to it alone.)
    console.select(console.row_texts().index(ticking))
    host2.forget()
    host2.send(HELLO, server)
    restored = [b"\x03\x02\x00\x00\x80", WARNING]
    assert roomlib.wait_until(lambda: [d for d in host2.datagrams() if d != STATUS_REQUEST]
                              == restored, 5), host2.datagrams()
    assert host2.datagrams()[0] == STATUS_REQUEST
    time.sleep(SETTLE)
    assert len(console.rows()) == 4
    assert [caption for caption, _ in console.boxes() if caption == INFORMATION] == []

    def reports(word, *states):
        """Sends the report; the rows once vlhost1's row shows one of the states."""
        ticker.report = word
        ticker.send(word, server)
        expected = {row(room, "vlhost1", state) for state in states}
        return console.wait_rows(lambda rows: expected & set(rows), timeout=5)

    # 3661 s. The console counts down by itself; a tick may already have passed.
    rows = reports(b"\x04\x4d\x0e\x00\x00", " -- state NORMAL, remains 01:01:01",
                   " -- state NORMAL, remains 01:01:00")
    assert {row(room, "vlhost1", " -- state NORMAL, remains 01:01:01"),
            row(room, "vlhost1", " -- state NORMAL, remains 01:01:00")} & set(rows)
    paused = " -- state PAUSED, remains 01:00:00"
    assert row(room, "vlhost1", paused) in reports(b"\x04\x10\x0e\x00\x20", paused)
    unlimited = " -- state UNLIMITED"
    assert row(room, "vlhost1", unlimited) in reports(b"\x04\x00\x00\x00\x80", unlimited)
    console.set_text(1008, "1:00")
    available = " -- state AVAILABLE"
    assert row(room, "vlhost1", available) in reports(AVAILABLE, available)
    assert console.text(1008) == "N/A"

    # BLOCKED twice: one notice.
    ticker.send(b"\x04\x03\x00\x00\x80", server)
    assert row(room, "vlhost1", " -- state BLOCKED") in reports(b"\x04\x03\x00\x00\x80",
                                                              " -- state BLOCKED")
    assert console.wait_box(INFORMATION) == (
        f"Client 'vlhost1' ( {room['vlhost1'].address} ) is BLOCKED")
    assert console.close_box(INFORMATION) is not None
    time.sleep(SETTLE)
    assert [caption for caption, _ in console.boxes() if caption == INFORMATION] == []

    # The other stations in other states, sorted as the list box sorts.
    host2.report = b"\x04\x4d\x0e\x00\x00"
    odd_port.send(server, host2.report)
    nameless.report = b"\x04\x58\x02\x00\x20"  # paused with 600 s
    nameless.send(nameless.report, server)
    rows = console.wait_rows(lambda rows: "PAUSED" in rows[0] and "NORMAL" in rows[3])
    assert rows[:3] == [
        row(room, "nameless", " -- state PAUSED, remains 00:10:00", label="N/A"),
        ABSENT_ROW,
        row(room, "vlhost1", " -- state BLOCKED"),
    ]
    assert rows[3].startswith(row(room, "vlhost2", " -- state NORMAL, remains 01:0"))

    # A report from an address that never said hello and is not listed changes nothing.
    stranger = room.agent("vlhost3", answering=False)
    stranger.send(AVAILABLE, server)
    time.sleep(SETTLE)
    assert len(console.rows()) == 4
    assert stranger.datagrams() == []

    room.screenshot(shot_folder(windows_build) / "console-stations.png")
    assert console.process.running

    # The close box (Alt+F4) ends the console like Exit.
    press_keys(room, "alt+F4")
    assert console.process.wait(START_TIMEOUT) == 0


def test_without_clients_the_stations_that_answer_the_broadcast_are_polled(console_room):
    room = console_room
    host1 = room.agent("vlhost1")
    host2 = room.agent("vlhost2")
    silent = room.agent("vlhost3", answering=False)
    console = start_console(room)
    server_port = (room[SERVER].address, roomlib.STATION_PORT)

    # The broadcast request reaches every host; the two agents answer it.
    for agent in (host1, host2, silent):
        _, data, sender = agent.wait_for(STATUS_REQUEST)[0]
        assert (data, sender) == (STATUS_REQUEST, server_port)

    # After the five seconds of discovery, the first tick polls every collected address.
    for agent in (host1, host2):
        assert len(agent.wait_for(STATUS_REQUEST, count=2)) == 2
    expected = [row(room, "vlhost1", " -- state AVAILABLE"),
                row(room, "vlhost2", " -- state AVAILABLE")]
    assert console.wait_rows(lambda rows: rows == expected) == expected
    assert silent.datagrams() == [STATUS_REQUEST]

    console.command(40013)  # File, Exit
    assert console.process.wait(START_TIMEOUT) == 0


def test_a_port_held_without_reuse_ends_the_console_after_two_boxes(console_room):
    room = console_room
    blocker = PortBlocker(room[SERVER])
    try:
        console = start_console(room, f"{room['vlhost1'].address}\n", wait=False)
        # The endpoint's own box (no caption: Wine's default one), then the console's.
        boxes = roomlib.wait_until(console.boxes, START_TIMEOUT)
        assert len(boxes) == 1
        caption, text = boxes[0]
        assert text == "bind() returned error 10013"
        assert console.close_box(caption) is not None
        assert console.wait_box("Vorlek Server") == "Network error"
        assert console.process.running
        assert console.close_box("Vorlek Server") is not None
        assert console.process.wait(START_TIMEOUT) == 0
    finally:
        blocker.close()


def test_rows_take_names_from_a_slow_name_server_and_follow_its_changes(room_factory):
    # Only the name server knows the stations: it answers every reverse look-up after 200 ms.
    stations = ["vlhost1", "vlhost2", "vlhost3"]
    with fake_agents(room_factory([SERVER, "names"] + stations, unnamed=stations,
                                  name_server="names")) as room:
        room.set_names(delay=0.2)
        agents = [room.agent(name, report=b"\x04\x10\x0e\x00\x00") for name in stations]
        console = start_console(room, "".join(f"{room[n].address}\r\n" for n in stations))
        made_up = [f"pc-{room[n].address.replace('.', '-')}" for n in stations]
        counting = [row(room, n, " -- state NORMAL, remains 00:59:", label=made_up[i])
                    for i, n in enumerate(stations)]
        assert console.wait_rows(lambda rows: len(rows) == 3 and all(
            r.startswith(c) for r, c in zip(rows, counting)))

        # Renamed, and gone from the name service: both reach their rows within 15 s, while
        # the rows go on counting.
        room.set_names(delay=0.2, names={room["vlhost1"].address: "renamed",
                                         room["vlhost2"].address: None})
        changed = time.monotonic()
        renamed = [row(room, "vlhost2", " -- state NORMAL", label="N/A"),
                   row(room, "vlhost3", " -- state NORMAL", label=made_up[2]),
                   row(room, "vlhost1", " -- state NORMAL", label="renamed")]
        assert console.wait_rows(lambda rows: len(rows) == 3 and all(
            r.startswith(c) for r, c in zip(rows, renamed)), timeout=15)
        assert time.monotonic() - changed < 15
        assert [len(a.wait_for(STATUS_REQUEST)) > 0 for a in agents] == [True] * 3

        # With the name server hanging, Exit still ends the console at once.
        room.set_names(delay=600)
        time.sleep(10)
        console.command(40013)  # File, Exit
        closed = time.monotonic()
        assert console.process.wait(START_TIMEOUT) == 0
        assert time.monotonic() - closed < 3


def test_hellos_listed_registers_a_listed_station_but_no_stranger(console_room):
    room = console_room
    server = room[SERVER].address
    room.agent("vlhost1")
    stranger = room.agent("vlhost2")
    listed_port = room["vlhost1"].peer(port=40001, receive_broadcasts=False)
    strange_port = room["vlhost2"].peer(port=40000, receive_broadcasts=False)
    console = start_console(room, f"{room['vlhost1'].address}\r\n", wait=False,
                            switches=["/Hellos=LISTED"])

    # Hellos from the moment the console starts: the first one its socket takes is handled
    # before the first tick has made a record for the listed station, and is answered.
    def answered():
        listed_port.send(server, HELLO)
        strange_port.send(server, HELLO)
        return listed_port.recv(0.1)

    assert roomlib.wait_until(answered, START_TIMEOUT) == (STATUS_REQUEST,
                                                           (server, roomlib.STATION_PORT))
    available = row(room, "vlhost1", " -- state AVAILABLE")
    assert available in console.wait_rows(lambda rows: available in rows)
    assert strange_port.recv_all(SETTLE) == []
    assert stranger.datagrams() == []
    # However many hellos of vlhost1 came, every row is vlhost1's: the hello's, and the one the
    # first tick gives the listed address.
    assert {text.split(" -- ")[0] for text in console.row_texts()} == {row(room, "vlhost1")}


def test_a_refused_switch_ends_the_console_with_its_box_before_anything_is_sent(console_room):
    room = console_room
    host1 = room.agent("vlhost1")
    console = start_console(room, wait=False, switches=["/hellos=listed", "/HELLOS=any"])
    assert console.wait_box("Vorlek Server") == (
        'Switch given twice: "/HELLOS=any".\nUsage: VorlekServer.exe [/hellos=any|listed] '
        '[/notices=each|summary] [/orders=unsigned|signed] [/journal=FOLDER]')
    assert console.close_box("Vorlek Server") is not None
    assert console.process.wait(START_TIMEOUT) == 0
    # Not even the discovery's broadcast went out.
    time.sleep(SETTLE)
    assert host1.datagrams() == []
