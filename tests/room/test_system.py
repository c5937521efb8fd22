"""The whole room: the real VorlekServer.exe in one host, real VorlekClient.exe agents with the
stand-in input-lock driver in the others. The operator's hands and eyes on the console are the
GUI probe; an observer host asks the agents for their status with datagrams written as byte
literals, so that both sides of every change are seen."""

import re
import time

import pytest

import room as roomlib
from agent_support import LOCK_REQUEST, UNLOCK_REQUEST, device_log, install_driver, pixel
from console_support import INFORMATION, MAIN_TITLE, Console, shot_folder

CONSOLE = "frontdesk"
STATIONS = ["alpha", "bravo", "charlie"]
OBSERVER = "observer"
OBSERVER_PORT = 40000

STATUS_REQUEST = b"\x04"
AVAILABLE = b"\x04\x02\x00\x00\x80"
BLOCKED = b"\x04\x03\x00\x00\x80"
UNLIMITED = b"\x04\x00\x00\x00\x80"

# Main dialog controls and menu commands, as the operator finds them.
ADD_10_SECONDS = 1022
ADD_1_MINUTE = 1024
ADD_5_MINUTES = 1027
ADD_1_HOUR = 1032
PAUSE, RESUME, FREE, UNLIMITED_BUTTON = 1013, 1015, 1019, 1020
DEATH_TIMER, UPDATE = 1008, 1016
MENU_TIMEOUT, MENU_CLIENT_WARNING = 40015, 40016
TIMEOUT_VALUE, TIMEOUT_SET = 1010, 1040
WARNING_VALUE, WARNING_SET = 1052, 1053

# Bounds for Wine: program starts, a few ticks, the discovery's five seconds.
START_TIMEOUT = 20
SETTLE = 1.0


@pytest.fixture
def system_room(room_factory):
    """A console host, three stations with the stand-in driver and an observer."""
    room = room_factory([CONSOLE] + STATIONS + [OBSERVER])
    for name in STATIONS:
        install_driver(room[name])
        room[name].install(room.release("BLOCKED.BMP"))
    room.observer = room[OBSERVER].peer(port=OBSERVER_PORT, receive_broadcasts=False)
    return room


def start_agent(room, name, servers=True):
    """VorlekClient.exe on a station; its "servers" names the console, or is the sample of the
    release folder (comments only) when servers is False."""
    station = room[name]
    if servers:
        station.put_file("servers", f"# the room's console\r\n{room[CONSOLE].address}\r\n")
    else:
        station.install(room.release("servers"))
    return station.start(room.release("VorlekClient.exe"))


def start_console(room, stations=None):
    """VorlekServer.exe, with a "clients" file of these stations' addresses, or the sample of the
    release folder (comments only) when stations is None."""
    host = room[CONSOLE]
    if stations is None:
        host.install(room.release("clients"))
    else:
        host.put_file("clients", "".join(f"{room[n].address}\r\n" for n in stations))
    console = Console(host, host.start(room.release("VorlekServer.exe")))
    assert roomlib.wait_until(
        lambda: console.probe("get-text", MAIN_TITLE, check=False).returncode == 0,
        START_TIMEOUT), console.process.stderr
    return console


def row(room, name, state=""):
    return f"{name} ( {room[name].address} ){state}"


def counting_row(room, name, pattern):
    """A regular expression for the NORMAL row of a station; pattern is the time's."""
    return re.compile(re.escape(row(room, name, " -- state NORMAL, remains ")) + pattern + "$")


def agent_status(room, name):
    """The StatusReport that the agent sends back to the observer's request, as raw bytes. The
    request is repeated while the agent is still starting and does not answer yet."""
    station = (room[name].address, roomlib.STATION_PORT)
    room.observer.drain()
    for _ in range(int(START_TIMEOUT)):
        room.observer.send(room[name].address, STATUS_REQUEST)
        deadline = time.monotonic() + SETTLE
        while (left := deadline - time.monotonic()) > 0:
            answer = room.observer.recv(left)
            # A late answer of another station to an earlier request is passed over.
            if answer is not None and answer[1] == station:
                return answer[0]
    pytest.fail(f"{name} did not answer")


