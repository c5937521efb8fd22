"""The operator's commands in VorlekServer.exe under Wine: buttons, menu items and Alt+letters
on selected rows, the option dialogs, the station-list editor, and the one-second work that
counts stations down, polls them and declares them OFF and ON. Fake agents check every
datagram as raw bytes."""

import time

import pytest

import room as roomlib
from console_support import (AVAILABLE, HELLO, INFORMATION, SERVER, SETTLE, START_TIMEOUT,
                             STATUS_REQUEST, WARNING, Console, fake_agents, focus_window,
                             press_keys, shot_folder, type_into, xdotool)

HOSTS = [SERVER, "vlhost1", "vlhost2", "vlhost3", "nameless"]
# A report that leaves the Death Timer edit alone and is not counted down: paused, 3600 s.
PAUSED_HOUR = b"\x04\x10\x0e\x00\x20"
HOUR = b"\x04\x10\x0e\x00\x00"
BLOCKED = b"\x04\x03\x00\x00\x80"


@pytest.fixture
def console_room(room_factory):
    with fake_agents(room_factory(HOSTS, unnamed=["nameless"])) as room:
        yield room


def start_console(room, clients):
    server = room[SERVER]
    server.put_file("clients", clients)
    console = Console(server, server.start(room.release("VorlekServer.exe")))
    assert console.wait_for_window()
    return console


def row(room, name, state="", label=None):
    return f"{label or name} ( {room[name].address} ){state}"


def is_warning(data):
    """A command word from 0x90000000 to 0xBFFFFFFF: a warning threshold."""
    return 0x90 <= data[4] <= 0xBF


def commands(agent):
    """The 5-byte commands an agent has received, in order, the client warnings left out."""
    return [data for data in agent.datagrams() if data[:1] == b"\x03" and not is_warning(data)]


def warnings(agent):
    """The client warnings an agent has received, in order."""
    return [data for data in agent.datagrams() if data[:1] == b"\x03" and is_warning(data)]


def wait_commands(agents, expected, timeout=5, of=commands):
    """Waits until each agent has received the expected commands (or warnings, with
    of=warnings); returns what they got."""
    roomlib.wait_until(lambda: all(of(a) == expected for a in agents), timeout)
    return [of(a) for a in agents]


