"""VorlekClient.exe in a room: a workstation with the stand-in input-lock driver, and fake servers
that speak to it in datagrams written as byte literals."""

import re
import struct
import subprocess
import time

import pytest

import room as roomlib
from agent_support import (LOCK_REQUEST, UNLOCK_REQUEST, Flood, InputWindow, device_log,
                           install_driver, pixel, wait_for_device_log)
from console_support import shot_folder

STATION = "station"
SERVER = "server"
OTHER = "other"

AVAILABLE_REPORT = b"\x04\x02\x00\x00\x80"
BLOCKED_REPORT = b"\x04\x03\x00\x00\x80"
STATUS_REQUEST = b"\x04"

# Generous bounds for Wine: program start, one tick, a driver write.
START_TIMEOUT = 15
SETTLE = 1.0
# A box that the agent shows as it starts is waited for as long as a start (the probe takes
# milliseconds).
START_BOX_WAIT = str(START_TIMEOUT * 1000)


def expect(peer, data, sender, timeout=START_TIMEOUT):
    datagram = peer.recv(timeout)
    assert datagram is not None, f"nothing arrived; expected {data.hex(' ')}"
    assert datagram == (data, sender)


def two_row_picture(width, height, top, bottom):
    """A 24-bit BMP whose first stored rows are the colour top and the last stored rows bottom
    (colours as (blue, green, red) bytes), written byte by byte."""
    header = b"BM" + struct.pack("<IHHI", 54 + width * height * 3, 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, width * height * 3, 0, 0, 0,
                       0)
    rows = [top] * (height // 2) + [bottom] * (height - height // 2)
    return header + info + b"".join(colour * width for colour in rows)


# The lock window as the probe lists it: class, title and the whole 1024 x 768 screen.
LOCK_WINDOW = "VorlekClientWndClass\tVorlek Client\t0,0,1024,768"


def lock_windows(host):
    """The visible windows of the agent's class."""
    listed = host.probe("windows")
    assert listed.returncode == 0, listed.stdout
    return [line for line in listed.stdout.splitlines()
            if line.startswith("VorlekClientWndClass\t")]


@pytest.fixture
def station_room(room_factory):
    room = room_factory([STATION, SERVER, OTHER])
    install_driver(room[STATION])
    return room


def start_agent(room, servers=None, *switches):
    station = room[STATION]
    if servers is not None:
        station.put_file("servers", servers)
    return station.start(room.release("VorlekClient.exe"), *switches)


def station_sender(room):
    return (room[STATION].address, roomlib.STATION_PORT)


def test_start_up_says_hello_then_reports_available_to_each_listed_server(station_room):
    room = station_room
    server = room[SERVER].peer()
    other = room[OTHER].peer()
    agent = start_agent(room, f"# the room's consoles\r\n{room[SERVER].address}\r\n"
                              f"  {room[OTHER].address}   # the spare one\r\n")
    for listed in (server, other):
        expect(listed, b"\x01", station_sender(room))
        expect(listed, AVAILABLE_REPORT, station_sender(room))
        assert listed.recv_all(SETTLE) == []
    assert wait_for_device_log(room[STATION], ["open"]) == ["open"]
    assert agent.running


def test_start_up_without_servers_says_hello_once_by_broadcast(station_room, root_watch):
    room = station_room
    other = room[OTHER].peer()
    start_agent(room)
    expect(other, b"\x01", station_sender(room))
    # No list, no report: the only datagram was the hello.
    assert other.recv_all(SETTLE) == []

    # The sender of a request still gets its answer.
    other.send(room[STATION].address, STATUS_REQUEST)
    expect(other, AVAILABLE_REPORT, station_sender(room))
    # The broadcast stayed inside the room.
    assert root_watch.seen() == []


def test_requests_are_answered_to_their_sender_and_commands_report_to_the_list(station_room):
    room = station_room
    server = room[SERVER].peer()
    odd = room[OTHER].peer(port=40000, receive_broadcasts=False)
    start_agent(room, f"{room[SERVER].address}\n")
    expect(server, b"\x01", station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))

    odd.send(room[STATION].address, STATUS_REQUEST, port=roomlib.STATION_PORT)
    expect(odd, AVAILABLE_REPORT, station_sender(room))
    assert server.recv_all(SETTLE) == []

    # Set time 600 s from the listed server: the report to the list, then the direct answer.
    server.send(room[STATION].address, b"\x03\x58\x02\x00\x00")
    expect(server, b"\x04\x58\x02\x00\x00", station_sender(room))
    expect(server, b"\x04\x58\x02\x00\x00", station_sender(room))
    assert odd.recv_all(SETTLE) == []