def seconds_of(report):
    assert len(report) == 5 and report[0] == 0x04, report
    return int.from_bytes(report[1:], "little")


def remaining_in(text):
    """The seconds of a row that ends in ", remains HH:MM:SS"."""
    hours, minutes, seconds = text.rsplit(", remains ", 1)[1].split(":")
    return int(hours) * 3600 + int(minutes) * 60 + int(seconds)


def select_rows(console, *indices):
    """Selects these rows as the operator does, looking before going on, and clicks again when
    the selection did not take."""
    for _ in range(5):
        console.select(*indices)
        time.sleep(0.5)
        if [i for i, (_, selected) in enumerate(console.rows()) if selected] == list(indices):
            return
    pytest.fail(f"rows {indices} did not stay selected: {console.rows()}")


def index_of(rows, prefix):
    matches = [i for i, text in enumerate(rows) if text.startswith(prefix)]
    assert len(matches) == 1, (prefix, rows)
    return matches[0]


def wait_for_rows(console, expected, timeout=START_TIMEOUT):
    """Waits until every row matches its entry of expected (texts or compiled patterns)."""
    def matches(rows):
        return len(rows) == len(expected) and all(
            want.match(text) if isinstance(want, re.Pattern) else want == text
            for want, text in zip(expected, rows))

    rows = console.wait_rows(matches, timeout)
    assert matches(rows), (rows, expected)
    return rows


def open_option(console, menu_command, title, value_control, set_control, value):
    """Opens an option dialog from the Options menu, types value and presses "Set"."""
    console.command(menu_command)
    assert console.wait_box(title, timeout=5) is not None
    console.set_text(value_control, value, title=title)
    console.click(set_control, title=title)
    assert roomlib.wait_until(lambda: title not in [c for c, _ in console.boxes()], 5)