def test_commands_go_to_the_selected_rows_in_row_order(console_room, windows_build):
    room = console_room
    shots = shot_folder(windows_build)
    agents = [room.agent(name, report=PAUSED_HOUR) for name in ("vlhost1", "vlhost2", "vlhost3")]
    # Listed in the reverse of the rows' order.
    console = start_console(room, "".join(f"{a.address}\r\n" for a in reversed(agents)))
    expected = [row(room, name, " -- state PAUSED, remains 01:00:00")
                for name in ("vlhost1", "vlhost2", "vlhost3")]
    assert console.wait_rows(lambda rows: rows == expected) == expected

    # Selecting asks every selected station for its status.
    for agent in agents:
        agent.forget()
    console.select(0, 1)
    assert [a.datagrams() for a in agents] == [[STATUS_REQUEST], [STATUS_REQUEST], []]

    for agent in agents:
        agent.forget()
    console.click(1032)  # "1 hour."
    hour = b"\x03\x10\x0e\x00\xc0"
    assert wait_commands(agents[:2], [hour]) == [[hour], [hour]]
    time.sleep(SETTLE)
    assert commands(agents[2]) == []

    console.select(0, 1, 2)
    for agent in agents:
        agent.forget()
    console.click(1013)  # "&Pause"
    pause = b"\x03\x01\x00\x00\x80"
    assert wait_commands(agents, [pause]) == [[pause]] * 3
    arrivals = [a.received()[0][0] for a in agents]
    assert arrivals == sorted(arrivals)

    # The Death Timer: minutes:seconds, 0 blocks, letters send nothing.
    for text, word in [("1:30", b"\x03\x5a\x00\x00\x00"), ("0", b"\x03\x03\x00\x00\x80")]:
        for agent in agents:
            agent.forget()
        console.set_text(1008, text)
        console.click(1016)  # "&Update"
        assert wait_commands(agents, [word]) == [[word]] * 3, text
    for agent in agents:
        agent.forget()
    console.set_text(1008, "abc")
    console.click(1016)
    time.sleep(SETTLE)
    assert [commands(a) for a in agents] == [[], [], []]
    room.screenshot(shots / "console-main.png")

    # The option dialogs open with their defaults.
    for command, title, check, edit, value in [(40014, "Periodic Check", 1042, 1043, "00:01:00"),
                                               (40015, "Timeout", 1038, 1010, "00:00:05"),
                                               (40016, "Client Warning", 1046, 1052, "00:10:00")]:
        console.command(command)
        assert console.text(edit, title=title) == value
        assert console.probe("state", title, check).stdout.split() == [
            "enabled=1", "visible=1", "checked=1"]
        room.screenshot(shots / f"console-{title.lower().replace(' ', '-')}.png")
        console.click({1042: 1045, 1038: 1041, 1046: 1048}[check], title=title)  # "Close"
        assert roomlib.wait_until(lambda: title not in console.probe("windows").stdout, 5)

    # "Set" stores what the edit gives; a period below 1 s would stop the periodic check.
    for command, title, edit, set_button, close, text, shown in [
            (40014, "Periodic Check", 1043, 1044, 1045, "0", "00:01:00"),
            (40014, "Periodic Check", 1043, 1044, 1045, "1:30:00", "01:30:00"),
            (40015, "Timeout", 1010, 1040, 1041, "2:30", "00:02:30")]:
        console.command(command)
        console.set_text(edit, text, title=title)
        console.click(set_button, title=title)
        assert roomlib.wait_until(lambda: title not in console.probe("windows").stdout, 5)
        console.command(command)
        assert console.text(edit, title=title) == shown, text
        console.click(close, title=title)
        assert roomlib.wait_until(lambda: title not in console.probe("windows").stdout, 5)
    console.command(40016)

    # "Set" in Client Warning sends 0x90000000 + 300 to every listed address.
    for agent in agents:
        agent.forget()
    console.set_text(1052, "5:00", title="Client Warning")
    console.click(1053, title="Client Warning")
    warning = b"\x03\x2c\x01\x00\x90"
    assert wait_commands(agents, [warning], of=warnings) == [[warning]] * 3
    assert "Client Warning" not in console.probe("windows").stdout

    # Switched off, the warning's edit and "Set" are disabled and it reopens empty.
    console.command(40016)
    console.click(1046, title="Client Warning")
    time.sleep(0.5)
    assert console.probe("state", "Client Warning", 1052).stdout.split()[0] == "enabled=0"
    assert console.probe("state", "Client Warning", 1053).stdout.split()[0] == "enabled=0"
    console.click(1048, title="Client Warning")
    time.sleep(0.5)
    console.command(40016)
    assert console.text(1052, title="Client Warning") == ""
    assert console.probe("state", "Client Warning", 1046).stdout.split()[2] == "checked=0"
    console.click(1048, title="Client Warning")
    assert console.process.running