def test_time_out_locks_with_the_picture_upright_and_added_time_unlocks(station_room, tmp_path):
    room = station_room
    station = room[STATION]
    # First stored rows red, last stored rows blue: red must be at the top of the screen.
    station.put_file("BLOCKED.BMP", two_row_picture(16, 16, b"\x00\x00\xff", b"\xff\x00\x00"))
    server = room[SERVER].peer()
    start_agent(room, f"{room[SERVER].address}\n")
    expect(server, b"\x01", station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))

    server.send(station.address, b"\x03\x03\x00\x00\x00")
    expect(server, b"\x04\x03\x00\x00\x00", station_sender(room))
    expect(server, b"\x04\x03\x00\x00\x00", station_sender(room))
    # Three ticks count down to 0, the fourth locks; the lock is not reported.
    assert wait_for_device_log(station, ["open", LOCK_REQUEST]) == ["open", LOCK_REQUEST]
    assert server.recv_all(SETTLE) == []
    server.send(station.address, STATUS_REQUEST)
    expect(server, BLOCKED_REPORT, station_sender(room))

    time.sleep(SETTLE)
    shot = tmp_path / "lock-screen.png"
    room.screenshot(shot)
    assert lock_windows(station) == [LOCK_WINDOW]
    for x, y in [(0, 0), (512, 10), (1023, 0), (512, 300)]:
        red, green, blue = pixel(shot, x, y)
        assert red > 200 and green < 60 and blue < 60, (x, y, red, green, blue)
    for x, y in [(0, 767), (512, 758), (1023, 767), (512, 468)]:
        red, green, blue = pixel(shot, x, y)
        assert blue > 200 and red < 60 and green < 60, (x, y, red, green, blue)

    # Add 60 s: the lock goes, and the station counts from exactly the added seconds.
    server.send(station.address, b"\x03\x3c\x00\x00\xc0")
    expect(server, b"\x04\x3c\x00\x00\x00", station_sender(room))
    expect(server, b"\x04\x3c\x00\x00\x00", station_sender(room))
    unlocked = ["open", LOCK_REQUEST, UNLOCK_REQUEST]
    assert wait_for_device_log(station, unlocked) == unlocked
    assert lock_windows(station) == []
    room.screenshot(tmp_path / "unlocked.png")
    for x, y in [(512, 10), (512, 758)]:
        red, green, blue = pixel(tmp_path / "unlocked.png", x, y)
        assert not (red > 200 and green < 60 and blue < 60), (x, y)
        assert not (blue > 200 and red < 60 and green < 60), (x, y)


def test_short_empty_and_foreign_datagrams_change_nothing(station_room):
    room = station_room
    station = room[STATION]
    server = room[SERVER].peer()
    start_agent(room, f"{room[SERVER].address}\n")
    expect(server, b"\x01", station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))

    # Another agent's report (5 bytes of type 4) gets no answer either: two agents that
    # answered each other's reports would echo them for ever.
    for junk in [b"", b"\x03", b"\x03\x03\x00\x00", b"\x01", b"\x02\x03\x00\x00\x80",
                 b"\x05\x03\x00\x00\x80", b"\xff" * 9, b"\x00", b"\x03" + b"\x00" * 5000,
                 AVAILABLE_REPORT, BLOCKED_REPORT + b"\x00"]:
        server.send(station.address, junk)
    assert server.recv_all(SETTLE * 2) == []
    assert device_log(station) == ["open"]

    server.send(station.address, STATUS_REQUEST)
    expect(server, AVAILABLE_REPORT, station_sender(room))
    # A second empty datagram, then a request: the agent is still listening.
    server.send(station.address, b"")
    server.send(station.address, b"\x04\x00")
    expect(server, AVAILABLE_REPORT, station_sender(room))


