#!/usr/bin/python3
"""Benchmarks of the real VorlekServer.exe and VorlekClient.exe under Wine, printed as figures.

Two benchmark builds (bench/build_bench.sh) are measured in the same run, on the same machine:
the build under test and the first implementation. Every figure is printed beside the first
implementation's, with their ratio. See bench/README.md.

    /usr/bin/python3 bench/run_bench.py --current build/bench-win --baseline build/bench-base-win
"""

import argparse
import os
import re
import select
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPOSITORY / "tests" / "room"))

import room as roomlib  # noqa: E402

CONSOLE_OCTET = 11
SIM_OCTET = 12
NAMES_OCTET = 13
# The main dialog's Death Timer edit, read by the probe to time the console's answer.
MAIN_TITLE = "Vorlek server"
DEATH_TIMER_EDIT = 1008
STATION_LIST = 1006
RESPONSE_SAMPLES = 10
# How long after its start the console is given to show every station's name.
NAMES_TIMEOUT = 120
# The simulated stations live in the benchmarking range, on the simulator host's interface; the
# console reaches them through that host.
SIM_FIRST = "198.18.0.1"
SIM_NETWORK = "198.18.0.0/15"
# Stations start counting from 10 hours, so none reaches 0 during a run.
START_SECONDS = 36000
DRIVER_FILE = "vorlek_standin.sys"
DRIVER_SERVICE = "vorlekstandin"

TICK_LINE = re.compile(
    r"vorlek-bench tick (?P<seconds>[\d.]+) cpu (?P<cpu>[\d.]+) at (?P<at>[\d.]+) "
    r"handled (?P<handled>\d+) last (?P<last>[\d.]+)")
START_LINE = re.compile(r"vorlek-bench start created (?P<created>[\d.]+) entered (?P<entered>[\d.]+) "
                        r"timers (?P<timers>[\d.]+)")
FIRST_WINDOW_LINE = re.compile(r"vorlek-platform-costs first-window (?P<seconds>[\d.]+)")
DISCOVERY_LINE = re.compile(r"vorlek-bench discovery wall (?P<wall>[\d.]+) cpu (?P<cpu>[\d.]+) "
                            r"thread (?P<thread>[\d.]+)")
COSTS_LINE = re.compile(
    r"vorlek-platform-costs rows \d+ delete (?P<delete>[\d.]+) add (?P<add>[\d.]+) "
    r"clear (?P<clear>[\d.]+) release (?P<release>[\d.]+) paint (?P<paint>[\d.]+) "
    r"lookups (?P<lookups>[\d.]+) named (?P<named>\d+) "
    r"receives (?P<receives>[\d.]+) received (?P<received>\d+)")
FLOOR_FIGURES = [
    ("delete", "delete every row"),
    ("add", "add every row again (sorted)"),
    ("clear", "clear every row's selection"),
    ("release", "let the list draw again"),
    ("paint", "paint the visible rows"),
]


def sim_addresses(count):
    """The addresses the simulator gives its agents: 198.18.0.1 on, skipping .0 and .255."""
    addresses = []
    value = 198 << 24 | 18 << 16 | 1
    while len(addresses) < count:
        if value & 0xFF not in (0, 0xFF):
            addresses.append(".".join(str(value >> s & 0xFF) for s in (24, 16, 8, 0)))
        value += 1
    return addresses