def test_typed_times_that_would_make_another_command_send_nothing_new(console_room):
    room = console_room
    agents = [room.agent(name, report=PAUSED_HOUR) for name in ("vlhost1", "vlhost2")]
    console = start_console(room, "".join(f"{a.address}\r\n" for a in agents))
    assert console.wait_rows(lambda rows: len(rows) == 2 and all("PAUSED" in r for r in rows))
    console.select(0, 1)

    # Reboot, add time and unlock, and a count beyond the console's countdown (it would carry
    # the console's OFF mark): the Death Timer sends nothing, as for letters.
    for text in ["2147483656", "-1:0", "4294967295", "300000000"]:
        type_into(console, room, 1008, text)
        console.click(1016)  # "&Update"
    time.sleep(SETTLE)
    assert [commands(a) for a in agents] == [[], []]
    # In range, the paused bit is cleared as ever.
    type_into(console, room, 1008, "536870917")
    console.click(1016)
    assert wait_commands(agents, [b"\x03\x05\x00\x00\x00"]) == [[b"\x03\x05\x00\x00\x00"]] * 2
    # Once "&Update" has read it, the value is no longer being typed: a report writes "N/A".
    agents[0].send(AVAILABLE, room[SERVER].address)
    assert roomlib.wait_until(lambda: console.text(1008) == "N/A", 5), console.text(1008)

    # A warning that would unlock and stop every countdown, or add years: the unchanged 600 s.
    for text in ["-1", "999999999"]:
        for agent in agents:
            agent.forget()
        console.command(40016)
        type_into(console, room, 1052, text, title="Client Warning")
        console.click(1053, title="Client Warning")  # "Set"
        assert wait_commands(agents, [WARNING], of=warnings) == [[WARNING]] * 2, text

    # Escape closes an option dialog as its "Close" does.
    for agent in agents:
        agent.forget()
    console.command(40016)
    assert console.wait_box("Client Warning", timeout=5) is not None
    focus_window(room, "Client Warning")
    xdotool(room, "key", "Escape")
    assert roomlib.wait_until(lambda: "Client Warning" not in console.probe("windows").stdout, 5)
    time.sleep(SETTLE)
    assert [commands(a) for a in agents] == [[], []]
    assert [warnings(a) for a in agents] == [[], []]


def test_new_rows_lose_their_selection_and_restarted_agents_get_back_what_they_had(console_room):
    room = console_room
    listed = room.agent("vlhost2", report=PAUSED_HOUR)
    server = room[SERVER].address
    console = start_console(room, f"{listed.address}\n")
    paused = row(room, "vlhost2", " -- state PAUSED, remains 01:00:00")
    assert console.wait_rows(lambda rows: rows == [paused]) == [paused]

    # The operator selects vlhost2. Two stations the list does not name say hello and report
    # AVAILABLE: their rows were added selected, and their first reports drop that selection.
    # "&Pause" reaches vlhost2 alone.
    console.select(0)
    newcomers = [room.agent(name) for name in ("vlhost1", "vlhost3")]
    for agent in newcomers:
        agent.send(HELLO, server)
    expected = [row(room, "vlhost1", " -- state AVAILABLE"), paused,
                row(room, "vlhost3", " -- state AVAILABLE")]
    assert console.wait_rows(lambda rows: rows == expected) == expected
    assert [selected for _, selected in console.rows()] == [False, True, False]
    console.click(1013)  # "&Pause"
    pause = b"\x03\x01\x00\x00\x80"
    assert wait_commands([listed], [pause]) == [[pause]]
    time.sleep(SETTLE)
    assert [commands(a) for a in newcomers] == [[], []]

    # vlhost2's user logs off and on: its agent says hello again and reports AVAILABLE. It is
    # given its paused hour back as time, with no notice.
    listed.report = AVAILABLE
    listed.send(HELLO, server)
    hour = b"\x03\x10\x0e\x00\x00"
    assert wait_commands([listed], [pause, hour]) == [[pause, hour]]
    counting = row(room, "vlhost2", " -- state NORMAL, remains 0")
    assert console.wait_rows(lambda rows: rows[1].startswith(counting), timeout=5)[1].startswith(
        counting)
    assert information(console) == []

    # The client warning shown as enabled reached the listed station at the start, and each
    # station at its hello.
    assert [warnings(a) for a in [listed] + newcomers] == [[WARNING, WARNING], [WARNING],
                                                            [WARNING]]


def test_a_check_period_shorter_than_three_timeouts_still_finds_a_silent_station(console_room):
    room = console_room
    station = room.agent("vlhost1")
    console = start_console(room, f"{station.address}\n")
    available = [row(room, "vlhost1", " -- state AVAILABLE")]
    assert console.wait_rows(lambda rows: rows == available) == available
    console.set_option(40014, "Periodic Check", 1043, 1044, "1")

    # Asked every second, it stops answering: OFF three timeouts of 5 s after the first request
    # it left unanswered.
    station.answering = False
    station.forget()
    assert len(station.wait_for(STATUS_REQUEST, count=3, timeout=10)) == 3
    off = f"Client 'vlhost1' ( {station.address} ) is OFF"
    assert console.wait_box(INFORMATION, timeout=30) == off
    assert console.close_box(INFORMATION) == off