def test_default_picture_stands_upright_over_the_whole_screen(station_room, tmp_path):
    room = station_room
    station = room[STATION]
    station.install(room.release("BLOCKED.BMP"))
    server = room[SERVER].peer()
    start_agent(room, f"{room[SERVER].address}\n")
    expect(server, b"\x01", station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))

    server.send(station.address, b"\x03\x03\x00\x00\x80")
    expect(server, BLOCKED_REPORT, station_sender(room))
    assert wait_for_device_log(station, ["open", LOCK_REQUEST]) == ["open", LOCK_REQUEST]
    time.sleep(SETTLE)
    shot = tmp_path / "default-lock-screen.png"
    room.screenshot(shot)
    # The padlock stands in the upper part of the 640 x 480 picture, stretched to 1024 x 768;
    # the lower part holds only text and the dark background.
    red, green, blue = pixel(shot, 450, 250)
    assert red > 180 and green < 120 and blue < 100, (red, green, blue)
    for x, y in [(512, 560), (5, 5), (1018, 762)]:
        red, green, blue = pixel(shot, x, y)
        assert red < 60 and green < 60 and blue < 80, (x, y, red, green, blue)


def test_warning_box_comes_when_the_count_reaches_the_threshold(station_room):
    room = station_room
    station = room[STATION]
    server = room[SERVER].peer()
    start_agent(room, f"{room[SERVER].address}\n")
    expect(server, b"\x01", station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))

    server.send(station.address, b"\x03\x2c\x01\x00\x90")  # warning threshold 300 s
    expect(server, AVAILABLE_REPORT, station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))
    server.send(station.address, b"\x03\x2d\x01\x00\x00")  # set time 301 s
    expect(server, b"\x04\x2d\x01\x00\x00", station_sender(room))
    expect(server, b"\x04\x2d\x01\x00\x00", station_sender(room))

    shown = station.probe("wait-box", "Vorlek warning", "10000")
    assert (shown.returncode, shown.stdout) == (
        0, "box Vorlek warning\tYou have 0:5:0 of time remained\n")
    # The countdown goes on under the open box, and the station still answers.
    time.sleep(2 * SETTLE)
    server.send(station.address, STATUS_REQUEST)
    data, sender = server.recv(START_TIMEOUT)
    assert sender == station_sender(room)
    assert data[0] == 0x04 and len(data) == 5
    assert int.from_bytes(data[1:], "little") in range(296, 299)

    closed = station.probe("close-box", "Vorlek warning")
    assert (closed.returncode, closed.stdout) == (
        0, "closed Vorlek warning\tYou have 0:5:0 of time remained\n")


def test_without_the_driver_the_agent_tells_the_user_and_ends_with_code_0(room_factory):
    room = room_factory([STATION, SERVER])
    station = room[STATION]
    server = room[SERVER].peer()
    agent = start_agent(room, f"{room[SERVER].address}\n")
    # Hello and the first report have gone out before the device is opened.
    expect(server, b"\x01", station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))

    shown = station.probe("wait-box", "Vorlek client", "10000")
    assert (shown.returncode, shown.stdout) == (
        0, "box Vorlek client\tFailed to open vorlek device\\n\n")
    assert agent.running
    closed = station.probe("close-box", "Vorlek client")
    assert closed.returncode == 0, closed.stdout
    assert agent.wait(START_TIMEOUT) == 0
    assert server.recv_all(SETTLE) == []


