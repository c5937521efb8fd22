"""What the agent's room tests share with the other room tests: the stand-in input-lock driver
(installing it and reading what it recorded), reading pixels of screenshots, and the user's
keyboard and mouse (xdotool) with the probe's window that records what reaches it."""

import shutil
import subprocess
import time

import room as roomlib
from console_support import xdotool

DRIVER_FILE = "vorlek_standin.sys"
DRIVER_SERVICE = "vorlekstandin"
DRIVER_COMMAND_TRIES = 3
# Where the stand-in driver writes one line per request, relative to drive_c.
DRIVER_LOG = "vorlek-device.log"
LOCK_REQUEST = "ioctl 0x00000100 in 0 out 0"
UNLOCK_REQUEST = "ioctl 0x00000200 in 0 out 0"


def install_driver(host):
    """Installs and starts the stand-in driver in the host's prefix."""
    target = host.prefix / "drive_c" / "windows" / "system32" / "drivers" / DRIVER_FILE
    shutil.copyfile(host.room.testbin(DRIVER_FILE), target)
    binary = f"C:\\windows\\system32\\drivers\\{DRIVER_FILE}"
    run_sc(host, ["create", DRIVER_SERVICE, "type=", "kernel", "start=", "demand", "binPath=",
                  binary], lambda state: state.returncode == 0)
    run_sc(host, ["start", DRIVER_SERVICE], lambda state: "RUNNING" in state.stdout)


def run_sc(host, args, done):
    """Runs sc with args in the host until done(the service's query) holds, a few times at most.
    Wine's sc ends with 1 and says nothing on every failure, and on the loaded machine a command
    now and then fails although the prefix is fine (Wine did not start it, or the service
    manager did not answer yet): what the query does not show done is done again."""
    for _ in range(DRIVER_COMMAND_TRIES):
        if host.wine("sc", *args).returncode == 0 or done(
                host.wine("sc", "query", DRIVER_SERVICE)):
            return
        time.sleep(1)
    raise roomlib.RoomError(f"sc {' '.join(args)} failed {DRIVER_COMMAND_TRIES} times")


def device_log(host):
    path = host.prefix / "drive_c" / DRIVER_LOG
    return path.read_text().splitlines() if path.exists() else []


def wait_for_device_log(host, lines, timeout=10):
    """Waits until the driver has recorded exactly these lines; returns what it recorded."""
    roomlib.wait_until(lambda: device_log(host) == lines, timeout)
    return device_log(host)


def pixel(path, x, y):
    """The (red, green, blue) of one pixel of a screenshot, 8 bits each."""
    text = subprocess.run(["convert", str(path), "-depth", "8", "-format",
                           f"%[fx:int(255*p{{{x},{y}}}.r)] %[fx:int(255*p{{{x},{y}}}.g)] "
                           f"%[fx:int(255*p{{{x},{y}}}.b)]", "info:"],
                          capture_output=True, check=True, timeout=30).stdout.decode()
    return tuple(int(v) for v in text.split())


INPUT_WINDOW = "Vorlek input counter"


class InputWindow:
    """The probe's input window on a host, focused: it records every key and mouse event that
    reaches it (see the probe's input-window)."""

    def __init__(self, host, seconds=120):
        self.room = host.room
        self.process = host.start(host.room.testbin("VorlekProbe.exe"), "input-window",
                                  INPUT_WINDOW, seconds * 1000)
        assert self.process.wait_for_output("ready\n", 20), self.process.stderr
        found = roomlib.wait_until(
            lambda: xdotool(self.room, "search", "--onlyvisible", "--name",
                            f"^{INPUT_WINDOW}$", check=False).split(), 10)
        assert found, "the input window is not on the display"
        self.window = found[0]

    def events(self):
        """The lines printed so far for keys and mouse events."""
        return [line for line in self.process.stdout.splitlines()
                if line.split(" ")[0] in ("key", "button", "wheel", "move")]

    def type_and_click(self, keys):
        """Focuses the window, presses each key (xdotool names), then moves the pointer over the
        window, clicks each button and turns the wheel; returns once the events have had time
        to arrive."""
        xdotool(self.room, "windowfocus", "--sync", self.window)
        for key in keys:
            xdotool(self.room, "key", key)
        xdotool(self.room, "mousemove", "--window", self.window, "150", "120")
        xdotool(self.room, "mousemove", "--window", self.window, "160", "130")
        for button in ("1", "3", "2", "4"):
            xdotool(self.room, "click", button)
        time.sleep(1.0)



# Sends one-byte status requests to a station as fast as it can for a number of seconds (and at
# most a bounded count), keeping the last answer of each batch with the time it came: "T WORD"
# lines, T in seconds after the given start, WORD the answered status word in hex.
_FLOOD = r"""
import socket, struct, sys, time
target, seconds, start = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.setblocking(False)
print("flooding", flush=True)
end = time.time() + seconds
sent, answers = 0, []
while time.time() < end and sent < 50_000_000:
    for _ in range(2000):
        try:
            udp.sendto(b"\x04", (target, 10001))
            sent += 1
        except BlockingIOError:
            pass
    last = None
    while True:
        try:
            data = udp.recv(64)
        except BlockingIOError:
            break
        if len(data) == 5:
            last = struct.unpack("<I", data[1:])[0]
    if last is not None:
        answers.append(f"{time.time() - start:.2f} {last:08x}")
print("sent", sent)
print("\n".join(answers), flush=True)
"""


class Flood:
    """A flood of status requests from a host to a station, started at once; results() waits
    for its end and gives the count sent and the (seconds after start, status word) answers."""

    def __init__(self, host, target, seconds, start):
        self.seconds = seconds
        self.process = subprocess.Popen(
            host.command(["/usr/bin/python3", "-c", _FLOOD, target, str(seconds), str(start)]),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True, text=True)
        assert self.process.stdout.readline() == "flooding\n"

    def results(self):
        try:
            out, _ = self.process.communicate(timeout=self.seconds + 30)
        finally:
            roomlib.kill_pids([self.process.pid])
        lines = out.splitlines()
        sent = int(lines[0].split()[1])
        answers = [(float(t), int(word, 16)) for t, word in (line.split() for line in lines[1:])]
        return sent, answers