def test_silent_stations_go_off_and_come_back_on(console_room):
    room = console_room
    host1 = room.agent("vlhost1")
    host2 = room.agent("vlhost2", answering=False)
    nameless = room.agent("nameless", answering=False)
    server = room[SERVER].address
    console = start_console(room, f"{host1.address}\n{host2.address}\n{nameless.address}\n")

    # The first tick shows every listed station OFF and polls each of them.
    for agent in (host1, host2, nameless):
        agent.wait_for(STATUS_REQUEST)
    expected = [row(room, "nameless", " -- state OFF", label="N/A"),
                row(room, "vlhost1", " -- state AVAILABLE"),
                row(room, "vlhost2", " -- state OFF")]
    assert console.wait_rows(lambda rows: rows == expected) == expected

    # An OFF station from the start answers: no notice, no command.
    host2.send(AVAILABLE, server)
    expected[2] = row(room, "vlhost2", " -- state AVAILABLE")
    assert console.wait_rows(lambda rows: rows == expected) == expected
    assert [box for box in console.boxes() if box[0] == INFORMATION] == []
    assert commands(host2) == []

    # Asked by a click on its row, it stays silent: OFF three timeouts of 5 s later.
    host2.forget()
    console.select(2)
    (asked, _, _), = host2.wait_for(STATUS_REQUEST)
    notice = f"Client 'vlhost2' ( {host2.address} ) is OFF"
    assert console.wait_box(INFORMATION, timeout=30) == notice
    declared = time.clock_gettime_ns(time.CLOCK_REALTIME)
    assert 13 <= (declared - asked) / 1e9 <= 25
    # While the notice is open, datagrams are still handled, and the row is OFF already.
    host1.report = b"\x04\x10\x0e\x00\x20"
    host1.send(host1.report, server)
    expected[1] = row(room, "vlhost1", " -- state PAUSED, remains 01:00:00")
    expected[2] = row(room, "vlhost2", " -- state OFF")
    assert console.wait_rows(lambda rows: rows == expected, timeout=5) == expected

    # Its agent restarted and answers while the notice is still open: told to take back its
    # word, and the operator is told.
    host2.send(AVAILABLE, server)
    assert wait_commands([host2], [b"\x03\x02\x00\x00\x80"]) == [[b"\x03\x02\x00\x00\x80"]]
    on = f"Client 'vlhost2' ( {host2.address} ) is ON"
    assert roomlib.wait_until(lambda: len(information(console)) == 2, 5), console.boxes()
    assert sorted(information(console)) == [notice, on]
    assert sorted([console.close_box(INFORMATION), console.close_box(INFORMATION)]) == [notice, on]
    expected[2] = row(room, "vlhost2", " -- state AVAILABLE")
    assert console.wait_rows(lambda rows: rows == expected, timeout=5) == expected
    # The station listed without a name never answered: OFF, and never a notice for it.
    assert [text for caption, text in console.boxes() if caption == INFORMATION] == []


def information(console):
    """The texts of the open information boxes."""
    return [text for caption, text in console.boxes() if caption == INFORMATION]


def go_off(console, agent, index):
    """Silences the agent and clicks its row, which asks it for its status: it is OFF three
    timeouts later. Closes the notice."""
    agent.answering = False
    console.select(index)
    off = f"Client '{agent.host.name}' ( {agent.address} ) is OFF"
    assert console.wait_box(INFORMATION, timeout=START_TIMEOUT) == off
    assert console.close_box(INFORMATION) == off