def test_without_a_picture_the_lock_holds_input_but_shows_no_window(station_room):
    room = station_room
    station = room[STATION]
    server = room[SERVER].peer()
    start_agent(room, f"{room[SERVER].address}\n")
    expect(server, b"\x01", station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))

    server.send(station.address, b"\x03\x03\x00\x00\x80")
    expect(server, BLOCKED_REPORT, station_sender(room))
    expect(server, BLOCKED_REPORT, station_sender(room))
    # A second block changes nothing: no second lock request.
    server.send(station.address, b"\x03\x03\x00\x00\x80")
    expect(server, BLOCKED_REPORT, station_sender(room))
    expect(server, BLOCKED_REPORT, station_sender(room))
    assert wait_for_device_log(station, ["open", LOCK_REQUEST]) == ["open", LOCK_REQUEST]
    assert lock_windows(station) == []

    server.send(station.address, b"\x03\x02\x00\x00\x80")  # free
    expect(server, AVAILABLE_REPORT, station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))
    unlocked = ["open", LOCK_REQUEST, UNLOCK_REQUEST]
    assert wait_for_device_log(station, unlocked) == unlocked


@pytest.mark.parametrize("word", [b"\x07", b"\x08"], ids=["log-off", "reboot"])
def test_log_off_and_reboot_report_the_unchanged_state_and_end_the_session(station_room, word):
    room = station_room
    station = room[STATION]
    server = room[SERVER].peer()
    agent = start_agent(room, f"{room[SERVER].address}\n")
    expect(server, b"\x01", station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))

    server.send(station.address, b"\x03" + word + b"\x00\x00\x80")
    expect(server, AVAILABLE_REPORT, station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))
    # Wine ends the session's programs, the agent among them.
    agent.wait(START_TIMEOUT)


# Holds the station's address and port without address reuse, so the agent's bind fails.
_PORT_HOLDER = r"""
import socket, sys, time
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.bind((sys.argv[1], int(sys.argv[2])))
print("bound", flush=True)
time.sleep(60)
"""


def test_unusable_socket_ends_the_agent_before_it_sends_anything(room_factory):
    room = room_factory([STATION, SERVER])
    station = room[STATION]
    server = room[SERVER].peer()
    holder = subprocess.Popen(
        station.command(["/usr/bin/python3", "-c", _PORT_HOLDER, station.address,
                         str(roomlib.STATION_PORT)]),
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        assert holder.stdout.readline() == b"bound\n"
        agent = start_agent(room, f"{room[SERVER].address}\n")
        # The endpoint's own message (no caption: Wine's default "Error"), then the agent's.
        endpoint_box = station.probe("close-box", "Error", START_BOX_WAIT)
        assert endpoint_box.returncode == 0, endpoint_box.stdout
        assert endpoint_box.stdout.startswith("closed Error\tbind() returned error ")
        fatal_box = station.probe("close-box", "Vorlek client", START_BOX_WAIT)
        assert (fatal_box.returncode, fatal_box.stdout) == (
            0, "closed Vorlek client\tSocket init failed\n")
        assert agent.wait(START_TIMEOUT) == 0
        assert server.recv_all(SETTLE) == []
    finally:
        roomlib.kill_pids([holder.pid])
        holder.stdout.close()


def test_lock_window_comes_back_in_front_of_a_later_window_and_leaves_no_hole(station_room,
                                                                              windows_build):
    room = station_room
    station = room[STATION]
    station.put_file("BLOCKED.BMP", two_row_picture(16, 16, b"\x00\x00\xff", b"\xff\x00\x00"))
    server = room[SERVER].peer()
    start_agent(room, f"{room[SERVER].address}\n")
    expect(server, b"\x01", station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))
    server.send(station.address, b"\x03\x03\x00\x00\x80")
    expect(server, BLOCKED_REPORT, station_sender(room))
    assert wait_for_device_log(station, ["open", LOCK_REQUEST]) == ["open", LOCK_REQUEST]

    notepad = station.start("notepad.exe")
    assert roomlib.wait_until(lambda: "Notepad" in station.probe("windows").stdout, 10)

    def lock_window_in_front():
        listed = station.probe("windows").stdout.splitlines()
        return listed and listed[0] == LOCK_WINDOW

    assert roomlib.wait_until(lock_window_in_front, 10, interval=0.5), station.probe("windows")

    # The window goes, and the lock is exposed as a desktop without composition exposes it,
    # with the erase left to the next paint (Wine here repaints the uncovered part by itself):
    # the picture shows everywhere, not the class's white background.
    notepad.kill()
    assert roomlib.wait_until(lambda: "Notepad" not in station.probe("windows").stdout, 10)
    assert station.probe("expose", "Vorlek Client").returncode == 0
    time.sleep(SETTLE)
    shot = windows_build / "screenshots" / "lock-after-a-covering-window.png"
    shot.parent.mkdir(parents=True, exist_ok=True)
    room.screenshot(shot)
    for x, y in [(4, 4), (200, 150), (1019, 300), (4, 763), (512, 600), (1019, 763)]:
        red, green, blue = pixel(shot, x, y)
        assert (red > 200 if y < 384 else blue > 200) and green < 60, (x, y, red, green, blue)


