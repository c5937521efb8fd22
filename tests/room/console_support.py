"""What the console's room tests share: fake agents that answer like workstations and record
every datagram with the kernel's arrival time, and the operator's hands on VorlekServer.exe
through the GUI probe. Holds no tests itself."""

import contextlib
import select
import socket
import struct
import subprocess
import threading
import time
from pathlib import Path

import room as roomlib

SERVER = "vlserver"
MAIN_TITLE = "Vorlek server"
STATION_LIST = 1006
INFORMATION = "Vorlek Information"

STATUS_REQUEST = b"\x04"
HELLO = b"\x01"
AVAILABLE = b"\x04\x02\x00\x00\x80"
# The client warning the console starts with, 600 s: to every listed station at its start and to
# every station that says hello.
WARNING = b"\x03\x58\x02\x00\x90"

# Bounds for Wine: a program start, a few ticks.
START_TIMEOUT = 20
SETTLE = 1.0
# One probe call; the probe itself gives up on a window after 5 s per message.
PROBE_TIMEOUT = 30
# Probe subcommands that only read, and may therefore be repeated.
PROBE_READS = {"rows", "boxes", "windows", "get-text", "state"}
PROBE_READ_TRIES = 3

# Linux: SO_TIMESTAMPNS, delivered as SCM_TIMESTAMPNS with a struct timespec.
SO_TIMESTAMPNS = 35
TIMESPEC = struct.Struct("@qq")


def shot_folder(windows_build):
    """Where the console's screenshots are kept for the reader of the test run."""
    folder = Path(windows_build) / "screenshots"
    folder.mkdir(parents=True, exist_ok=True)
    return folder


class FakeAgent:
    """A workstation's port 10001 as a thread: it records every datagram with its kernel arrival
    time and, while answering, answers every StatusRequest with its report word, as an agent does.
    The report and the switch may be changed at any time."""

    def __init__(self, host, report=AVAILABLE, answering=True):
        self.host = host
        self.address = host.address
        self.peer = host.peer()
        self.peer.socket.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        self.report = report
        self.answering = answering
        self._received = []
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        sock = self.peer.socket
        while not self._stop.is_set():
            if not select.select([sock], [], [], 0.1)[0]:
                continue
            data, ancillary, _, sender = sock.recvmsg(65536, socket.CMSG_SPACE(TIMESPEC.size))
            arrival = time.clock_gettime_ns(time.CLOCK_REALTIME)
            for level, kind, value in ancillary:
                if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
                    seconds, nanoseconds = TIMESPEC.unpack(value[:TIMESPEC.size])
                    arrival = seconds * 1_000_000_000 + nanoseconds
            with self._lock:
                self._received.append((arrival, data, sender))
            if data == STATUS_REQUEST and self.answering:
                sock.sendto(self.report, sender)

    def send(self, data, to):
        self.peer.socket.sendto(bytes(data), (to, roomlib.STATION_PORT))

    def received(self):
        """(arrival in ns, bytes, sender) of every datagram so far."""
        with self._lock:
            return list(self._received)

    def datagrams(self):
        return [data for _, data, _ in self.received()]

    def forget(self):
        with self._lock:
            self._received.clear()

    def wait_for(self, data, timeout=START_TIMEOUT, count=1):
        """Waits until data has arrived count times; returns the list of its arrivals."""
        def arrivals():
            found = [entry for entry in self.received() if entry[1] == data]
            return found if len(found) >= count else None

        return roomlib.wait_until(arrivals, timeout) or [
            entry for entry in self.received() if entry[1] == data]

    def close(self):
        self._stop.set()
        self._thread.join(5)


