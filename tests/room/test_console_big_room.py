"""VorlekServer.exe in front of a big room: new rows behind a slow name server, one notice for a
mass outage (/notices=summary), and the journal of the time given (/journal=). Stations are fake
agents and the room simulator; rows, boxes and journal lines are checked as text."""

import datetime
import subprocess
import time

import room as roomlib
from console_support import (INFORMATION, SERVER, START_TIMEOUT, STATUS_REQUEST, Console,
                             fake_agents)
from test_bench_sim import simulator  # noqa: F401 (a fixture)

HOUR = b"\x04\x10\x0e\x00\x00"
BLOCKED = b"\x04\x03\x00\x00\x80"
SIM_FIRST = "198.18.0.1"
OUTAGE = 300
FATAL = "Vorlek Server"


def start_console(room, clients, *switches, wait=True):
    server = room[SERVER]
    server.put_file("clients", clients)
    console = Console(server, server.start(room.release("VorlekServer.exe"), *switches))
    if wait:
        assert console.wait_for_window()
    return console


def row(host, state, label=None):
    return f"{label or host.name} ( {host.address} ){state}"


def test_a_slow_name_server_holds_neither_the_first_rows_nor_the_console(room_factory):
    # Only the name server knows the stations, and it answers after 4 s: the first tick does not
    # wait for it (three look-ups one after another would freeze the console for 12 s).
    stations = ["vlhost1", "vlhost2", "vlhost3"]
    with fake_agents(room_factory([SERVER, "names"] + stations, unnamed=stations,
                                  name_server="names")) as room:
        room.set_names(delay=4)
        hosts = [room[name] for name in stations]
        for name in stations:
            room.agent(name)
        console = start_console(room, "".join(f"{h.address}\r\n" for h in hosts))
        unnamed = [row(h, " -- state AVAILABLE", "N/A") for h in hosts]
        assert console.wait_rows(lambda rows: rows == unnamed, timeout=6) == unnamed
        named = [row(h, " -- state AVAILABLE", f"pc-{h.address.replace('.', '-')}")
                 for h in hosts]
        assert console.wait_rows(lambda rows: rows == named, timeout=15) == named


def test_a_mass_outage_opens_one_summary_while_the_ticks_go_on(room_factory, simulator):  # noqa: F811
    with fake_agents(room_factory([SERVER, "sim", "vlhost1"], warm=[SERVER])) as room:
        server, sim = room[SERVER], room["sim"]
        # The simulator's addresses: from 198.18.0.1 on, skipping .0 and .255.
        addresses = [f"198.18.{n // 256}.{n % 256}" for n in range(1, OUTAGE + 3)
                     if n % 256 not in (0, 255)]
        batch = "".join(f"address add {a}/32 dev eth0\n" for a in addresses)
        subprocess.run(["ip", "-n", sim.namespace, "-batch", "-"], input=batch.encode(),
                       check=True)
        roomlib.run(["ip", "-n", server.namespace, "route", "add", "198.18.0.0/15", "via",
                     sim.address])
        agents = subprocess.Popen(
            sim.command([simulator, "--first", SIM_FIRST, "--count", OUTAGE, "--server",
                         server.address, "--start-seconds", 36000]),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, start_new_session=True)
        try:
            assert agents.stdout.readline() == f"ready {OUTAGE}\n".encode()
            ticker = room.agent("vlhost1", report=HOUR)
            clients = "".join(f"{a}\r\n" for a in addresses + [ticker.address])
            console = start_console(room, clients, "/Notices=Summary")
            assert console.wait_rows(lambda rows: sum("state NORMAL" in r for r in rows)
                                     == OUTAGE + 1, timeout=30)
            # The first tick's datagrams go out on the console's sending thread: every station
            # was asked for its status once and sent the client warning once.
            agents.stdin.write(b"stats\n")
            agents.stdin.flush()
            stats = agents.stdout.readline().decode().split()
            assert stats[1:5] == ["requests", str(OUTAGE), "commands", str(OUTAGE)], stats
            # A check every 5 s, each station given three answer timeouts of a second.
            console.set_option(40014, "Periodic Check", 1043, 1044, "5")
            console.set_option(40015, "Timeout", 1010, 1040, "1")
        finally:
            roomlib.kill_pids([agents.pid])
            agents.wait(10)

        # Every simulated station falls silent at once: OFF at the same tick.
        # The summary names the first 20 in the order of "clients".
        expected = "\n".join([f"{OUTAGE} clients are OFF"] + [f"N/A ( {a} )" for a in addresses[:20]]
                             + [f"and {OUTAGE - 20} more"])
        assert console.wait_box(INFORMATION, timeout=45) == expected
        polls = len(ticker.wait_for(STATUS_REQUEST))
        rows = console.row_texts()
        assert sum(" -- state OFF" in r for r in rows if r.startswith("N/A ( 198.18.")) == OUTAGE
        # The box stays open: the ticks go on (the check every 5 s), and no second box opens.
        assert len(ticker.wait_for(STATUS_REQUEST, count=polls + 2, timeout=15)) >= polls + 2
        assert [text for caption, text in console.boxes() if caption == INFORMATION] == [
            expected]