BLOCK = b"\x03\x03\x00\x00\x80"
FREE = b"\x03\x02\x00\x00\x80"


def expect_started(room, server):
    expect(server, b"\x01", station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))


def order(room, server, command, report):
    """A command from the listed server: the report to the list, then the direct answer."""
    server.send(room[STATION].address, command)
    expect(server, report, station_sender(room))
    expect(server, report, station_sender(room))


def test_hold_hooks_keeps_every_key_and_click_from_every_window_while_blocked(room_factory):
    # No driver in this prefix, and no picture: the hold is the hooks alone.
    room = room_factory([STATION, SERVER])
    station = room[STATION]
    server = room[SERVER].peer()
    agent = start_agent(room, f"{room[SERVER].address}\n", "/hold=hooks")
    expect_started(room, server)
    counter = InputWindow(station)

    counter.type_and_click(["a", "b"])
    before = counter.events()
    for event in ["key 0x41", "key 0x42", "button left", "button right", "button middle",
                  "wheel"]:
        assert event in before, before
    assert any(event.startswith("move ") for event in before), before

    order(room, server, BLOCK, BLOCKED_REPORT)
    assert lock_windows(station) == []
    seen = len(counter.events())
    # Alt+F4 would close the input window, and Alt+Tab or a Windows key take the focus from it.
    counter.type_and_click(["a", "alt+Tab", "super", "ctrl+Escape", "alt+F4", "Return"])
    assert counter.events()[seen:] == []
    assert counter.process.running

    order(room, server, FREE, AVAILABLE_REPORT)
    seen = len(counter.events())
    counter.type_and_click(["a", "super"])
    after = counter.events()[seen:]
    for event in ["key 0x41", "key 0x5B", "button left", "wheel"]:
        assert event in after, after
    assert agent.running
    assert station.probe("boxes").stdout == ""


ONE_HOUR = b"\x03\x10\x0e\x00\xc0"
ONE_HOUR_REPORT = b"\x04\x10\x0e\x00\x00"


def expect_started_blocked(room, server):
    expect(server, b"\x01", station_sender(room))
    expect(server, BLOCKED_REPORT, station_sender(room))


def test_start_blocked_locks_and_holds_through_the_device_before_the_first_report(station_room):
    room = station_room
    station = room[STATION]
    station.install(room.release("BLOCKED.BMP"))
    server = room[SERVER].peer()
    start_agent(room, f"{room[SERVER].address}\n", "/start=blocked")
    expect_started_blocked(room, server)
    assert device_log(station) == ["open", LOCK_REQUEST]
    assert lock_windows(station) == [LOCK_WINDOW]
    assert server.recv_all(SETTLE) == []

    order(room, server, ONE_HOUR, ONE_HOUR_REPORT)
    unlocked = ["open", LOCK_REQUEST, UNLOCK_REQUEST]
    assert wait_for_device_log(station, unlocked) == unlocked
    assert lock_windows(station) == []


def test_start_blocked_with_hooks_keeps_every_key_from_the_first_report_on(room_factory):
    room = room_factory([STATION, SERVER])
    station = room[STATION]
    server = room[SERVER].peer()
    counter = InputWindow(station)
    agent = start_agent(room, f"{room[SERVER].address}\n", "/START=Blocked", "/hold=hooks")
    expect_started_blocked(room, server)
    counter.type_and_click(["a", "alt+Tab", "Return"])
    assert counter.events() == []

    order(room, server, ONE_HOUR, ONE_HOUR_REPORT)
    counter.type_and_click(["a"])
    assert "key 0x41" in counter.events(), counter.events()
    assert agent.running