def test_stations_back_from_off_keep_the_state_they_report(console_room):
    room = console_room
    counting = room.agent("vlhost1", report=b"\x04\x58\x02\x00\x00")  # 600 s
    blocked = room.agent("vlhost2", report=BLOCKED)
    # A reboot word, which no agent reports about itself.
    rebooting = room.agent("vlhost3", report=b"\x04\x08\x00\x00\x80")
    server = room[SERVER].address
    agents = (counting, blocked, rebooting)
    console = start_console(room, "".join(f"{a.address}\n" for a in agents))
    assert console.close_box(INFORMATION) == f"Client 'vlhost2' ( {blocked.address} ) is BLOCKED"
    console.set_option(40015, "Timeout", 1010, 1040, "1")  # one try of a second

    def back(agent, report, state, *notices):
        """The agent answers again with report: the notices come one after the other, and its
        row shows the state."""
        agent.send(report, server)
        for notice in notices:
            assert console.wait_box(INFORMATION) == (
                f"Client '{agent.host.name}' ( {agent.address} ) is {notice}")
            assert console.close_box(INFORMATION) is not None
        expected = row(room, agent.host.name, state)
        assert console.wait_rows(lambda rows: expected in rows, timeout=5)

    # Its agent counted on, ran out and locked itself: no time is given back.
    go_off(console, counting, 0)
    back(counting, BLOCKED, " -- state BLOCKED", "ON")
    # While the BLOCKED notice is open, time the operator gave is reported, and it stays.
    assert console.wait_box(INFORMATION) == f"Client 'vlhost1' ( {counting.address} ) is BLOCKED"
    counting.send(HOUR, server)
    given = row(room, "vlhost1", " -- state NORMAL, remains 0")
    assert console.wait_rows(lambda rows: rows[0].startswith(given), timeout=5)
    assert console.close_box(INFORMATION) is not None
    time.sleep(SETTLE)
    assert console.row_texts()[0].startswith(given)

    go_off(console, blocked, 1)
    back(blocked, BLOCKED, " -- state BLOCKED", "ON", "BLOCKED")
    go_off(console, rebooting, 2)
    back(rebooting, AVAILABLE, " -- state AVAILABLE", "ON")
    time.sleep(SETTLE)
    assert [commands(a) for a in agents] == [[], [], []]


def test_a_silent_station_at_zero_goes_off_though_it_is_polled_every_second(console_room):
    room = console_room
    ending = room.agent("vlhost2", report=b"\x04\x03\x00\x00\x00")  # 3 s
    console = start_console(room, f"{ending.address}\n")
    ending.wait_for(STATUS_REQUEST)
    ending.answering = False

    # The population's request, then one a second from the first at zero.
    polls = ending.wait_for(STATUS_REQUEST, count=3, timeout=10)
    ran_out = polls[1][0]
    off = f"Client 'vlhost2' ( {ending.address} ) is OFF"
    assert console.wait_box(INFORMATION, timeout=30) == off
    assert 14 <= (time.clock_gettime_ns(time.CLOCK_REALTIME) - ran_out) / 1e9 <= 21
    assert console.row_texts() == [row(room, "vlhost2", " -- state OFF")]
    assert console.close_box(INFORMATION) == off
    ending.forget()
    time.sleep(2.5)
    assert ending.datagrams() == []


def test_the_selection_stays_on_the_clicked_station_while_a_new_row_sorts_in(console_room):
    room = console_room
    agents = [room.agent(name, report=HOUR) for name in ("vlhost2", "vlhost3")]
    server = room[SERVER].address
    console = start_console(room, "".join(f"{a.address}\n" for a in agents))
    assert console.wait_rows(lambda rows: len(rows) == 2 and all("NORMAL" in r for r in rows))
    console.select(1)

    newcomer = room.agent("vlhost1")
    newcomer.send(HELLO, server)
    newcomer.wait_for(STATUS_REQUEST)
    time.sleep(2 * SETTLE)  # the counting rows are rewritten at every tick
    rows = console.rows()
    assert [text.split(" -- ")[0] for text, _ in rows] == [
        row(room, name) for name in ("vlhost1", "vlhost2", "vlhost3")]
    assert [selected for _, selected in rows[1:]] == [False, True], rows

    for agent in agents:
        agent.forget()
    console.click(1013)  # "&Pause"
    pause = b"\x03\x01\x00\x00\x80"
    assert wait_commands(agents[1:], [pause]) == [[pause]]
    time.sleep(SETTLE)
    assert commands(agents[0]) == []