class Simulator:
    """vorlek-room-sim running in a host, driven through its stdin."""

    def __init__(self, host, binary, count, *options):
        args = [binary, "--first", SIM_FIRST, "--count", count, *options]
        self.process = subprocess.Popen(host.command(args), stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True, bufsize=1,
                                        env=host.environment(), start_new_session=True)
        if not self.expect("ready", 60):
            raise roomlib.RoomError("the room simulator did not start")

    def expect(self, word, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.5)
            if ready:
                line = self.process.stdout.readline()
                if not line:
                    return None
                if line.startswith(word):
                    return line.split()
        return None

    def tell(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def stats(self):
        self.tell("stats")
        words = self.expect("stats", 10)
        return {words[i]: float(words[i + 1]) for i in range(1, len(words) - 1, 2)}

    def close(self):
        if self.process.poll() is None:
            self.tell("quit")
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                roomlib.kill_pids([self.process.pid])


def receive_buffer_drops(host):
    """UDP datagrams the host's kernel dropped for a full receive buffer (its namespace)."""
    lines = host.shell(["cat", "/proc/net/snmp"]).stdout.decode().splitlines()
    udp = [line.split() for line in lines if line.startswith("Udp:")]
    return int(udp[1][udp[0].index("RcvbufErrors")])


def tick_lines(process):
    return [{k: float(v) for k, v in m.groupdict().items()}
            for m in TICK_LINE.finditer(process.stderr)]


def make_station_room(session, count, named=True, name_delay=None):
    """A console host and a simulator host holding count station addresses. The stations are
    named in the console's hosts file (named), or by a name server host that answers every
    reverse look-up after name_delay seconds (pc-198-18-0-1 and so on), or not at all."""
    hosts = [("console", CONSOLE_OCTET), ("sim", SIM_OCTET)]
    if name_delay is not None:
        hosts.append(("names", NAMES_OCTET))
    room = roomlib.make_room(session.display, session.template, session.tools, hosts,
                             warm=["console"], name_server="names" if name_delay is not None
                             else None)
    session.rooms.append(room)
    if name_delay is not None:
        room.set_names(delay=name_delay)
    console, sim = room["console"], room["sim"]
    addresses = sim_addresses(count)
    batch = "".join(f"address add {a}/32 dev eth0\n" for a in addresses)
    subprocess.run(["ip", "-n", sim.namespace, "-batch", "-"], input=batch.encode(), check=True)
    roomlib.run(["ip", "-n", console.namespace, "route", "add", SIM_NETWORK, "via", sim.address])
    if named:
        hosts = roomlib.NETNS_ETC_DIR / console.namespace / "hosts"
        with open(hosts, "a") as file:
            file.writelines(f"{a}\tstation{i + 1:04d}\n" for i, a in enumerate(addresses))
    return room, addresses


def wait_for_ticks(process, count, timeout):
    roomlib.wait_until(lambda: len(tick_lines(process)) >= count or not process.running,
                       timeout, interval=0.2)
    return tick_lines(process)


# How often the probe asks, and how long the console is given to show its dialog.
ANSWER_INTERVAL_MS = 50
DIALOG_WAIT_MS = 60000


def answer_probe(host, duration_ms):
    """A probe that, once the main dialog exists, asks its Death Timer edit for its text length
    every ANSWER_INTERVAL_MS for duration_ms, as a button press would be handled by the console's
    thread. The probe times each question itself: neither its own start under Wine nor the wait
    for the dialog is counted."""
    return host.start(host.room.testbin("VorlekProbe.exe"), "--wait", DIALOG_WAIT_MS,
                      "answer-times", MAIN_TITLE, DEATH_TIMER_EDIT, ANSWER_INTERVAL_MS,
                      duration_ms)


def answers_of(probe):
    """(Unix time the question was sent, seconds the answer took) of each of the probe's lines."""
    answers = []
    for line in probe.stdout.splitlines():
        fields = line.split("\t")
        if len(fields) == 2:
            answers.append((float(fields[0]), float(fields[1])))
    return answers


def response_times(host, samples=RESPONSE_SAMPLES):
    """Seconds the console's thread takes to answer samples questions of the probe."""
    probe = answer_probe(host, samples * ANSWER_INTERVAL_MS)
    probe.wait(60)
    answers = [seconds for _, seconds in answers_of(probe)]
    if not answers:
        raise roomlib.RoomError(f"the probe could not read the console: {probe.stdout}")
    return answers


class StartWatch:
    """The console's answers to the probe's questions from its dialog's first moment until
    stop(): a list of (Unix time sent, seconds)."""

    def __init__(self, host):
        self.probe = answer_probe(host, 3600 * 1000)

    def stop(self):
        self.probe.kill()
        answers = answers_of(self.probe)
        if not answers:
            print(f"the start's probe read nothing: {self.probe.stdout.strip()}", file=sys.stderr)
        return answers


def wait_for_names(host, names, count, started, timeout):
    """Seconds from started until every row shows its station's name, or nan after timeout."""
    while time.time() - started < timeout:
        if rows_named(host, names) == count:
            return time.time() - started
        time.sleep(2)
    return float("nan")


def rows_named(host, names, attempts=3):
    """How many rows of the console's list begin with the name their station should show."""
    # Each row is a message to the console's thread: on a loaded machine 2048 rows take long.
    # Now and then a probe started under Wine never ends while the console goes on answering
    # others: it is killed, and another one asks.
    for attempt in range(attempts):
        try:
            read = host.probe("rows", MAIN_TITLE, STATION_LIST, timeout=60)
            break
        except subprocess.TimeoutExpired:
            print(f"a rows probe hung (attempt {attempt + 1})", file=sys.stderr)
    else:
        return float("nan")
    listed = roomlib.parse_rows(read.stdout)
    return sum(1 for text, _ in listed if text.split(" ( ")[0] == names.get(
        text.split(" ( ")[1].split(" )")[0] if " ( " in text else "", "N/A"))


def bench_console(session, build, count, ticks, rounds, named=True, name_delay=None):
    """One console with count counting stations: the start-up burst, then some ticks."""
    room, addresses = make_station_room(session, count, named, name_delay)
    console, sim_host = room["console"], room["sim"]
    console.put_file("clients", "".join(f"{a}\r\n" for a in addresses))
    program = None
    sim = Simulator(sim_host, session.simulator, count, "--server", console.address,
                    "--start-seconds", START_SECONDS)
    if name_delay is not None:
        names = {a: "pc-" + a.replace(".", "-") for a in addresses}
    elif named:
        names = {a: f"station{i + 1:04d}" for i, a in enumerate(addresses)}
    else:
        names = {}
    try:
        drops_before = receive_buffer_drops(console)
        # The probe is copied into the host once, before two threads use it.
        console.probe("usage")
        program = console.start(Path(build) / "release" / "VorlekServer.exe")
        watch = StartWatch(console)
        # The first tick adds every station's OFF row and checks them all: every agent answers
        # at once. The burst is over when a tick period passes without a datagram.
        first = wait_for_ticks(program, 1, 120)[0]
        start_line = START_LINE.search(program.stderr)
        created, entered, timers = (float(start_line[key])
                                    for key in ("created", "entered", "timers"))
        roomlib.wait_until(lambda: burst_settled(program), 240, interval=0.5)
        named_after = wait_for_names(console, names, count, created, NAMES_TIMEOUT)
        start_answers = watch.stop()
        sim_stats = sim.stats()
        burst_drops = receive_buffer_drops(console) - drops_before
        handled = [t for t in tick_lines(program) if t["handled"] > 0]
        burst_end = max((t["last"] for t in handled), default=0.0)
        burst = {
            "time": burst_end - sim_stats["first"] if burst_end else float("nan"),
            "lost": burst_drops,
            "answers": sim_stats["answers"],
        }
        # Rows of lost answers stay OFF: every agent reports again, paced, until a round loses
        # nothing, so that every station counts during the measured ticks.
        for _ in range(rounds):
            before = receive_buffer_drops(console)
            sim.tell("report 150")
            sim.expect("reported", 120)
            roomlib.wait_until(lambda: burst_settled(program), 240, interval=0.5)
            if receive_buffer_drops(console) == before:
                break
        start = len(tick_lines(program))
        responses = response_times(console)
        measured = wait_for_ticks(program, start + ticks, ticks * 60)[start:start + ticks]
        seconds = [t["seconds"] for t in measured]
        cpu = [t["cpu"] for t in measured]
        return {
            "first_tick": first["seconds"],
            "first_tick_end": first["at"] + first["seconds"] - timers,
            "first_tick_end_created": first["at"] + first["seconds"] - created,
            "first_tick_end_entered": first["at"] + first["seconds"] - entered,
            "start_answer_max": max((a for _, a in start_answers), default=float("nan")),
            "start_answer_median": statistics.median(a for _, a in start_answers)
            if start_answers else float("nan"),
            "start_answer_at": max(start_answers, key=lambda a: a[1])[0] - timers
            if start_answers else float("nan"),
            "start_answers": len(start_answers),
            "named_after": named_after,
            "tick": statistics.median(seconds) if seconds else float("nan"),
            "tick_cpu": statistics.median(cpu) if cpu else float("nan"),
            "tick_max": max(seconds, default=float("nan")),
            "ticks": len(seconds),
            "burst": burst,
            "response": statistics.median(responses),
            "response_max": max(responses),
            "named_rows": rows_named(console, names),
        }
    finally:
        if program is not None:
            session.keep_log(program, f"console-{count}-{Path(build).name}")
        sim.close()
        room.close()
        session.rooms.remove(room)


def burst_settled(program):
    """True when the console has handled no datagram during its last tick period."""
    ticks = tick_lines(program)
    return len(ticks) >= 2 and ticks[-1]["handled"] == 0


def bench_discovery(session, build, count):
    """Start-up without "clients" while count stations answer the discovery's broadcast: the
    CPU time of the discovery and the answers lost for a full receive buffer."""
    room, _ = make_station_room(session, count, named=False)
    console, sim_host = room["console"], room["sim"]
    sim = Simulator(sim_host, session.simulator, count, "--server", console.address,
                    "--broadcast")
    try:
        drops_before = receive_buffer_drops(console)
        program = console.start(Path(build) / "release" / "VorlekServer.exe")
        roomlib.wait_until(lambda: DISCOVERY_LINE.search(program.stderr) or not program.running,
                           60, interval=0.2)
        found = DISCOVERY_LINE.search(program.stderr)
        return {"cpu": float(found["cpu"]) if found else float("nan"),
                "thread": float(found["thread"]) if found else float("nan"),
                "lost": receive_buffer_drops(console) - drops_before}
    finally:
        sim.close()
        room.close()
        session.rooms.remove(room)


def bench_floor(session, count, named, name_delay=None):
    """The platform's costs of one second of row work, without the console: the medians of
    vorlek-platform-costs.exe's passes in a console host of a station room."""
    room, _ = make_station_room(session, count, named, name_delay)
    try:
        program = room["console"].start(session.tools / "bench-probe" / "vorlek-platform-costs.exe",
                                         count)
        roomlib.wait_until(lambda: not program.running, 300, interval=0.5)
        passes = [{k: float(v) for k, v in m.groupdict().items()}
                  for m in COSTS_LINE.finditer(program.stderr)]
        if not passes:
            raise roomlib.RoomError("vorlek-platform-costs.exe printed no figures")
        floor = {key: statistics.median(p[key] for p in passes) for key in passes[0]}
        first_window = FIRST_WINDOW_LINE.search(program.stderr)
        floor["first_window"] = float(first_window["seconds"]) if first_window else float("nan")
        return floor
    finally:
        room.close()
        session.rooms.remove(room)


def print_floor(session, sizes):
    print()
    print("| platform cost under Wine, without the console (median of 5 passes) | seconds |")
    print("|---|---|", flush=True)
    for count in sizes:
        named, unnamed = bench_floor(session, count, True), bench_floor(session, count, False)
        for key, name in FLOOR_FIGURES:
            print(f"| {name}, N={count} | {named[key]:.4f} |", flush=True)
        print(f"| look up every name, {int(named['named'])} of {count} in the hosts file "
              f"| {named['lookups']:.4f} |")
        print(f"| look up every name, none in the hosts file | {unnamed['lookups']:.4f} |")
        print(f"| receive {int(named['received'])} waiting datagrams of 5 bytes "
              f"| {named['receives']:.4f} |", flush=True)


def process_cpu_and_rss(pid):
    """CPU seconds (user + system) and resident kilobytes of the Linux process of a Wine
    program."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    cpu = (int(fields[11]) + int(fields[12])) / ticks
    status = Path(f"/proc/{pid}/status").read_text()
    rss = int(re.search(r"VmRSS:\s+(\d+)", status)[1])
    return cpu, rss


def wine_program_pid(host, exe):
    """The pid of the Linux process that runs exe in the host (its name is the exe's)."""
    for pid in roomlib.namespace_pids(host.namespace):
        try:
            if Path(f"/proc/{pid}/comm").read_text().strip() == exe[:15]:
                return pid
        except OSError:
            continue
    return None


def bench_agent(session, build, seconds):
    """VorlekClient.exe idle, then counting: CPU seconds per hour and resident memory."""
    room = roomlib.make_room(session.display, session.template, session.tools,
                             ["agent", "server"], warm=["agent"])
    session.rooms.append(room)
    try:
        agent, server = room["agent"], room["server"]
        target = agent.prefix / "drive_c" / "windows" / "system32" / "drivers" / DRIVER_FILE
        target.write_bytes(Path(session.tools, "testbin", DRIVER_FILE).read_bytes())
        agent.wine("sc", "create", DRIVER_SERVICE, "type=", "kernel", "start=", "demand",
                   "binPath=", f"C:\\windows\\system32\\drivers\\{DRIVER_FILE}", check=True)
        agent.wine("sc", "start", DRIVER_SERVICE, check=True)
        port = server.peer()
        agent.put_file("servers", f"{server.address}\r\n")
        program = agent.start(Path(build) / "release" / "VorlekClient.exe")
        port.recv(timeout=15)
        time.sleep(2)
        pid = wine_program_pid(agent, "VorlekClient.exe")
        figures = {}
        for phase in ("idle", "counting"):
            if phase == "counting":
                # Set time: 10 hours.
                port.send(agent.address, b"\x03\xa0\x8c\x00\x00")
                time.sleep(1)
            cpu_start, _ = process_cpu_and_rss(pid)
            time.sleep(seconds)
            cpu_end, rss = process_cpu_and_rss(pid)
            figures[phase] = (cpu_end - cpu_start) * 3600 / seconds
            figures["rss_" + phase] = rss / 1024
        program.kill()
        return figures
    finally:
        room.close()
        session.rooms.remove(room)


class Session:
    def __init__(self, tools, simulator, logs):
        roomlib.remove_leftovers()
        self.display_object = roomlib.Display()
        self.display = self.display_object.name
        self.template = roomlib.ensure_template(self.display)
        self.tools = Path(tools).resolve()
        self.simulator = str(Path(simulator).resolve())
        self.rooms = []
        self.logs = Path(logs)
        self.logs.mkdir(parents=True, exist_ok=True)

    def keep_log(self, program, name):
        """Keeps a program's stderr (the benchmark lines) after its room is gone."""
        (self.logs / f"{name}.err").write_text(program.stderr)

    def close(self):
        for room in self.rooms:
            room.close()
        self.display_object.close()


class NotMeasured(float):
    """The figures of a baseline that was not run: nan, also for every figure within."""

    def __getitem__(self, key):
        return self


NOT_MEASURED = NotMeasured("nan")


def pair(results):
    """(current, baseline) of the results of one or both builds."""
    results = list(results)
    return results[0], results[1] if len(results) > 1 else NOT_MEASURED


def ratio(current, baseline):
    try:
        return f"{current / baseline:.3f}"
    except ZeroDivisionError:
        return "-"


def row(name, current, baseline, unit, target=None):
    verdict = ""
    if target is not None:
        verdict = "met" if target(current) else "missed"
    print(f"| {name} | {current:.4f} {unit} | {baseline:.4f} {unit} | {ratio(current, baseline)} "
          f"| {verdict} |", flush=True)


def terminated(signum, frame):
    # Unwinds like Ctrl+C, so that every room is closed.
    raise KeyboardInterrupt(f"signal {signum}")


def main():
    signal.signal(signal.SIGTERM, terminated)
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--current", required=True, help="benchmark build under test")
    parser.add_argument("--baseline", help="benchmark build of the first version (without it, "
                        "only the build under test is measured)")
    parser.add_argument("--simulator", default=str(REPOSITORY / "build/bench/vorlek-room-sim"))
    parser.add_argument("--sizes", default="16,256,2048")
    parser.add_argument("--unnamed", action="store_true",
                        help="stations the name service does not know (rows named N/A)")
    parser.add_argument("--name-server-ms", type=int,
                        help="stations named only by a name server host that answers every "
                        "reverse look-up after this many milliseconds")
    parser.add_argument("--logs", default="/tmp/vorlek-bench-logs",
                        help="where the consoles' benchmark lines are kept")
    parser.add_argument("--only", default="console,discovery,agent,floor")
    parser.add_argument("--agent-seconds", type=float, default=60.0)
    parser.add_argument("--ticks", type=int, default=60, help="ticks measured per console")
    parser.add_argument("--baseline-ticks", type=int, help="ticks of the first implementation "
                        "(default: --ticks; fewer keep a slow first implementation's run short)")
    parser.add_argument("--rounds", type=int, default=5,
                        help="paced report rounds at most before the ticks are measured")
    arguments = parser.parse_args()
    sizes = [int(s) for s in arguments.sizes.split(",")]
    parts = arguments.only.split(",")
    builds = {"current": str(Path(arguments.current).resolve())}
    if arguments.baseline:
        builds["baseline"] = str(Path(arguments.baseline).resolve())
    name_delay = arguments.name_server_ms / 1000 if arguments.name_server_ms is not None else None
    # Stations the hosts file names never reach the name server.
    named = not arguments.unnamed and name_delay is None

    session = Session(arguments.current, arguments.simulator, arguments.logs)
    try:
        print("| figure | current | first implementation | ratio | target |")
        print("|---|---|---|---|---|", flush=True)
        if "console" in parts:
            for count in sizes:
                ticks = {"current": arguments.ticks,
                         "baseline": arguments.baseline_ticks or arguments.ticks}
                result = {name: bench_console(session, build, count, ticks[name], arguments.rounds,
                                              named, name_delay)
                          for name, build in builds.items()}
                cur, base = result["current"], result.get("baseline", NOT_MEASURED)
                row(f"first tick, wall, N={count}", cur["first_tick"], base["first_tick"], "s")
                row(f"first tick ends after the console's timers were set, N={count}",
                    cur["first_tick_end"], base["first_tick_end"], "s", lambda v: v <= 1.5)
                row(f"first tick ends after the console's own code began, N={count}",
                    cur["first_tick_end_entered"], base["first_tick_end_entered"], "s")
                row(f"first tick ends after the console's process was created, N={count}",
                    cur["first_tick_end_created"], base["first_tick_end_created"], "s")
                row(f"console's answer to a read of its dialog during the start, slowest of "
                    f"{cur['start_answers']}/{base['start_answers']}, N={count}",
                    cur["start_answer_max"], base["start_answer_max"], "s", lambda v: v < 0.2)
                row(f"  ... asked after the console's timers were set, N={count}",
                    cur["start_answer_at"], base["start_answer_at"], "s")
                row(f"console's answer during the start, median, N={count}",
                    cur["start_answer_median"], base["start_answer_median"], "s")
                row(f"every row shows its station's name after the start, N={count}",
                    cur["named_after"], base["named_after"], "s", lambda v: v <= 60)
                row(f"tick, median of {cur['ticks']}/{base['ticks']}, N={count}", cur["tick"],
                    base["tick"], "s",
                    (lambda v: v <= 0.050) if count == 2048 else None)
                row(f"tick CPU of the thread, median, N={count}", cur["tick_cpu"],
                    base["tick_cpu"], "s")
                row(f"tick, slowest, N={count}", cur["tick_max"], base["tick_max"], "s")
                row(f"burst, all rows right, N={count}", cur["burst"]["time"],
                    base["burst"]["time"], "s",
                    (lambda v: v <= 2.0) if count == 2048 else None)
                row(f"burst, reports lost, N={count}", cur["burst"]["lost"],
                    base["burst"]["lost"], "",
                    (lambda v: v == 0) if count == 2048 else None)
                row(f"console's answer to a read of its dialog, median, N={count}",
                    cur["response"], base["response"], "s")
                row(f"console's answer to a read of its dialog, slowest, N={count}",
                    cur["response_max"], base["response_max"], "s", lambda v: v < 0.2)
                row(f"rows showing their station's name, N={count}", cur["named_rows"],
                    base["named_rows"], "", lambda v: v == count)
                # The floor of the same machine and run: rewriting and drawing every row.
                # Its name look-ups are figures of their own (below): none are made here.
                floor = bench_floor(session, count, False)
                rows_floor = sum(floor[key] for key in ("delete", "add", "clear", "release"))
                print(f"| floor of the row work, N={count} | {rows_floor:.4f} s | | | |")
                print(f"| floor of the start: a process's first window under Wine | "
                      f"{floor['first_window']:.4f} s | | | |")
                row(f"tick / floor of the row work, median, N={count}",
                    cur["tick"] / rows_floor, base["tick"] / rows_floor, "", lambda v: v <= 1.5)
                row(f"tick / floor of the row work, slowest, N={count}",
                    cur["tick_max"] / rows_floor, base["tick_max"] / rows_floor, "",
                    lambda v: v <= 1.5)
        if "discovery" in parts:
            for count in sizes:
                cur, base = pair(bench_discovery(session, b, count) for b in builds.values())
                row(f"discovery CPU, N={count} answering", cur["cpu"], base["cpu"], "s",
                    lambda v: v < 0.1)
                row(f"discovery CPU of the thread, N={count}", cur["thread"], base["thread"], "s")
                row(f"discovery, answers lost, N={count}", cur["lost"], base["lost"], "")
        if "agent" in parts:
            cur, base = pair(bench_agent(session, b, arguments.agent_seconds)
                             for b in builds.values())
            row("agent CPU per hour, idle", cur["idle"], base["idle"], "s", lambda v: v < 1.0)
            row("agent CPU per hour, counting", cur["counting"], base["counting"], "s")
            row("agent resident memory (Linux RSS under Wine)", cur["rss_idle"],
                base["rss_idle"], "MB", lambda v: v < 4.0)
        if "floor" in parts:
            print_floor(session, sizes)
    finally:
        session.close()


if __name__ == "__main__":
    main()