ENDSESSION_CLOSEAPP = 1


def test_hold_hooks_holds_through_an_installers_session_end_and_over_a_minute(room_factory):
    room = room_factory([STATION, SERVER])
    station = room[STATION]
    server = room[SERVER].peer()
    agent = start_agent(room, f"{room[SERVER].address}\n", "/hold=hooks")
    expect_started(room, server)
    counter = InputWindow(station, seconds=180)
    order(room, server, BLOCK, BLOCKED_REPORT)

    # Restart Manager's notice to close, which leaves the program running.
    ended = station.probe("end-session", "Vorlek Client", ENDSESSION_CLOSEAPP)
    assert (ended.returncode, ended.stdout) == (0, "ended session 1\n")
    locked_at = time.time()
    while True:
        counter.type_and_click(["a", "alt+Tab"])
        assert counter.events() == []
        if time.time() - locked_at > 60:
            break
        time.sleep(15)
    assert counter.process.running and agent.running

    order(room, server, FREE, AVAILABLE_REPORT)
    counter.type_and_click(["a"])
    assert "key 0x41" in counter.events(), counter.events()


def test_hold_hooks_makes_no_device_request_and_covers_the_screen_topmost(station_room,
                                                                          windows_build):
    room = station_room
    station = room[STATION]
    station.install(room.release("BLOCKED.BMP"))
    server = room[SERVER].peer()
    start_agent(room, f"{room[SERVER].address}\n", "/hold=hooks")
    expect_started(room, server)
    order(room, server, BLOCK, BLOCKED_REPORT)

    # A later window does not come in front of the topmost lock window, not even for a moment.
    station.start("notepad.exe")
    assert roomlib.wait_until(lambda: "Notepad" in station.probe("windows").stdout, 10)
    assert station.probe("windows").stdout.splitlines()[0] == LOCK_WINDOW
    time.sleep(SETTLE)
    shot = shot_folder(windows_build) / "hold-hooks-locked-station.png"
    room.screenshot(shot)
    for x, y in [(450, 250)]:
        red, green, blue = pixel(shot, x, y)
        assert red > 180 and green < 120 and blue < 100, (x, y, red, green, blue)
    for x, y in [(5, 5), (1018, 762), (512, 560)]:
        red, green, blue = pixel(shot, x, y)
        assert red < 60 and green < 60 and blue < 80, (x, y, red, green, blue)

    order(room, server, FREE, AVAILABLE_REPORT)
    assert lock_windows(station) == []
    # The driver is installed and started, but the agent never opened it.
    time.sleep(SETTLE)
    assert device_log(station) == []


def test_orders_servers_obeys_and_answers_only_the_listed_console(station_room):
    room = station_room
    station = room[STATION]
    server = room[SERVER].peer()
    stranger = room[OTHER].peer(port=40000, receive_broadcasts=False)
    start_agent(room, f"{room[SERVER].address}\n", "/ORDERS=Servers")
    expect_started(room, server)

    for datagram in [BLOCK, b"\x03\x58\x02\x00\xc0", STATUS_REQUEST]:
        stranger.send(station.address, datagram, port=roomlib.STATION_PORT)
    assert stranger.recv_all(SETTLE * 2) == []
    assert server.recv_all(SETTLE) == []
    assert device_log(station) == ["open"]

    server.send(station.address, STATUS_REQUEST)
    expect(server, AVAILABLE_REPORT, station_sender(room))
    order(room, server, BLOCK, BLOCKED_REPORT)
    assert wait_for_device_log(station, ["open", LOCK_REQUEST]) == ["open", LOCK_REQUEST]


NO_CONSOLE_BOX = ("closed Vorlek client\t/orders=servers: the file \"servers\" lists no console, "
                  "so the agent would obey nobody.\\nWrite the consoles' addresses into "
                  "\"servers\" in the agent's folder, or start the agent without "
                  "/orders=servers.\n")