def test_stations_count_down_by_the_clock_and_are_polled_at_zero(console_room):
    room = console_room
    counting = room.agent("vlhost1", report=b"\x04\x64\x00\x00\x00")  # 100 s
    ending = room.agent("vlhost2", report=b"\x04\x03\x00\x00\x00")  # 3 s
    server = room[SERVER].address
    console = start_console(room, f"{counting.address}\n{ending.address}\n")
    ending.wait_for(STATUS_REQUEST)
    ending.answering = False

    def remaining(name):
        prefix = row(room, name, " -- state NORMAL, remains ")
        rows = console.wait_rows(lambda rows: any(r.startswith(prefix) for r in rows))
        hours, minutes, seconds = next(r for r in rows if r.startswith(prefix))[
            len(prefix):].split(":")
        return int(hours) * 3600 + int(minutes) * 60 + int(seconds)

    first = remaining("vlhost1")
    started = time.monotonic()
    time.sleep(4)
    later = remaining("vlhost1")
    elapsed = time.monotonic() - started
    assert 97 <= first <= 100
    # Each reading may be up to a tick and a probe call away from its moment.
    assert first - elapsed - 2 <= later <= first - elapsed + 2

    # vlhost2 reached 0: polled once a second until it reports something else.
    polls = ending.wait_for(STATUS_REQUEST, count=5, timeout=10)
    assert len(polls) >= 5
    gaps = [(b[0] - a[0]) / 1e9 for a, b in zip(polls[1:], polls[2:])]
    assert all(0.3 <= gap <= 2 for gap in gaps), gaps
    assert row(room, "vlhost2", " -- state NORMAL, remains 00:00:00") in console.row_texts()

    ending.send(b"\x04\x03\x00\x00\x80", server)
    assert console.wait_box(INFORMATION) == f"Client 'vlhost2' ( {ending.address} ) is BLOCKED"
    console.close_box(INFORMATION)
    ending.forget()
    time.sleep(2.5)
    assert ending.datagrams() == []
    assert row(room, "vlhost2", " -- state BLOCKED") in console.row_texts()


def test_the_editor_saves_the_sorted_entries_after_the_leading_comments(console_room,
                                                                         windows_build):
    room = console_room
    shots = shot_folder(windows_build)
    clients = "# room one\n\npc2\n198.51.100.99  # nobody\npc1\n# trailing\n"
    console = start_console(room, clients)
    editor = "Edit Clients List"
    console.command(40017)
    assert console.row_texts(editor, 1054) == ["198.51.100.99", "pc1", "pc2"]

    console.click(1055, title=editor)  # "Add"
    console.set_text(1057, "pc0", title="Add Client")
    room.screenshot(shots / "console-add-client.png")
    console.click(1058, title="Add Client")  # "OK"
    assert console.wait_rows(lambda _: "pc0" in console.row_texts(editor, 1054), timeout=5)
    console.click(1055, title=editor)
    console.set_text(1057, "pc9", title="Add Client")
    console.click(1059, title="Add Client")  # "Cancel"
    time.sleep(SETTLE)
    assert console.row_texts(editor, 1054) == ["198.51.100.99", "pc0", "pc1", "pc2"]

    # "Remove" removes the selected entry, and nothing without a selection.
    console.click(1056, title=editor)
    time.sleep(SETTLE)
    assert len(console.row_texts(editor, 1054)) == 4
    console.select_in(editor, 1054, 0)
    console.click(1056, title=editor)
    time.sleep(SETTLE)
    assert console.row_texts(editor, 1054) == ["pc0", "pc1", "pc2"]
    room.screenshot(shots / "console-editor.png")

    # A save that cannot create "newclients" (a folder of that name is in the way) leaves
    # "clients" as it was, and says so.
    server = room[SERVER]
    server.path("newclients").mkdir()
    console.click(1057, title=editor)  # "Save"
    failed = console.wait_box("Vorlek Server", timeout=10)
    room.screenshot(shots / "console-save-failed.png")
    assert console.close_box("Vorlek Server") == failed == (
        'The client list was not saved.\n\nC:\\vorlek\\newclients: Permission denied\n\n'
        '"clients" was left as it was.')
    assert server.read_file("clients") == clients.encode()
    server.path("newclients").rmdir()

    # Escape cancels "Add Client".
    console.click(1055, title=editor)
    type_into(console, room, 1057, "pc8", title="Add Client")
    xdotool(room, "key", "Escape")
    assert roomlib.wait_until(lambda: "Add Client" not in console.probe("windows").stdout, 5)
    assert console.row_texts(editor, 1054) == ["pc0", "pc1", "pc2"]

    console.click(1057, title=editor)
    assert roomlib.wait_until(
        lambda: server.read_file("clients") == b"# room one\r\n\r\npc0\r\npc1\r\npc2", 5)
    assert not server.has_file("newclients")
    # Names with digits are read as addresses at the console's start: the operator is told.
    assert console.close_box("Vorlek Server") == (
        "Saved, but the console will not read these entries as stations:\n\npc0\npc1\npc2\n\n"
        "A computer name holds no digits; an address is four numbers joined by dots.")
    focus_window(room, editor)
    xdotool(room, "key", "Escape")  # as "Close"
    time.sleep(SETTLE)
    assert editor not in console.probe("windows").stdout
    console.click(1017)  # "E&xit"
    assert console.process.wait(START_TIMEOUT) == 0


