#!/usr/bin/env python3
"""A demo room: VorlekServer.exe on the host "frontdesk" and VorlekClient.exe on "alpha",
"bravo" and "charlie", each host a network namespace with its own Wine prefix, all drawing on
one display. A short scripted session shows stations appearing, time being added, one station
paused and one running out and locking; screenshots of the console and of the locked station are
saved. The room then stays up until Ctrl+C or SIGTERM (or ends at once with
--exit-after-script). Whatever it made is removed when it ends.

Run by scripts/demo.sh after setup and the Windows build; needs root (network namespaces)."""

import argparse
import os
import signal
import subprocess
import sys
import time
from datetime import datetime
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPOSITORY / "tests" / "room"))

import room as roomlib  # noqa: E402  (the room harness of the tests)

CONSOLE = "frontdesk"
STATIONS = ["alpha", "bravo", "charlie"]

MAIN_TITLE = "Vorlek server"
INFORMATION = "Vorlek Information"
STATION_LIST = 1006
ADD_30_MINUTES, ADD_1_HOUR = 1031, 1032
PAUSE, FREE = 1013, 1019
DEATH_TIMER, UPDATE = 1008, 1016

# The stand-in input-lock driver of the tests: the agent does not start without a device.
DRIVER_FILE = "vorlek_standin.sys"
DRIVER_SERVICE = "vorlekstandin"

WAIT = 30
LOCK_AFTER_SECONDS = 5


def say(text):
    print(f"demo: {text}", flush=True)


class DemoError(Exception):
    pass


class Operator:
    """The operator's hands on VorlekServer.exe, through the GUI probe in the console's host."""

    def __init__(self, host):
        self.host = host

    def probe(self, *args):
        result = self.host.probe(*[str(a) for a in args])
        if result.returncode != 0:
            raise DemoError(f"probe {' '.join(str(a) for a in args)}: {result.stdout.strip()}")
        return result.stdout

    def rows(self):
        return roomlib.parse_rows(self.probe("rows", MAIN_TITLE, STATION_LIST))

    def wait_rows(self, condition, what):
        texts = []

        def holds():
            nonlocal texts
            try:
                texts = [text for text, _ in self.rows()]
            except DemoError:
                return False
            return condition(texts)

        if not roomlib.wait_until(holds, WAIT, interval=0.3):
            raise DemoError(f"the console did not show {what}; its rows: {texts}")
        return texts

    def select(self, *indices):
        """Selects the rows and waits for the stations' answers to the click, as an operator
        looks before pressing a button; a row rewritten by a late answer is selected again."""
        for _ in range(5):
            self.probe("select", MAIN_TITLE, STATION_LIST, *indices)
            time.sleep(0.5)
            if [i for i, (_, chosen) in enumerate(self.rows()) if chosen] == list(indices):
                return
        raise DemoError(f"rows {indices} did not stay selected")

    def click(self, control):
        self.probe("click", MAIN_TITLE, control)

    def set_text(self, control, text):
        self.probe("set-text", MAIN_TITLE, control, text)

    def wait_box(self, caption):
        shown = self.probe("wait-box", caption, WAIT * 1000).splitlines()[0]
        return roomlib.unescape(shown.split("\t", 1)[1])

    def close_box(self, caption):
        self.probe("close-box", caption, 5000)

    def window_rectangle(self, title):
        """(left, top, right, bottom) of a visible top-level window."""
        for line in self.probe("windows").splitlines():
            _, window_title, rectangle = line.split("\t")
            if window_title == title:
                return tuple(int(v) for v in rectangle.split(","))
        raise DemoError(f"no window {title!r}")


def install_driver(host, room):
    target = host.prefix / "drive_c" / "windows" / "system32" / "drivers" / DRIVER_FILE
    source = room.testbin(DRIVER_FILE)
    if not source.exists():
        raise DemoError(f"{source} is missing: build the Windows programs first (scripts/demo.sh)")
    target.write_bytes(source.read_bytes())
    binary = f"C:\\windows\\system32\\drivers\\{DRIVER_FILE}"
    host.wine("sc", "create", DRIVER_SERVICE, "type=", "kernel", "start=", "demand", "binPath=",
              binary, check=True)
    host.wine("sc", "start", DRIVER_SERVICE, check=True)


def index_of(rows, name):
    return next(i for i, text in enumerate(rows) if text.startswith(f"{name} ("))


def show_rows(rows):
    for text in rows:
        print(f"        {text}", flush=True)