USAGE = ("\\nUsage: VorlekClient.exe [/hold=device|hooks] [/orders=any|servers|signed] "
         "[/start=available|blocked] [/countdown=off|on]\n")


@pytest.mark.parametrize("servers, switches, box", [
    (None, ["/orders=servers"], NO_CONSOLE_BOX),
    ("# the console comes later\r\n", ["/hold=hooks", "/orders=servers"], NO_CONSOLE_BOX),
    ("SERVER", ["/hold=hook"], 'closed Vorlek client\tUnknown value in "/hold=hook".' + USAGE),
    ("SERVER", ["/orders=servers", "/quiet"], 'closed Vorlek client\tUnknown switch "/quiet".' +
     USAGE),
    ("SERVER", ["/hold=hooks", "/HOLD=device"],
     'closed Vorlek client\tSwitch given twice: "/HOLD=device".' + USAGE),
    ("SERVER", ["/start=locked"], 'closed Vorlek client\tUnknown value in "/start=locked".' +
     USAGE),
], ids=["no-servers-file", "no-console-listed", "unknown-value", "unknown-switch", "twice",
        "unknown-start"])
def test_a_refused_start_shows_its_box_and_ends_with_code_0_before_anything_is_sent(
        station_room, servers, switches, box):
    room = station_room
    station = room[STATION]
    server = room[SERVER].peer()
    other = room[OTHER].peer()
    if servers == "SERVER":
        servers = f"{room[SERVER].address}\n"
    agent = start_agent(room, servers, *switches)
    closed = station.probe("close-box", "Vorlek client", START_BOX_WAIT)
    assert (closed.returncode, closed.stdout) == (0, box)
    assert agent.wait(START_TIMEOUT) == 0
    assert server.recv_all(SETTLE) == [] and other.recv_all(0.1) == []
    assert device_log(station) == []


def test_a_flood_of_requests_from_another_host_neither_stops_nor_slows_the_countdown(
        station_room):
    room = station_room
    station = room[STATION]
    server = room[SERVER].peer()
    start_agent(room, f"{room[SERVER].address}\n")
    expect_started(room, server)

    order(room, server, b"\x03\x0a\x00\x00\x00", b"\x04\x0a\x00\x00\x00")  # set time 10 s
    set_at = time.time()
    flood = Flood(room[OTHER], station.address, 15, set_at)
    # Ten seconds count down to 0 and the eleventh locks.
    locked = roomlib.wait_until(lambda: LOCK_REQUEST in device_log(station), 14, interval=0.1)
    locked_after = time.time() - set_at
    sent, answers = flood.results()
    assert locked and 10 <= locked_after <= 12.5, (locked_after, sent, answers[-5:])
    counting = [(t, word) for t, word in answers if word < 0x80000000 and t < 9.5]
    assert counting and counting[-1][0] > 8, (sent, answers[:5], answers[-5:])
    for t, word in counting:
        assert abs(word - (10 - t)) <= 1.5, (t, word, sent)
    assert answers[-1][1] == 0x80000003, answers[-5:]


def test_an_agent_started_before_its_network_follows_the_address_that_comes_later(station_room):
    room = station_room
    station = room[STATION]
    server = room[SERVER].peer()
    hosts = roomlib.NETNS_ETC_DIR / station.namespace / "hosts"
    room_hosts = hosts.read_text()
    address = f"{station.address}/{roomlib.PREFIX_LENGTH}"
    # No address on the room's network yet, and the station's name resolves to the loopback. The
    # hosts file is rewritten in place: it is mounted over /etc/hosts.
    station.shell(["ip", "addr", "del", address, "dev", "eth0"])
    hosts.write_text(room_hosts.replace(f"{station.address}\t{STATION}\n",
                                        f"127.0.1.1\t{STATION}\n"))
    start_agent(room, f"{room[SERVER].address}\n")
    assert wait_for_device_log(station, ["open"]) == ["open"]
    server.drain()

    station.shell(["ip", "addr", "add", address, "dev", "eth0"])
    hosts.write_text(room_hosts)
    expect(server, b"\x01", station_sender(room))
    expect(server, AVAILABLE_REPORT, station_sender(room))
    order(room, server, BLOCK, BLOCKED_REPORT)
    assert wait_for_device_log(station, ["open", LOCK_REQUEST]) == ["open", LOCK_REQUEST]