def test_accelerators_act_through_the_message_loop(console_room):
    room = console_room
    agents = [room.agent(name, report=PAUSED_HOUR) for name in ("vlhost1", "vlhost2")]
    console = start_console(room, "".join(f"{a.address}\n" for a in agents))
    assert console.wait_rows(lambda rows: len(rows) == 2 and all("PAUSED" in r for r in rows))
    console.select(0)

    def keys(*names):
        return press_keys(room, *names)

    # Each Alt+letter sends its word to the selected station only.
    console.set_text(1008, "90")
    for key, word in [("alt+p", b"\x03\x01\x00\x00\x80"), ("alt+r", b"\x03\x05\x00\x00\x80"),
                      ("alt+b", b"\x03\x03\x00\x00\x80"), ("alt+f", b"\x03\x02\x00\x00\x80"),
                      ("alt+n", b"\x03\x00\x00\x00\x80"), ("alt+l", b"\x03\x07\x00\x00\x80"),
                      ("alt+e", b"\x03\x08\x00\x00\x80"), ("alt+u", b"\x03\x5a\x00\x00\x00")]:
        agents[0].forget()
        keys(key)
        assert wait_commands(agents[:1], [word]) == [[word]], key

    # Alt+D and Alt+T do nothing.
    agents[0].forget()
    keys("alt+d", "alt+t")
    time.sleep(SETTLE)
    assert commands(agents[0]) == []
    assert commands(agents[1]) == []

    # With the focus in the Death Timer edit, Alt+C moves it to the station list: a key typed
    # afterwards no longer lands in the edit.
    console.set_text(1008, "")
    console.probe("focus", "Vorlek server", 1008)
    keys()
    xdotool(room, "type", "1")
    assert roomlib.wait_until(lambda: console.text(1008) == "1", 5)
    keys("alt+c")
    xdotool(room, "type", "7")
    time.sleep(SETTLE)
    assert console.text(1008) == "1"

    # A report that would write "N/A" leaves a value being typed alone.
    type_into(console, room, 1008, "9")
    agents[1].send(b"\x04\x00\x00\x00\x80", room[SERVER].address)
    assert console.wait_rows(lambda rows: "UNLIMITED" in rows[1], timeout=5)
    xdotool(room, "type", "0")
    assert roomlib.wait_until(lambda: console.text(1008) == "90", 5), console.text(1008)

    keys("alt+x")
    assert console.process.wait(START_TIMEOUT) == 0