def own_display_usable(display):
    """True when the hosts, which run with a plain environment, can draw on this display."""
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": display,
           "HOME": os.environ.get("HOME", "/root")}
    try:
        return subprocess.run(["xdotool", "getdisplaygeometry"], env=env, capture_output=True,
                              timeout=10).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def screenshot(room, path, crop=None):
    room.screenshot(path)
    if crop is not None:
        left, top, right, bottom = crop
        roomlib.run(["convert", path, "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                     "+repage", path], timeout=30)
    say(f"saved {path}")


def play(room, shots):
    console_host = room[CONSOLE]
    operator = Operator(console_host)

    say(f"the console starts on {CONSOLE} ({console_host.address}); its \"clients\" lists "
        f"the three stations")
    console_host.put_file("clients", "# the stations of the demo room\r\n" + "".join(
        f"{room[name].address}\r\n" for name in STATIONS))
    console_host.start(room.release("VorlekServer.exe"))
    off = operator.wait_rows(lambda rows: len(rows) == 3 and all("state OFF" in r for r in rows),
                             "the listed stations as OFF")
    show_rows(off)

    for name in STATIONS:
        station = room[name]
        say(f"the agent starts on {name} ({station.address}) and says hello to the console")
        station.put_file("servers", f"# the room's console\r\n{console_host.address}\r\n")
        station.install(room.release("BLOCKED.BMP"))
        station.start(room.release("VorlekClient.exe"))
        operator.wait_rows(lambda rows, n=name: any(
            r.startswith(f"{n} (") and r.endswith("state AVAILABLE") for r in rows),
            f"{name} as AVAILABLE")
    show_rows(operator.wait_rows(lambda rows: all(r.endswith("AVAILABLE") for r in rows),
                                 "every station AVAILABLE"))

    say("the operator selects every station and presses \"1 hour.\"")
    operator.select(0, 1, 2)
    operator.click(ADD_1_HOUR)
    show_rows(operator.wait_rows(lambda rows: all("state NORMAL" in r for r in rows),
                                 "every station counting"))

    rows = operator.wait_rows(lambda rows: True, "its rows")
    say("charlie buys 30 minutes more")
    operator.select(index_of(rows, "charlie"))
    operator.click(ADD_30_MINUTES)
    operator.wait_rows(lambda rows: any(r.startswith("charlie (") and "remains 01:2" in r
                                        for r in rows), "charlie with 1:29 left")

    say("bravo is paused")
    operator.select(index_of(rows, "bravo"))
    operator.click(PAUSE)
    show_rows(operator.wait_rows(lambda rows: any(
        r.startswith("bravo (") and "state PAUSED" in r for r in rows), "bravo PAUSED"))
    screenshot(room, shots / "console.png", operator.window_rectangle(MAIN_TITLE))
    screenshot(room, shots / "room-before-lock.png")

    say(f"alpha is given {LOCK_AFTER_SECONDS} seconds with the Death Timer and runs out")
    rows = operator.wait_rows(lambda rows: True, "its rows")
    operator.select(index_of(rows, "alpha"))
    operator.set_text(DEATH_TIMER, str(LOCK_AFTER_SECONDS))
    operator.click(UPDATE)
    say(f"the console says: {operator.wait_box(INFORMATION)}")
    time.sleep(1)
    screenshot(room, shots / "locked-station.png")
    operator.close_box(INFORMATION)
    show_rows(operator.wait_rows(lambda rows: any(
        r.startswith("alpha (") and r.endswith("state BLOCKED") for r in rows), "alpha BLOCKED"))
    screenshot(room, shots / "console-after-lock.png", operator.window_rectangle(MAIN_TITLE))

    # On the user's own display the lock window would cover the whole screen.
    say("the operator frees alpha: its lock picture goes")
    rows = operator.wait_rows(lambda rows: True, "its rows")
    operator.select(index_of(rows, "alpha"))
    operator.click(FREE)
    show_rows(operator.wait_rows(lambda rows: any(
        r.startswith("alpha (") and r.endswith("state AVAILABLE") for r in rows),
        "alpha AVAILABLE"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", help="the Windows build folder (release/ and testbin/); "
                        "default: VORLEK_WINDOWS_BUILD, else the build of the room's "
                        "architecture (build/windows or build/windows-x64)")
    parser.add_argument("--shots", help="folder for the screenshots "
                        "(default: build/demo-screenshots/DATE-TIME)")
    parser.add_argument("--exit-after-script", action="store_true",
                        help="end after the scripted session instead of running on")
    args = parser.parse_args()
    if os.geteuid() != 0:
        parser.error("run as root (network namespaces)")

    stamp = datetime.now().strftime("%Y%m%d-%H%M%S")
    shots = Path(args.shots) if args.shots else REPOSITORY / "build" / "demo-screenshots" / stamp
    shots.mkdir(parents=True, exist_ok=True)

    def interrupted(signum, frame):
        raise KeyboardInterrupt(f"signal {signum}")

    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGINT, interrupted)

    display = None
    room = None
    try:
        if args.build:
            build = Path(args.build)
            build = build if build.is_absolute() else REPOSITORY / build
        else:
            build = roomlib.windows_build_dir()
        say(f"{roomlib.room_architecture()} Wine prefixes, the programs of {build}")
        roomlib.remove_leftovers()
        own = os.environ.get("DISPLAY", "")
        if own and own_display_usable(own):
            display_name = own
            say(f"using your display {own}")
        else:
            display = roomlib.Display()
            display_name = display.name
            say(f"virtual display {display_name} (Xvfb pid {display.process.pid}); "
                f"the screenshots show it")
        say("preparing Wine (the first run on a machine takes about half a minute)")
        template = roomlib.ensure_template(display_name)
        room = roomlib.make_room(display_name, template, build, [CONSOLE] + STATIONS)
        say(f"room {room.id}: " + ", ".join(f"{h.name} {h.address}" for h in room.hosts))
        for name in STATIONS:
            install_driver(room[name], room)
        play(room, shots)
        say(f"screenshots in {shots}")
        if args.exit_after_script:
            say("script done; ending")
        else:
            say("script done; the room runs on (Ctrl+C ends it)")
            while True:
                signal.pause()
        return 0
    except KeyboardInterrupt:
        say("interrupted; ending")
        return 0
    except (DemoError, roomlib.RoomError, subprocess.TimeoutExpired) as error:
        say(f"failed: {error}")
        return 1
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        if room is not None:
            room.close()
        if display is not None:
            display.close()
        say("room removed")


if __name__ == "__main__":
    sys.exit(main())