# The countdown window as the probe lists it: its title is the text it shows, in the
# bottom-right corner of the 1024 x 768 screen (Wine's work area has no taskbar).
COUNTDOWN_CLASS = "VorlekCountdownWndClass"
COUNTDOWN_AREA = "836,712,1012,756"


def countdown_windows(host):
    listed = host.probe("windows")
    assert listed.returncode == 0, listed.stdout
    return [line.split("\t") for line in listed.stdout.splitlines()
            if line.startswith(COUNTDOWN_CLASS + "\t")]


def countdown_seconds(host):
    """The seconds that the one visible countdown window shows."""
    [[_, text, area]] = countdown_windows(host)
    assert area == COUNTDOWN_AREA
    hours, minutes, seconds = (int(part) for part in text.split(":"))
    return hours * 3600 + minutes * 60 + seconds


def white_pixels(path, area):
    """How many pixels of an area ("WxH+X+Y") of a screenshot are near white."""
    text = subprocess.run(["convert", str(path), "-crop", area, "-depth", "8", "txt:-"],
                          capture_output=True, check=True, timeout=30).stdout.decode()
    colours = re.findall(r"^\d+,\d+: \((\d+),(\d+),(\d+)", text, re.MULTILINE)
    return sum(1 for colour in colours if min(int(v) for v in colour) > 200)


def test_countdown_shows_the_time_left_without_taking_the_focus_and_goes_while_blocked(
        station_room, windows_build):
    room = station_room
    station = room[STATION]
    server = room[SERVER].peer()
    start_agent(room, f"{room[SERVER].address}\n", "/countdown=on")
    expect_started(room, server)
    assert countdown_windows(station) == []
    counter = InputWindow(station)

    order(room, server, b"\x03\x3c\x00\x00\x90", AVAILABLE_REPORT)  # warn at 60 s
    order(room, server, b"\x03\x50\x00\x00\x00", b"\x04\x50\x00\x00\x00")  # 80 s
    first, since = countdown_seconds(station), time.monotonic()
    assert 76 <= first <= 80, first
    counter.type_and_click(["a", "b"])
    events = counter.events()
    for event in ["key 0x41", "key 0x42", "button left"]:
        assert event in events, events
    # It keeps the clock's pace, and the window of the customer's program keeps the keys.
    time.sleep(3)
    later, elapsed = countdown_seconds(station), time.monotonic() - since
    assert abs(first - later - elapsed) <= 2, (first, later, elapsed)
    seen = len(counter.events())
    counter.type_and_click(["c"])
    assert "key 0x43" in counter.events()[seen:]

    shot = shot_folder(windows_build) / "countdown.png"
    room.screenshot(shot)
    # Dark grey, not the black desktop: the window is drawn there.
    assert all(20 <= value <= 50 for value in pixel(shot, 840, 716)), pixel(shot, 840, 716)
    assert white_pixels(shot, "176x1+836+734") > 4, "no text drawn"

    # At the threshold the warning box comes, and the countdown has turned red before it.
    assert station.probe("wait-box", "Vorlek warning", "30000", timeout=40).returncode == 0
    assert countdown_seconds(station) <= 60
    shot = shot_folder(windows_build) / "countdown-warning.png"
    room.screenshot(shot)
    red, green, blue = pixel(shot, 840, 716)
    assert red > 150 and green < 60 and blue < 60, (red, green, blue)

    order(room, server, BLOCK, BLOCKED_REPORT)
    assert countdown_windows(station) == []
    order(room, server, b"\x03\x10\x0e\x00\x00", b"\x04\x10\x0e\x00\x00")
    assert 3595 <= countdown_seconds(station) <= 3600