def journal_lines(host, folder):
    files = sorted((host.workdir / folder).glob("vorlek-*.csv"))
    return files, [line for f in files for line in f.read_bytes().decode().split("\r\n")[:-1]]


def test_the_journal_holds_a_line_for_each_command_and_state_change(room_factory):
    with fake_agents(room_factory([SERVER, "vlhost1", "vlhost2"])) as room:
        server = room[SERVER]
        sealed = server.workdir / "sealed"
        sealed.mkdir()
        roomlib.run(["chattr", "+i", sealed])
        try:
            refused = start_console(room, "", "/journal=C:\\vorlek\\sealed", wait=False)
            assert refused.wait_box(FATAL) == 'The journal cannot be written in "C:\\vorlek\\sealed".'
            assert refused.close_box(FATAL) is not None
            assert refused.process.wait(START_TIMEOUT) == 0
        finally:
            roomlib.run(["chattr", "-i", sealed])

        (server.workdir / "book").mkdir()
        host1, host2 = room.agent("vlhost1", report=HOUR), room.agent("vlhost2", report=HOUR)
        console = start_console(room, f"{host1.address}\r\n{host2.address}\r\n",
                                "/journal=C:\\vorlek\\book")
        assert console.wait_rows(lambda rows: len(rows) == 2 and all(
            "NORMAL" in r for r in rows), timeout=10)
        console.select(0)
        console.click(1032)  # 1 hour.
        console.click(1013)  # Pause
        console.select(0, 1)
        console.set_text(1008, "30:00")
        console.click(1016)  # Update
        console.select(1)
        console.click(1019)  # Free
        host2.report = BLOCKED
        host2.send(BLOCKED, server.address)
        assert console.wait_box(INFORMATION) == f"Client 'vlhost2' ( {host2.address} ) is BLOCKED"
        console.close_box(INFORMATION)

        def line(agent, event, seconds=""):
            return [agent.host.name, agent.address, event, seconds, server.address]

        # The client warning goes to every listed station at the console's start.
        expected = [line(host1, "warning", "600"), line(host2, "warning", "600"),
                    line(host1, "add-time", "3600"), line(host1, "pause"),
                    line(host1, "set-time", "1800"), line(host2, "set-time", "1800"),
                    line(host2, "free"), line(host2, "BLOCKED")]
        assert roomlib.wait_until(
            lambda: len(journal_lines(server, "book")[1]) == len(expected) + 1, 10)
        files, lines = journal_lines(server, "book")
        assert lines[0] == "time,station,address,event,seconds,console"
        now = datetime.datetime.now(datetime.timezone.utc)
        for text in lines[1:]:
            stamp = datetime.datetime.fromisoformat(text.split(",")[0])
            assert abs((stamp - now).total_seconds()) < 120, text
            assert files == [server.workdir / "book" / f"vorlek-{stamp.date()}.csv"]
        assert [text.split(",")[1:] for text in lines[1:]] == expected

        # The file can no longer be written: told once, and the console goes on.
        roomlib.run(["chattr", "+i", files[0]])
        try:
            console.click(1018)  # Block
            told = console.wait_box(FATAL, timeout=10)
            assert told == (f'The journal could not be written to "C:\\vorlek\\book\\'
                            f'{files[0].name}". The console goes on without it.')
            console.close_box(FATAL)
            console.click(1020)  # Unlimited
            time.sleep(2)
            assert [c for c, _ in console.boxes() if c == FATAL] == []
            assert console.process.running
        finally:
            roomlib.run(["chattr", "-i", files[0]])