class Console:
    """The operator at VorlekServer.exe, through VorlekProbe in the server's prefix."""

    def __init__(self, host, process):
        self.host = host
        self.process = process

    def wait_for_window(self, timeout=START_TIMEOUT):
        """Waits until the main dialog is on the screen; false when it did not come."""
        def shown():
            return f"\t{MAIN_TITLE}\t" in self.probe("windows").stdout

        return roomlib.wait_until(lambda: shown() or not self.process.running, timeout,
                                  interval=0.2) and self.process.running

    def probe(self, *args, check=True, timeout=PROBE_TIMEOUT):
        """Runs the probe. A reading that the loaded machine stalls is tried again; an action is
        run once."""
        tries = PROBE_READ_TRIES if args[0] in PROBE_READS else 1
        for attempt in range(tries):
            try:
                result = self.host.probe(*[str(a) for a in args], timeout=timeout)
            except subprocess.TimeoutExpired:
                if attempt == tries - 1:
                    raise
                continue
            # The probe prints a line on every failure of its own: a failure without a word
            # is Wine not starting it on the loaded machine, and nothing was done.
            if result.returncode != 0 and not result.stdout and not result.stderr:
                result = self.host.probe(*[str(a) for a in args], timeout=timeout)
            break
        if check:
            assert result.returncode == 0, (args, result.returncode, result.stdout,
                                            result.stderr)
        return result

    # The station list

    def rows(self, title=MAIN_TITLE, list_id=STATION_LIST):
        """[(text, selected)] of the list box's rows, top to bottom."""
        return roomlib.parse_rows(self.probe("rows", title, list_id).stdout)

    def row_texts(self, title=MAIN_TITLE, list_id=STATION_LIST):
        return [text for text, _ in self.rows(title, list_id)]

    def wait_rows(self, condition, timeout=START_TIMEOUT):
        """Polls the rows until condition(texts) holds; returns the last texts."""
        last = []

        def holds():
            nonlocal last
            result = self.probe("rows", MAIN_TITLE, STATION_LIST, check=False)
            if result.returncode != 0:
                return False
            last = [text for text, _ in roomlib.parse_rows(result.stdout)]
            return condition(last)

        roomlib.wait_until(holds, timeout, interval=0.2)
        return last

    def select(self, *indices):
        self.probe("select", MAIN_TITLE, STATION_LIST, *indices)

    def select_in(self, title, list_id, *indices):
        self.probe("select", title, list_id, *indices)

    # Controls and commands

    def click(self, control, title=MAIN_TITLE):
        self.probe("click", title, control)

    def command(self, command_id, title=MAIN_TITLE):
        self.probe("command", title, command_id)

    def set_text(self, control, text, title=MAIN_TITLE):
        self.probe("set-text", title, control, text)

    def text(self, control, title=MAIN_TITLE):
        return self.probe("get-text", title, control).stdout.rstrip("\r\n")

    def set_option(self, menu_command, title, edit, set_button, value):
        """Opens an option dialog from the Options menu, types value and presses "Set"."""
        self.command(menu_command)
        self.set_text(edit, value, title=title)
        self.click(set_button, title=title)
        assert roomlib.wait_until(lambda: title not in self.probe("windows").stdout, 5)

    # Message boxes

    def boxes(self):
        return roomlib.parse_boxes(self.probe("boxes").stdout)

    def wait_box(self, caption, timeout=START_TIMEOUT):
        """The text of the first box with this caption that opens within timeout, or None."""
        result = self.probe("wait-box", caption, int(timeout * 1000), check=False,
                            timeout=timeout + PROBE_TIMEOUT)
        return box_text(result) if result.returncode == 0 else None

    def close_box(self, caption):
        result = self.probe("close-box", caption, 5000, check=False)
        return box_text(result) if result.returncode == 0 else None


def box_text(result):
    """The text of the box in a wait-box ("box CAPTION\tTEXT") or close-box ("closed ...")."""
    line = result.stdout.splitlines()[0]
    return roomlib.unescape(line.split("\t", 1)[1])


def xdotool(room, *args, check=True):
    """Runs xdotool on the room's display; returns its output."""
    return subprocess.run(["xdotool", *[str(a) for a in args]],
                          env={"DISPLAY": room.display_name}, check=check, capture_output=True,
                          timeout=20).stdout.decode()


def focus_window(room, title):
    """Gives the keyboard focus to the visible window with this title; returns its X id."""
    window = xdotool(room, "search", "--onlyvisible", "--name", f"^{title}$").split()[0]
    xdotool(room, "windowfocus", "--sync", window)
    return window


def press_keys(room, *names):
    """Focuses the main dialog and presses each key in turn. Wine may leave the window in menu
    mode after an Alt+letter, which would swallow the next key: an Escape follows each one."""
    window = focus_window(room, MAIN_TITLE)
    for name in names:
        xdotool(room, "key", name)
        xdotool(room, "key", "Escape")
    return window


def type_into(console, room, control, text, title=MAIN_TITLE):
    """Empties an edit and types text into it key by key, as the operator does."""
    console.set_text(control, "", title=title)
    console.probe("focus", title, control)
    focus_window(room, title)
    xdotool(room, "type", "--delay", "20", "--", text)
    assert roomlib.wait_until(lambda: console.text(control, title=title) == text, 5), text


class PortBlocker:
    """A socket that holds address:10001 of a host without address reuse, from a process of
    its own inside the host, until closed."""

    SCRIPT = ("import socket, sys, time\n"
              "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
              "s.bind((sys.argv[1], 10001))\n"
              "print('bound', flush=True)\n"
              "time.sleep(120)\n")

    def __init__(self, host):
        self.process = subprocess.Popen(
            host.command(["/usr/bin/python3", "-c", self.SCRIPT, host.address]),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        ready = select.select([self.process.stdout], [], [], 10)[0]
        assert ready and self.process.stdout.readline() == b"bound\n"

    def close(self):
        roomlib.kill_pids([self.process.pid])
        self.process.stdout.close()
        self.process.wait(5)


@contextlib.contextmanager
def fake_agents(room):
    """Gives the room agent(name, **kwargs), which makes a FakeAgent in that host; every agent it
    made is closed when the block ends."""
    agents = []

    def agent(name, **kwargs):
        made = FakeAgent(room[name], **kwargs)
        agents.append(made)
        return made

    room.agent = agent
    try:
        yield room
    finally:
        for made in agents:
            made.close()