def test_added_hour_runs_out_locks_and_the_operators_commands_reach_both_sides(system_room,
                                                                               windows_build):
    room = system_room
    console = start_console(room, ["alpha", "bravo"])
    # The first tick shows the listed stations as OFF; then the agents start and say hello.
    wait_for_rows(console, [row(room, "alpha", " -- state OFF"),
                            row(room, "bravo", " -- state OFF")])
    agents = [start_agent(room, name) for name in ("alpha", "bravo")]
    wait_for_rows(console, [row(room, "alpha", " -- state AVAILABLE"),
                            row(room, "bravo", " -- state AVAILABLE")])

    # The typical request: both rows selected, "1 hour." pressed.
    select_rows(console, 0, 1)
    console.click(ADD_1_HOUR)
    wait_for_rows(console, [counting_row(room, "alpha", r"00:59:5\d"),
                            counting_row(room, "bravo", r"00:59:5\d")])
    first = {name: seconds_of(agent_status(room, name)) for name in ("alpha", "bravo")}
    assert all(3590 <= seconds <= 3600 for seconds in first.values()), first
    time.sleep(2 * SETTLE + 0.5)
    later = {name: seconds_of(agent_status(room, name)) for name in ("alpha", "bravo")}
    # Both go on counting, a second a tick (a busy machine may delay a tick).
    assert all(first[name] - 4 <= later[name] <= first[name] - 1 for name in later), (first,
                                                                                      later)
    shown = [remaining_in(text) for text in console.row_texts()]
    assert all(3590 - 4 <= seconds <= 3600 - 2 for seconds in shown), shown

    # Alpha is given 3 seconds with the Death Timer and runs out: it locks itself, the console
    # counts it down to 0, polls it and hears BLOCKED.
    select_rows(console, 0)
    console.set_text(DEATH_TIMER, "3")
    console.click(UPDATE)
    assert console.wait_box(INFORMATION, timeout=15) == (
        f"Client 'alpha' ( {room['alpha'].address} ) is BLOCKED")
    assert device_log(room["alpha"]) == ["open", LOCK_REQUEST]
    assert agent_status(room, "alpha") == BLOCKED
    windows = room["alpha"].probe("windows").stdout.splitlines()
    assert "VorlekClientWndClass\tVorlek Client\t0,0,1024,768" in windows
    shot = shot_folder(windows_build) / "system-alpha-locked.png"
    room.screenshot(shot)
    # The padlock of the default picture, stretched over the whole screen.
    red, green, blue = pixel(shot, 450, 250)
    assert red > 180 and green < 120 and blue < 100, (red, green, blue)
    assert console.close_box(INFORMATION) is not None
    wait_for_rows(console, [row(room, "alpha", " -- state BLOCKED"),
                  counting_row(room, "bravo", r"00:5\d:\d\d")])

    # Pause, Resume, Unlimited and Free on bravo; each answer comes back as bravo's row.
    select_rows(console, 1)
    console.click(PAUSE)
    paused = wait_for_rows(console, [row(room, "alpha", " -- state BLOCKED"),
                                     re.compile(re.escape(row(room, "bravo",
                                                              " -- state PAUSED, remains "))
                                                + r"00:5\d:\d\d$")])
    report = agent_status(room, "bravo")
    assert report[4] == 0x20 and report[3] == 0x00
    remaining = int.from_bytes(report[1:3], "little")
    assert remaining_in(paused[1]) == remaining, (paused, report)
    time.sleep(SETTLE + 0.5)
    assert agent_status(room, "bravo") == report

    select_rows(console, 1)
    console.click(RESUME)
    wait_for_rows(console, [row(room, "alpha", " -- state BLOCKED"),
                            counting_row(room, "bravo", r"00:5\d:\d\d")])
    assert seconds_of(agent_status(room, "bravo")) <= remaining

    select_rows(console, 1)
    console.click(UNLIMITED_BUTTON)
    wait_for_rows(console, [row(room, "alpha", " -- state BLOCKED"),
                            row(room, "bravo", " -- state UNLIMITED")])
    assert agent_status(room, "bravo") == UNLIMITED
    assert console.text(DEATH_TIMER) == "N/A"

    # Free on both: the blocked station is unlocked.
    select_rows(console, 0, 1)
    console.click(FREE)
    wait_for_rows(console, [row(room, "alpha", " -- state AVAILABLE"),
                            row(room, "bravo", " -- state AVAILABLE")])
    assert agent_status(room, "alpha") == AVAILABLE
    assert agent_status(room, "bravo") == AVAILABLE
    assert roomlib.wait_until(
        lambda: device_log(room["alpha"]) == ["open", LOCK_REQUEST, UNLOCK_REQUEST], 5)
    assert device_log(room["bravo"]) == ["open"]
    assert all(agent.running for agent in agents)
    assert console.process.running


def test_a_stopped_agent_goes_off_and_comes_back_with_its_time_and_the_warning(system_room):
    room = system_room
    console = start_console(room, ["alpha"])
    wait_for_rows(console, [row(room, "alpha", " -- state OFF")])
    agent = start_agent(room, "alpha")
    wait_for_rows(console, [row(room, "alpha", " -- state AVAILABLE")])

    # A station is given one try of a second instead of five.
    open_option(console, MENU_TIMEOUT, "Timeout", TIMEOUT_VALUE, TIMEOUT_SET, "1")
    select_rows(console, 0)
    console.click(ADD_5_MINUTES)
    wait_for_rows(console, [counting_row(room, "alpha", r"00:04:5\d")])

    agent.kill()
    # A click on the row asks the selected stations for their status; three seconds of
    # silence make alpha OFF: its row, then the box.
    select_rows(console, 0)
    assert console.wait_box(INFORMATION, timeout=10) == (
        f"Client 'alpha' ( {room['alpha'].address} ) is OFF")
    assert console.close_box(INFORMATION) is not None
    off = wait_for_rows(console, [re.compile(
        re.escape(row(room, "alpha", " -- state OFF, remains ")) + r"00:04:[45]\d$")])
    time.sleep(SETTLE + 0.5)
    assert console.row_texts() == off, "an OFF station is not counted down"

    # Started again, the agent says hello and reports AVAILABLE; the console gives it back its
    # time and tells the operator.
    agent = start_agent(room, "alpha")
    assert console.wait_box(INFORMATION, timeout=START_TIMEOUT) == (
        f"Client 'alpha' ( {room['alpha'].address} ) is ON")
    assert console.close_box(INFORMATION) is not None
    kept = remaining_in(off[0])
    wait_for_rows(console, [counting_row(room, "alpha", r"00:04:[345]\d")])
    seconds = seconds_of(agent_status(room, "alpha"))
    assert kept - 5 <= seconds <= kept, (kept, seconds)
    assert device_log(room["alpha"])[-1] == "open"

    # The client warning set in the console reaches the agent: five seconds, then a set time of
    # eight seconds warns its user three seconds later.
    open_option(console, MENU_CLIENT_WARNING, "Client Warning", WARNING_VALUE, WARNING_SET,
                "0:05")
    select_rows(console, 0)
    console.set_text(DEATH_TIMER, "8")
    console.click(UPDATE)
    shown = room["alpha"].probe("wait-box", "Vorlek warning", "10000")
    assert (shown.returncode, shown.stdout) == (
        0, "box Vorlek warning\tYou have 0:0:5 of time remained\n")
    assert room["alpha"].probe("close-box", "Vorlek warning").returncode == 0
    assert agent.running


def test_stations_and_console_find_each_other_by_broadcast(system_room):
    room = system_room
    # Agents that run before the console: their hellos find nobody.
    early = [start_agent(room, name) for name in ("alpha", "bravo")]
    for name in ("alpha", "bravo"):
        assert agent_status(room, name) == AVAILABLE

    # The console with the shipped sample "clients", which lists nobody, asks by broadcast and
    # keeps whoever answered.
    console = start_console(room)
    wait_for_rows(console, [row(room, "alpha", " -- state AVAILABLE"),
                            row(room, "bravo", " -- state AVAILABLE")])

    # An agent with the shipped sample "servers" says hello by broadcast; the console registers
    # it, asks it for its status and shows its answer.
    late = start_agent(room, "charlie", servers=False)
    rows = wait_for_rows(console, [row(room, "alpha", " -- state AVAILABLE"),
                                   row(room, "bravo", " -- state AVAILABLE"),
                                   row(room, "charlie", " -- state AVAILABLE")])

    # Commands reach it, and its direct answers are all the console needs.
    charlie = index_of(rows, row(room, "charlie"))
    select_rows(console, charlie)
    console.click(ADD_1_MINUTE)
    wait_for_rows(console, [row(room, "alpha", " -- state AVAILABLE"),
                            row(room, "bravo", " -- state AVAILABLE"),
                            counting_row(room, "charlie", r"00:(00:5\d|01:00)")])
    select_rows(console, charlie)
    console.click(ADD_10_SECONDS)
    wait_for_rows(console, [row(room, "alpha", " -- state AVAILABLE"),
                            row(room, "bravo", " -- state AVAILABLE"),
                            counting_row(room, "charlie", r"00:01:0\d")])
    assert 65 <= seconds_of(agent_status(room, "charlie")) <= 70
    assert all(agent.running for agent in early + [late])


def test_release_folder_holds_the_programs_the_picture_the_samples_and_the_guides(windows_build):
    release = windows_build / "release"
    expected = {"VorlekServer.exe", "VorlekClient.exe", "BLOCKED.BMP", "clients", "servers",
                "operator-guide.txt", "installing.txt", "signed-orders.txt", "VorlekKey.exe",
                "VorlekServer-setup.exe", "VorlekClient-setup.exe"}
    present = {path.name for path in release.iterdir()}
    assert expected <= present, expected - present
    for name in ["clients", "servers", "operator-guide.txt", "installing.txt",
                 "signed-orders.txt"]:
        text = (release / name).read_bytes()
        assert text.endswith(b"\r\n") and b"\n" not in text.replace(b"\r\n", b""), name
        assert text.isascii(), name
    # The samples explain themselves and list nobody: every line is blank or a comment.
    for name in ["clients", "servers"]:
        lines = (release / name).read_bytes().split(b"\r\n")
        assert all(line == b"" or line.lstrip().startswith(b"#") for line in lines), name
        assert any(b"digit" in line for line in lines), name
