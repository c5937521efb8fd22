"""The installers in a room: silent installs in fresh hosts, upgrades over customised files,
programs in use, uninstalls, and the firewall commands the installers run (Wine's +process
trace shows every command line)."""

import itertools
import os
import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest
from cryptography.hazmat.primitives.asymmetric import ec

import room as roomlib
import test_system as system
from agent_support import install_driver
from test_agent import NO_CONSOLE_BOX
from test_signed_orders import (ALPHA, CONSOLE, console_room, key_line,  # noqa: F401
                                seconds_reach, seconds_reported, select_station,
                                start_signing_console)


HELLO = b"\x01"
AVAILABLE_REPORT = b"\x04\x02\x00\x00\x80"

CONSOLE_FOLDER = "Program Files/Vorlek Server"
# The console's working folder, which holds "clients".
CONSOLE_DATA = "ProgramData/Vorlek Server"
INSTALLED_CONSOLE = "C:\\Program Files\\Vorlek Server\\VorlekServer.exe"
AGENT_FOLDER = "Program Files/Vorlek Client"
MENU_SHORTCUT = "ProgramData/Microsoft/Windows/Start Menu/Programs/Vorlek Server.lnk"
STARTUP_SHORTCUT = "ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp/Vorlek Client.lnk"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
# Where Windows redirects a standard user's writes into the program folders.
VIRTUAL_STORE = "users/root/AppData/Local/VirtualStore"

NETSH = '"C:\\windows\\system32\\netsh.exe" '
CONSOLE_RULE_COMMANDS = [
    NETSH + 'advfirewall firewall delete rule name="Vorlek Server"',
    NETSH + 'advfirewall firewall add rule name="Vorlek Server" dir=in action=allow '
    'program="C:\\Program Files\\Vorlek Server\\VorlekServer.exe" protocol=UDP localport=10001 '
    'enable=yes profile=any',
]
AGENT_RULE_COMMANDS = [
    NETSH + 'advfirewall firewall delete rule name="Vorlek Client"',
    NETSH + 'advfirewall firewall add rule name="Vorlek Client" dir=in action=allow '
    'program="C:\\Program Files\\Vorlek Client\\VorlekClient.exe" protocol=UDP localport=10001 '
    'enable=yes profile=any',
]
TASKKILL = '"C:\\windows\\system32\\taskkill.exe" /F /IM VorlekClient.exe'
INSTALLED_AGENT = '"C:\\Program Files\\Vorlek Client\\VorlekClient.exe"'
# The local Users group (by its well-known SID) may change the console's data folder.
USERS_MAY_CHANGE = ('"C:\\windows\\system32\\icacls.exe" "C:\\ProgramData\\Vorlek Server" '
                    "/grant *S-1-5-32-545:(OI)(CI)M")
# The key tool's own permissions leave a standard operator's console out: the group may read it.
USERS_MAY_READ_KEY = ('"C:\\windows\\system32\\icacls.exe" '
                      '"C:\\ProgramData\\Vorlek Server\\room.key" /grant *S-1-5-32-545:R')

CONSOLE_INSTALLED = "Vorlek Server 1.0.0 installed in C:\\Program Files\\Vorlek Server.\r\n"
AGENT_INSTALLED = (
    "Setup starts no agent: the new VorlekClient.exe starts at the next logon. An agent that runs "
    "now goes on protecting this workstation until then.\r\n"
    "Vorlek Client 1.0.0 installed in C:\\Program Files\\Vorlek Client.\r\n")
NOBODY_TO_OBEY = ("/orders=servers needs the address of a console: with none, the agent would "
                  "obey nobody and stop at every start.")
NO_ROOM_KEYS = ('/orders=signed needs the public line of every console (/ROOMKEYS=): without a '
                'usable "roomkeys" the agent would refuse to start.')
# Two consoles' public lines; the first one's BASE64 holds a slash, which ends the value of any
# other switch.
ROOM_KEY_LINES = [
    key_line(ec.derive_private_key(scalar, ec.SECP256R1()), comment) for scalar, comment in (
        (0x45beeb580adf9cb47c66507b49ebc816e3ff6f2ee6b9af58c27af6e17157644c, "frontdesk"),
        (0x2c8f0a4e9b5d61f3a7e4c2b0d9f8e7a6b5c4d3e2f1a0b9c8d7e6f5a4b3c2d1e0, "desk 2"))]
ROOM_KEYS_FILE = "".join(line + "\r\n" for line in ROOM_KEY_LINES).encode()
# The console's key and its public line in its data folder.
ROOM_KEY = "C:\\ProgramData\\Vorlek Server\\room.key"
KEY_MADE = ("The console signs its orders with C:\\ProgramData\\Vorlek Server\\room.key. Put its "
            "public line, kept in C:\\ProgramData\\Vorlek Server\\roomkey.pub, into the "
            '"roomkeys" of every station:\r\n')
NO_DRIVER_NOTE = (
    'The input-lock driver is not installed on this computer: VorlekClient.exe shows "Failed '
    'to open vorlek device" and ends at every start until it is. Install the driver as the '
    "operator's guide says.\r\n")

# A customised station list: a comment, two stations, no line end after the last.
OPERATORS_LIST = b"# room 2\r\n198.51.100.31\r\n198.51.100.32"

_runs = itertools.count()

# Generous bounds for Wine: an installer run, a program start.
SETUP_TIMEOUT = 120
START_TIMEOUT = 15


class SetupRun:
    """One run of an installer or uninstaller: its exit code and the command lines of the
    programs it started, from Wine's +process trace."""

    def __init__(self, exit_code, trace):
        self.exit_code = exit_code
        self.trace = trace
        self.commands = [unescape_trace(m) for m in
                         re.findall(r'CreateProcessInternalW app .* cmdline L"(.*)"$', trace,
                                    re.MULTILINE)]

    def __repr__(self):
        # What a failed assertion on the run shows: the end of Wine's trace says why it ended.
        return f"SetupRun(exit {self.exit_code}, trace ends:\n{self.trace[-1500:]})"

    def started(self, program):
        """The command lines that start program (its quoted path opens the line)."""
        return [c for c in self.commands if c.startswith(program)]


def unescape_trace(text):
    """A wide string as Wine's debug output escapes it."""
    return re.sub(r"\\(.)", lambda m: m.group(1), text)


def run_setup(host, exe, *args, environment=None, wait_for=None, typed=False):
    """Runs an installer (a Linux path) or an installed uninstaller (a Windows path) silently
    with the process trace on and waits for it; wait_for, when given, is a condition that
    marks the end of a run whose first process hands over to a second (the uninstaller).
    typed runs the command line as typed at a command prompt, where an argument may hold blanks
    without quotes (/D=)."""
    if Path(exe).is_absolute():
        exe = host.install(exe)
    command = ["cmd", "/c", " ".join([exe, "/S", *args])] if typed else [exe, "/S", *args]
    return run_traced(host, command, environment, wait_for)


def run_msiexec(host, action, package, *properties, ui="/qn"):
    """Runs msiexec ACTION (/i, /x, /fa) on a package (a Linux path) with the user interface
    ui (by default none, the way a push installs it), with the process trace on."""
    return run_traced(host, ["msiexec", action, host.install(package), ui, *properties])


def run_traced(host, command, environment=None, wait_for=None):
    """Runs a Windows command line in the host with the process trace on, as run_setup
    describes; its SetupRun."""
    trace_path = host.room.directory / f"{host.name}-setup-{next(_runs)}.err"
    env = host.environment({"WINEDEBUG": "+process", **(environment or {})})
    with open(trace_path, "wb") as trace:
        # Files, not pipes: an agent started by the installer keeps what it inherits open.
        process = subprocess.Popen(host.command(["wine", *command]), env=env,
                                   cwd=host.workdir, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=trace,
                                   start_new_session=True)
        exit_code = process.wait(SETUP_TIMEOUT)
    if wait_for is not None:
        assert roomlib.wait_until(wait_for, SETUP_TIMEOUT), "the uninstaller did not finish"
        assert roomlib.wait_until(lambda: not host_processes(host, "Un_A.exe"), SETUP_TIMEOUT)
    return SetupRun(exit_code, trace_path.read_text(encoding="utf-8", errors="replace"))


def host_processes(host, program):
    """{pid: working directory} of the host's processes whose command line names program."""
    found = {}
    pids = subprocess.run(["ip", "netns", "pids", host.namespace], capture_output=True,
                          text=True, check=True).stdout.split()
    for pid in pids:
        try:
            command = Path(f"/proc/{pid}/cmdline").read_bytes().replace(b"\0", b" ").decode(
                errors="replace")
            if program in command and not roomlib.is_zombie(int(pid)):
                found[int(pid)] = Path(f"/proc/{pid}/cwd").resolve()
        except OSError:
            pass
    return found


def start_shortcut(host, shortcut):
    """Opens a shortcut as the shell does at logon or on a click: the program starts with the
    shortcut's working directory."""
    windows_path = "C:\\" + shortcut.replace("/", "\\")
    log = host.room.directory / f"{host.name}-shortcut.out"
    with open(log, "ab") as out:
        subprocess.Popen(host.command(["wine", "start", windows_path]), env=host.environment(),
                         cwd=host.workdir, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                         start_new_session=True).wait(START_TIMEOUT)


def put_earlier_program(path, image):
    """Puts image, followed by a mark that tells it apart, at path as an earlier installation's
    program (into a new file: a program running from the old one keeps it); the bytes put."""
    earlier = image + b"previous installation"
    path.unlink()
    path.write_bytes(earlier)
    return earlier


def start_agent(station, shortcut, console_port):
    """Starts the agent by its shortcut and takes its hello and its first report; the agent's
    (pid, working directory)."""
    start_shortcut(station, shortcut)
    assert console_port.recv(START_TIMEOUT) == (HELLO, (station.address, 10001))
    assert console_port.recv(START_TIMEOUT) == (AVAILABLE_REPORT, (station.address, 10001))
    (pid, cwd), = host_processes(station, "VorlekClient.exe").items()
    return pid, cwd


def registry_key(host, key):
    """The text of a registry key, or None when it does not exist."""
    result = host.wine("reg", "query", UNINSTALL_KEY + key)
    return result.stdout if result.returncode == 0 else None


def failing_netsh(host):
    """Replaces netsh in the host by a program that fails with exit code 2 for netsh's
    arguments (the probe, which rejects them), as netsh does where the firewall service is
    off; returns the environment that makes Wine run it instead of its own netsh."""
    target = host.prefix / "drive_c" / "windows" / "system32" / "netsh.exe"
    # drive_c is hard-linked to the room's template: replace the file, never write into it.
    target.unlink()
    shutil.copyfile(host.room.testbin("VorlekProbe.exe"), target)
    return {"WINEDLLOVERRIDES": roomlib.WINE_ENVIRONMENT["WINEDLLOVERRIDES"] + ";netsh.exe=n"}


def shortcut_arguments(host, shortcut):
    """The arguments that a shortcut (a .lnk file of drive C:) passes to its program."""
    data = (host.prefix / "drive_c" / shortcut).read_bytes()
    flags = int.from_bytes(data[20:24], "little")
    at = 76  # after the header
    if flags & 0x1:  # a list of the target's item ids, after its size
        at += 2 + int.from_bytes(data[at:at + 2], "little")
    if flags & 0x2:  # the target's location, its size included
        at += int.from_bytes(data[at:at + 4], "little")
    width = 2 if flags & 0x80 else 1
    # Counted strings follow, each when its flag is set: name, relative path, working
    # folder, arguments.
    for flag in (0x4, 0x8, 0x10, 0x20):
        if flags & flag:
            end = at + 2 + width * int.from_bytes(data[at:at + 2], "little")
            text = data[at + 2:end]
            at = end
            if flag == 0x20:
                # Wine counts the terminating null as well.
                return text.decode("utf-16-le" if width == 2 else "latin-1").rstrip("\0")
    return ""


def setup_log(folder):
    path = folder / "setup.log"
    return path.read_bytes().decode("latin-1") if path.exists() else ""


@pytest.fixture
def release(windows_build):
    folder = windows_build / "release"
    for name in ("VorlekServer-setup.exe", "VorlekClient-setup.exe"):
        if not (folder / name).exists():
            pytest.fail(f"{folder / name} is missing (is the Windows build done?)")
    return folder


# Switches chosen when a console installer upgrades, then kept by the next upgrade.
CHOSEN_SWITCHES = '/hellos=listed /notices=summary "/journal=C:\\Journal"'


def test_console_installer_installs_keeps_the_station_list_and_uninstalls(room_factory, release):
    host = room_factory(["operator"])["operator"]
    folder = host.prefix / "drive_c" / CONSOLE_FOLDER
    data = host.prefix / "drive_c" / CONSOLE_DATA
    installer = release / "VorlekServer-setup.exe"

    fresh = run_setup(host, installer)
    assert fresh.exit_code == 0, fresh.trace[-3000:]
    assert sorted(p.name for p in folder.iterdir()) == [
        "Uninstall.exe", "VorlekKey.exe", "VorlekServer.exe", "setup.log"]
    for program in ("VorlekServer.exe", "VorlekKey.exe"):
        assert (folder / program).read_bytes() == (release / program).read_bytes()
    # The sample of the release folder, in a data folder that the operator may change (Wine keeps
    # no permissions: the command that sets them is what can be seen).
    assert sorted(p.name for p in data.iterdir()) == ["clients"]
    assert (data / "clients").read_bytes() == (release / "clients").read_bytes()
    assert fresh.started(USERS_MAY_CHANGE.split(" ")[0]) == [USERS_MAY_CHANGE]
    assert setup_log(folder) == CONSOLE_INSTALLED
    assert fresh.started(NETSH) == CONSOLE_RULE_COMMANDS
    entry = registry_key(host, "VorlekServer")
    for line in ("DisplayName    REG_SZ    Vorlek Server",
                 "DisplayVersion    REG_SZ    1.0.0",
                 'UninstallString    REG_SZ    "C:\\Program Files\\Vorlek Server\\Uninstall.exe"',
                 "InstallLocation    REG_SZ    C:\\Program Files\\Vorlek Server"):
        assert line in entry

    assert shortcut_arguments(host, MENU_SHORTCUT) == "/hellos=any /notices=each"

    # An upgrade while the console runs changes nothing and says why.
    marked = put_earlier_program(folder / "VorlekServer.exe",
                                 (release / "VorlekServer.exe").read_bytes())
    (data / "clients").write_bytes(OPERATORS_LIST)
    start_shortcut(host, MENU_SHORTCUT)
    assert roomlib.wait_until(lambda: host_processes(host, "VorlekServer.exe"), START_TIMEOUT)
    (pid, cwd), = host_processes(host, "VorlekServer.exe").items()
    assert cwd == data.resolve()
    # The console's window is up once it has read "clients".
    assert roomlib.wait_until(
        lambda: host.probe("get-text", "Vorlek Server").returncode == 0, START_TIMEOUT)
    in_use = run_setup(host, installer)
    assert in_use.exit_code == 2
    assert setup_log(folder).endswith(
        "Vorlek Server is running. Exit it (File, Exit) and run setup again; nothing was "
        "changed.\r\n")
    assert in_use.started(NETSH) == []
    assert (folder / "VorlekServer.exe").read_bytes() == marked
    assert pid in host_processes(host, "VorlekServer.exe")
    roomlib.kill_pids([pid])

    # With the console ended, an upgrade puts the program back and keeps the operator's list.
    upgrade = run_setup(host, installer, "/hellos=Listed", "/NOTICES=summary",
                        "/JOURNAL=C:\\Journal")
    assert upgrade.exit_code == 0, upgrade.trace[-3000:]
    assert (folder / "VorlekServer.exe").read_bytes() == (release / "VorlekServer.exe").read_bytes()
    assert (data / "clients").read_bytes() == OPERATORS_LIST
    assert upgrade.started(NETSH) == CONSOLE_RULE_COMMANDS
    assert shortcut_arguments(host, MENU_SHORTCUT) == CHOSEN_SWITCHES

    # The list of an installation that kept it in the program folder moves to the data folder,
    # unless the operator's saves went to the VirtualStore copy, which is newer.
    saved = host.prefix / "drive_c" / VIRTUAL_STORE / CONSOLE_FOLDER / "clients"
    saved.parent.mkdir(parents=True)
    saved.write_bytes(OPERATORS_LIST + b"\r\n198.51.100.34")
    for newer, taken in ((folder / "clients", b"33"), (saved, b"34")):
        (data / "clients").unlink()
        (folder / "clients").write_bytes(OPERATORS_LIST + b"\r\n198.51.100.33")
        os.utime(newer, (time.time() + 60,) * 2)
        assert run_setup(host, installer).exit_code == 0
        assert (data / "clients").read_bytes() == OPERATORS_LIST + b"\r\n198.51.100." + taken
        assert not (folder / "clients").exists()
    # An upgrade without the switch keeps the one chosen before.
    assert shortcut_arguments(host, MENU_SHORTCUT) == CHOSEN_SWITCHES

    uninstall = run_setup(host, "C:\\Program Files\\Vorlek Server\\Uninstall.exe",
                          wait_for=lambda: not (folder / "Uninstall.exe").exists())
    assert not folder.exists()
    assert sorted(p.name for p in data.iterdir()) == ["clients"]
    assert not (host.prefix / "drive_c" / MENU_SHORTCUT).exists()
    assert registry_key(host, "VorlekServer") is None
    assert uninstall.started(NETSH) == [CONSOLE_RULE_COMMANDS[0]]


def test_console_installer_replaces_a_program_in_use_and_puts_it_back_when_it_cannot(
        room_factory, release):
    """A console whose window the installer cannot see (a console in another user's session)
    goes on running from its file, which is put aside; a new copy that cannot be moved in (a
    program holds it open without sharing its deletion) leaves the installed program as it
    was."""
    host = room_factory(["operator"])["operator"]
    folder = host.prefix / "drive_c" / CONSOLE_FOLDER
    installer = release / "VorlekServer-setup.exe"
    assert run_setup(host, installer).exit_code == 0
    # The agent's program under the console's name: it runs without the console's window.
    program = folder / "VorlekServer.exe"
    program.unlink()
    shutil.copyfile(release / "VorlekClient.exe", program)
    holder = subprocess.Popen(host.command(["wine", INSTALLED_CONSOLE]), env=host.environment(),
                              cwd=host.workdir, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              start_new_session=True)
    try:
        assert roomlib.wait_until(lambda: host_processes(host, "VorlekServer.exe"), START_TIMEOUT)
        running = run_setup(host, installer)
        assert running.exit_code == 0, running.trace[-3000:]
        assert program.read_bytes() == (release / "VorlekServer.exe").read_bytes()
        assert holder.poll() is None
        # The running program's file is put aside; it goes at a later run after its end.
        assert (folder / "VorlekServer.exe.old1").read_bytes() == (
            release / "VorlekClient.exe").read_bytes()
    finally:
        roomlib.kill_pids(list(host_processes(host, "VorlekServer.exe")))
        holder.wait(START_TIMEOUT)

    marked = put_earlier_program(program, (release / "VorlekServer.exe").read_bytes())
    (folder / "VorlekServer.exe.new").write_bytes(b"held")
    held = subprocess.Popen(
        host.command(["wine", host.windows_path(host.install(host.room.testbin("VorlekProbe.exe"))),
                      "hold-file",
                      INSTALLED_CONSOLE + ".new", "60000"]),
        env=host.environment(), cwd=host.workdir, stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        assert held.stdout.readline().startswith(b"holding ")
        refused = run_setup(host, installer)
        assert refused.exit_code == 2
        assert setup_log(folder).endswith(
            "C:\\Program Files\\Vorlek Server\\VorlekServer.exe could not be replaced: another "
            "program holds it or its new copy open. The installed version was kept; run setup "
            "again later.\r\n")
        # The new copy was written but could not be moved in: the installed file, put aside
        # meanwhile, is back in its place.
        assert (folder / "VorlekServer.exe.new").read_bytes() == (
            release / "VorlekServer.exe").read_bytes()
        assert program.read_bytes() == marked
        assert sorted(p.name for p in folder.iterdir() if p.name.startswith("VorlekServer")) == [
            "VorlekServer.exe", "VorlekServer.exe.new"]
        assert refused.started(NETSH) == []
    finally:
        roomlib.kill_pids([held.pid])
        held.stdout.close()
        held.wait(START_TIMEOUT)


def test_console_setup_makes_a_room_key_once_and_an_agent_set_up_with_its_line_obeys_it(
        console_room, release):
    room = console_room
    host, station = room[CONSOLE], room[ALPHA]
    folder = host.prefix / "drive_c" / CONSOLE_FOLDER
    data = host.prefix / "drive_c" / CONSOLE_DATA
    installer = release / "VorlekServer-setup.exe"

    signing = run_setup(host, installer, "/SIGN=1")
    assert signing.exit_code == 0, signing.trace[-3000:]
    assert sorted(p.name for p in data.iterdir()) == ["clients", "room.key", "roomkey.pub"]
    tool = host.wine(f"C:\\{CONSOLE_FOLDER}\\VorlekKey.exe".replace("/", "\\"), "public",
                     ROOM_KEY)
    assert tool.returncode == 0, tool.stderr
    line = tool.stdout.strip()
    assert (data / "roomkey.pub").read_bytes() == line.encode() + b"\r\n"
    assert setup_log(folder) == KEY_MADE + line + "\r\n" + CONSOLE_INSTALLED
    assert signing.started(USERS_MAY_CHANGE.split(" ")[0]) == [USERS_MAY_READ_KEY,
                                                                USERS_MAY_CHANGE]
    assert shortcut_arguments(host, MENU_SHORTCUT) == "/hellos=any /notices=each /orders=signed"

    # An upgrade keeps the key, its line and the switch; a line that went is written again.
    key = (data / "room.key").read_bytes()
    for removed in ([], ["roomkey.pub"]):
        for name in removed:
            (data / name).unlink()
        upgrade = run_setup(host, installer)
        assert upgrade.exit_code == 0
        assert upgrade.started(USERS_MAY_CHANGE.split(" ")[0]) == [USERS_MAY_CHANGE]
        assert (data / "room.key").read_bytes() == key
        assert (data / "roomkey.pub").read_bytes() == line.encode() + b"\r\n"
        assert shortcut_arguments(host, MENU_SHORTCUT) == (
            "/hellos=any /notices=each /orders=signed")

    # A key that cannot be read is an error of the setup, which then changes nothing.
    (data / "room.key").write_bytes(b"not a key")
    marked = put_earlier_program(folder / "VorlekServer.exe",
                                 (release / "VorlekServer.exe").read_bytes())
    (folder / "setup.log").unlink()
    unreadable = run_setup(host, installer)
    assert unreadable.exit_code == 2
    log = setup_log(folder)
    assert log.startswith(f"The console's key {ROOM_KEY} could not be read (VorlekKey.exe ended "
                          "with 1): VorlekKey: The key file could not be unprotected on this "
                          "machine (error "), log
    assert log.endswith("\r\nNothing was changed.\r\n") and log.count("\r\n") == 2, log
    assert (folder / "VorlekServer.exe").read_bytes() == marked
    (data / "room.key").write_bytes(key)

    # The agent's setup takes the console's line; a signed "1 hour." reaches the agent.
    agent_setup = run_setup(station, release / "VorlekClient-setup.exe",
                            f"/SERVERS={host.address}", f"/ROOMKEYS={line}|{ROOM_KEY_LINES[1]}",
                            "/ORDERS=signed")
    assert agent_setup.exit_code == 0, agent_setup.trace[-3000:]
    assert (station.prefix / "drive_c" / AGENT_FOLDER / "roomkeys").read_bytes() == (
        f"{line}\r\n{ROOM_KEY_LINES[1]}\r\n".encode())
    assert shortcut_arguments(station, STARTUP_SHORTCUT) == "/hold=device /orders=signed"
    start_shortcut(station, STARTUP_SHORTCUT)
    # The agent (AVAILABLE) has said hello once it answers: the Hello cannot meet the first tick.
    assert seconds_reported(room) == 0x80000002
    host.put_file("room.key", key)
    console = start_signing_console(room, CONSOLE, [ALPHA])
    system.wait_for_rows(console, [system.row(room, ALPHA, " -- state AVAILABLE")])
    select_station(console, room)
    console.click(system.ADD_1_HOUR)
    assert seconds_reach(room, 3590, 3600)


def test_agent_installer_installs_starts_at_logon_upgrades_and_uninstalls(room_factory, release):
    room = room_factory(["station", "console"])
    station, console = room["station"], room["console"]
    folder = station.prefix / "drive_c" / AGENT_FOLDER
    installer = release / "VorlekClient-setup.exe"
    console_port = console.peer(receive_broadcasts=False)
    install_driver(station)

    fresh = run_setup(station, installer, f"/SERVERS={console.address},198.51.100.40")
    assert fresh.exit_code == 0, fresh.trace[-3000:]
    assert sorted(p.name for p in folder.iterdir()) == [
        "BLOCKED.BMP", "Uninstall.exe", "VorlekClient.exe", "servers", "setup.log"]
    assert (folder / "VorlekClient.exe").read_bytes() == (release / "VorlekClient.exe").read_bytes()
    assert (folder / "BLOCKED.BMP").read_bytes() == (release / "BLOCKED.BMP").read_bytes()
    assert (folder / "servers").read_bytes() == f"{console.address}\r\n198.51.100.40\r\n".encode()
    # The driver is there: no note about it.
    assert setup_log(folder) == AGENT_INSTALLED
    assert fresh.started(NETSH) == AGENT_RULE_COMMANDS
    assert fresh.started(INSTALLED_AGENT) == [] and host_processes(station, "VorlekClient") == {}
    assert "DisplayName    REG_SZ    Vorlek Client" in registry_key(station, "VorlekClient")
    # The driver is there, and consoles are named: the agent obeys only them.
    assert shortcut_arguments(station, STARTUP_SHORTCUT) == "/hold=device /orders=servers"

    # The Startup shortcut starts the agent in its own folder: it reads "servers" there and
    # says hello straight to the console of the switch. It runs an earlier version.
    previous = put_earlier_program(folder / "VorlekClient.exe",
                                   (release / "VorlekClient.exe").read_bytes())
    first_pid, cwd = start_agent(station, STARTUP_SHORTCUT, console_port)
    assert cwd == folder.resolve()

    # An upgrade without /SERVERS= over customised files keeps them. It neither ends the running
    # agent, which goes on answering, nor starts one: the next logon starts the new program.
    custom_picture = (release / "BLOCKED.BMP").read_bytes()[:54] + b"\x10\x20\x30" * 100
    (folder / "BLOCKED.BMP").write_bytes(custom_picture)
    (folder / "servers").write_bytes(f"# the desk\r\n{console.address}  # front".encode())
    upgrade = run_setup(station, installer)
    assert upgrade.exit_code == 0, upgrade.trace[-3000:]
    assert upgrade.started(TASKKILL) == [] and upgrade.started(INSTALLED_AGENT) == []
    assert list(host_processes(station, "VorlekClient.exe")) == [first_pid]
    console_port.send(station.address, b"\x04")
    assert console_port.recv(START_TIMEOUT) == (AVAILABLE_REPORT, (station.address, 10001))
    assert (folder / "VorlekClient.exe").read_bytes() == (release / "VorlekClient.exe").read_bytes()
    assert (folder / "VorlekClient.exe.old1").read_bytes() == previous
    assert setup_log(folder).endswith(AGENT_INSTALLED)
    roomlib.kill_pids([first_pid])
    start_shortcut(station, STARTUP_SHORTCUT)
    assert console_port.recv(START_TIMEOUT) == (HELLO, (station.address, 10001))
    assert console_port.recv(START_TIMEOUT) == (AVAILABLE_REPORT, (station.address, 10001))
    assert (folder / "BLOCKED.BMP").read_bytes() == custom_picture
    assert (folder / "servers").read_bytes() == f"# the desk\r\n{console.address}  # front".encode()
    assert shortcut_arguments(station, STARTUP_SHORTCUT) == "/hold=device /orders=servers"

    # The switch, blanks and quotes and all, replaces the list. The file of the ended agent goes;
    # that of the running one is put aside in its place.
    switched = run_setup(station, installer, "/SERVERS=198.51.100.40, frontdesk", "/HOLD=hooks",
                         "/orders=ANY")
    assert switched.exit_code == 0
    assert (folder / "servers").read_bytes() == b"198.51.100.40\r\nfrontdesk\r\n"
    assert shortcut_arguments(station, STARTUP_SHORTCUT) == "/hold=hooks /orders=any"
    assert (folder / "VorlekClient.exe.old1").read_bytes() == (
        release / "VorlekClient.exe").read_bytes()

    # The consoles' public lines, slashes and blanks and all, each on a line of "roomkeys";
    # an upgrade without them keeps the file and the agent's signed orders.
    assert "/" in ROOM_KEY_LINES[0]
    for options in ([f"/ROOMKEYS={'|'.join(ROOM_KEY_LINES)}", "/ORDERS=signed"], []):
        assert run_setup(station, installer, *options).exit_code == 0, options
        assert (folder / "roomkeys").read_bytes() == ROOM_KEYS_FILE
        assert shortcut_arguments(station, STARTUP_SHORTCUT) == "/hold=hooks /orders=signed"

    uninstall = run_setup(station, "C:\\Program Files\\Vorlek Client\\Uninstall.exe",
                          wait_for=lambda: not (folder / "Uninstall.exe").exists())
    assert host_processes(station, "VorlekClient.exe") == {}
    assert sorted(p.name for p in folder.iterdir()) == ["BLOCKED.BMP", "roomkeys", "servers"]
    assert not (station.prefix / "drive_c" / STARTUP_SHORTCUT).exists()
    assert registry_key(station, "VorlekClient") is None
    assert uninstall.started(NETSH) == [AGENT_RULE_COMMANDS[0]]


def test_agent_installer_notes_a_missing_driver_and_rejects_unusable_addresses(room_factory,
                                                                                release):
    station = room_factory(["station"])["station"]
    folder = station.prefix / "drive_c" / AGENT_FOLDER
    installer = release / "VorlekClient-setup.exe"

    # A name with a digit would be read as an address and dropped by the agent.
    for option, reason in [
            ("/SERVERS=frontdesk2", '"frontdesk2" is neither a dotted address nor a computer '
                                    'name without digits.'),
            ("/SERVERS=198.51.100.12,,198.51.100.13", 'An address is missing in '
                                                      '"198.51.100.12,,198.51.100.13".'),
            ("/SERVERS=198.51.100.12,", 'An address is missing in "198.51.100.12,".'),
            ("/SERVERS=198.51.100.12 198.51.100.13", '"198.51.100.12 1..." holds a blank: '
                                                     'separate addresses with commas.')]:
        rejected = run_setup(station, installer, option)
        assert rejected.exit_code == 2
        assert setup_log(folder).endswith(f"/SERVERS=: {reason} Nothing was changed.\r\n")
        assert sorted(p.name for p in folder.iterdir()) == ["setup.log"]
        (folder / "setup.log").unlink()
    for option, line in [
            ("/HOLD=hook", '/HOLD=: "hook" is neither device nor hooks. Nothing was changed.'),
            ("/START=block",
             '/START=: "block" is neither available nor blocked. Nothing was changed.'),
            ("/COUNTDOWN=1", '/COUNTDOWN=: "1" is neither off nor on. Nothing was changed.'),
            ("/ORDERS=sign",
             '/ORDERS=: "sign" is not any, servers or signed. Nothing was changed.'),
            ("/ORDERS=servers", NOBODY_TO_OBEY + " Nothing was changed."),
            ("/ORDERS=signed", NO_ROOM_KEYS + " Nothing was changed."),
            (f"/ROOMKEYS={ROOM_KEY_LINES[1]}|vorlek-p256 BFOelubv4lmk desk",
             '/ROOMKEYS=: "vorlek-p256 BFOelubv4lmk..." is not a public line of VorlekKey.exe '
             "(vorlek-p256 BASE64 comment). Nothing was changed."),
            (f"/ROOMKEYS={ROOM_KEY_LINES[0]}|",
             f'/ROOMKEYS=: A public line is missing in "{ROOM_KEY_LINES[0]}|". Nothing was '
             "changed.")]:
        rejected = run_setup(station, installer, option)
        assert rejected.exit_code == 2
        assert setup_log(folder) == line + "\r\n"
        assert sorted(p.name for p in folder.iterdir()) == ["setup.log"]
        (folder / "setup.log").unlink()
    # Windows XP has no CNG: signed orders are refused there, with usable keys too.
    wine_version = ["reg.exe", "add", "HKCU\\Software\\Wine", "/v", "Version", "/f", "/d"]
    assert station.wine(*wine_version, "winxp64").returncode == 0
    on_xp = run_setup(station, installer, f"/ROOMKEYS={ROOM_KEY_LINES[0]}", "/ORDERS=signed")
    assert station.wine("reg.exe", "delete", "HKCU\\Software\\Wine", "/v", "Version",
                        "/f").returncode == 0
    assert on_xp.exit_code == 2
    assert setup_log(folder) == (
        "/orders=signed needs Windows Vista or later: on this Windows the agent would refuse to "
        "start. Nothing was changed.\r\n")
    (folder / "setup.log").unlink()

    # Without a driver and without /SERVERS= the agent is installed to hold the input itself
    # and to obey everyone, and the log says where it will look for its consoles.
    plain = run_setup(station, installer)
    assert plain.exit_code == 0
    assert not (folder / "servers").exists()
    assert setup_log(folder) == (
        "No console address was given (/SERVERS=): the agent will look for its consoles by "
        "broadcast.\r\n" + AGENT_INSTALLED)
    assert shortcut_arguments(station, STARTUP_SHORTCUT) == "/hold=hooks /orders=any"

    # The device, when asked for, is what the driver note is about; an upgrade keeps it, and a
    # station that starts blocked and shows the customer's countdown.
    for options in (["/HOLD=device", "/START=Blocked", "/COUNTDOWN=On"], []):
        (folder / "setup.log").unlink()
        assert run_setup(station, installer, *options).exit_code == 0
        assert NO_DRIVER_NOTE in setup_log(folder)
        assert shortcut_arguments(station, STARTUP_SHORTCUT) == (
            "/hold=device /orders=any /start=blocked /countdown=on")

    # An upgrade of an installation from before the switches, which obeyed every console, goes
    # on obeying every console once "servers" names one.
    station.wine("reg", "delete", UNINSTALL_KEY + "VorlekClient", "/v", "Orders", "/f", check=True)
    (folder / "servers").write_bytes(b"198.51.100.9\r\n")
    assert run_setup(station, installer, "/START=available", "/COUNTDOWN=off").exit_code == 0
    assert shortcut_arguments(station, STARTUP_SHORTCUT) == "/hold=device /orders=any"


# One table of consoles' addresses for the three readers of "servers": the setup program's
# /SERVERS=, the package's SERVERS and the agent. (entry, why the installers refuse it, or None)
SERVERS_ENTRIES = [
    ("0.0.0.0", '"0.0.0.0" is neither a dotted address nor a computer name without digits.'),
    ("999.1.1.1", '"999.1.1.1" is neither a dotted address nor a computer name without digits.'),
    ("1.2.3.4.5", '"1.2.3.4.5" is neither a dotted address nor a computer name without digits.'),
    ("front!desk", '"front!desk" holds a character that no address or computer name holds.'),
    ("{address}", None),
    ("console", None),
]


def test_setup_the_package_and_the_agent_take_the_same_console_addresses(room_factory,
                                                                         release):
    room = room_factory(["station", "console"])
    station, console = room["station"], room["console"]
    folder = station.prefix / "drive_c" / AGENT_FOLDER
    console_port = console.peer(receive_broadcasts=False)
    switches = ["/HOLD=hooks", "/ORDERS=servers"]
    for entry, refusal in SERVERS_ENTRIES:
        entry = entry.format(address=console.address)
        setup = run_setup(station, release / "VorlekClient-setup.exe", f"/SERVERS={entry}",
                          *switches)
        package = run_msiexec(station, "/i", release / "VorlekClient.msi", f"SERVERS={entry}",
                              *[s[1:] for s in switches], "/l*", "C:\\package.log")
        station.put_file("servers", entry + "\r\n")
        agent = station.start(release / "VorlekClient.exe", *[s.lower() for s in switches])
        if refusal is None:
            assert (setup.exit_code, package.exit_code) == (0, 0), entry
            for datagram in (HELLO, AVAILABLE_REPORT):
                assert console_port.recv(START_TIMEOUT) == (datagram, (station.address, 10001))
            agent.kill()
            assert run_msiexec(station, "/x", release / "VorlekClient.msi").exit_code == 0
            run_setup(station, "C:\\Program Files\\Vorlek Client\\Uninstall.exe",
                      wait_for=lambda: not (folder / "Uninstall.exe").exists())
            continue
        assert (setup.exit_code, package.exit_code) == (2, 1603 & 0xFF), entry
        assert setup_log(folder) == f"/SERVERS=: {refusal} Nothing was changed.\r\n"
        assert f"SERVERS: {refusal} Nothing was changed." in (
            station.prefix / "drive_c" / "package.log").read_text(errors="replace")
        closed = station.probe("close-box", "Vorlek client", str(START_TIMEOUT * 1000))
        assert (closed.returncode, closed.stdout) == (0, NO_CONSOLE_BOX), entry
        assert agent.wait(START_TIMEOUT) == 0
        (folder / "setup.log").unlink()


def test_a_failing_firewall_command_is_reported_and_the_programs_stay_installed(room_factory,
                                                                                 release):
    room = room_factory(["operator", "station"])
    for host, installer, arguments, folder, rule in [
            (room["operator"], "VorlekServer-setup.exe", [], CONSOLE_FOLDER, "Vorlek Server"),
            (room["station"], "VorlekClient-setup.exe", ["/SERVERS=198.51.100.9"], AGENT_FOLDER,
             "Vorlek Client")]:
        environment = failing_netsh(host)
        program = installer.replace("-setup", "")
        windows_folder = folder.replace("/", "\\")
        run = run_setup(host, release / installer, *arguments, environment=environment)
        assert run.exit_code == 3
        # Where "advfirewall" fails, the installer tries the firewall of Windows XP.
        assert run.started(NETSH) == [
            NETSH + f'advfirewall firewall delete rule name="{rule}"',
            NETSH + f'advfirewall firewall add rule name="{rule}" dir=in action=allow '
            f'program="C:\\{windows_folder}\\{program}" protocol=UDP localport=10001 '
            'enable=yes profile=any',
            NETSH + f'firewall add allowedprogram program="C:\\{windows_folder}\\{program}" '
            f'name="{rule}" mode=ENABLE profile=ALL']
        log = setup_log(host.prefix / "drive_c" / folder)
        assert log.startswith(
            f"The firewall rule for {rule} could not be added (netsh ended with 2).\r\n"
            f"{rule} is installed, but its datagrams may be dropped: allow inbound UDP port "
            f"10001 for C:\\{windows_folder}\\{program} by hand.\r\nnetsh said: usage: ")
        # netsh's output shows on one line, cut short.
        lines = log.split("\r\n")
        assert len(lines[2]) <= len("netsh said: ") + 300
        assert lines[-2:] == [f"{rule} 1.0.0 installed in C:\\{windows_folder}.", ""]
        assert ((host.prefix / "drive_c" / folder / program).read_bytes() ==
                (release / program).read_bytes())

        # The uninstaller says so too, in a log of its own.
        uninstall = run_setup(
            host, f"C:\\{windows_folder}\\Uninstall.exe", environment=environment,
            wait_for=lambda: not (host.prefix / "drive_c" / folder / "Uninstall.exe").exists())
        assert uninstall.started(NETSH) == [
            NETSH + f'advfirewall firewall delete rule name="{rule}"',
            NETSH + f'firewall delete allowedprogram program="C:\\{windows_folder}\\{program}" '
            'profile=ALL']
        log = setup_log(host.prefix / "drive_c" / folder)
        assert log.startswith(f"The firewall rule for {rule} could not be removed (netsh ended "
                              f'with 2). Remove the rule "{rule}" by hand.\r\nnetsh said: usage: ')
        assert log.count("\r\n") == 2 and log.endswith("\r\n")
        assert not (host.prefix / "drive_c" / folder / program).exists()


# The installer's window (titled with a trailing blank), its message boxes, the header text
# and subtext of its pages and its Next, Install and Close button.
SETUP_WINDOW = "Vorlek Client Setup "
SETUP_BOX = "Vorlek Client Setup"
PAGE_HEADER = "1037"
PAGE_SUBTEXT = "1038"
NEXT = "1"


def press_keys(room, *keys):
    subprocess.run(["xdotool", "key", *keys], env={**os.environ, "DISPLAY": room.display_name},
                   check=True, timeout=10)


def type_text(room, text):
    """Replaces the text of the focused field, keystroke by keystroke."""
    press_keys(room, "ctrl+a", "BackSpace")
    subprocess.run(["xdotool", "type", "--delay", "20", text],
                   env={**os.environ, "DISPLAY": room.display_name}, check=True, timeout=30)


def test_agent_installer_page_keeps_an_unchanged_list_and_writes_a_typed_one(room_factory,
                                                                              release):
    room = room_factory(["station"])
    station = room["station"]
    folder = station.prefix / "drive_c" / AGENT_FOLDER
    folder.mkdir(parents=True)
    # White space as the agent reads it: a tab before a comment, a line of tab and form feed.
    written_by_hand = b"# the desk\r\n198.51.100.5\t# front\r\n\t\x0c\r\n   198.51.100.6\r\n"
    (folder / "servers").write_bytes(written_by_hand)

    def install(*typed, blocked=False):
        """Runs the installer with pages; on the address page types each text in turn and
        presses Install, closing the box that each text but the last brings by its rejection;
        blocked ticks the box that makes the agent start blocked. Returns the boxes' texts."""
        setup = station.start(release / "VorlekClient-setup.exe")
        boxes = []
        assert station.probe("click", SETUP_WINDOW, NEXT).returncode == 0
        assert roomlib.wait_until(
            lambda: station.probe("get-text", SETUP_WINDOW, PAGE_HEADER).stdout
            == "Vorlek Server address\n", START_TIMEOUT)
        texts = list(typed) or [None]
        for index, text in enumerate(texts):
            if text is not None:
                type_text(room, text)
            if blocked and index == len(texts) - 1:
                # The box after the one of the orders, in the order of the keyboard.
                press_keys(room, "Tab", "Tab", "space")
            assert station.probe("click", SETUP_WINDOW, NEXT).returncode == 0
            if index < len(texts) - 1:
                closed = station.probe("close-box", SETUP_BOX, "15000")
                boxes.append(roomlib.parse_boxes(closed.stdout.replace("closed ", "", 1))[0][1])
        # Close is enabled once the installation has finished; the last page says that no
        # agent was started.
        assert roomlib.wait_until(
            lambda: station.probe("state", SETUP_WINDOW, NEXT).stdout.startswith("enabled=1"),
            START_TIMEOUT)
        assert station.probe("get-text", SETUP_WINDOW, PAGE_SUBTEXT).stdout == (
            AGENT_INSTALLED.split("\r\n")[0] + "\n")
        assert station.probe("click", SETUP_WINDOW, NEXT).returncode == 0
        assert setup.wait(START_TIMEOUT) == 0
        return boxes

    # Shown as "198.51.100.5,198.51.100.6" and left as it is: the file stays as written. With
    # consoles listed, obeying only them is on; without the driver the agent holds the input.
    assert install() == []
    assert (folder / "servers").read_bytes() == written_by_hand
    assert shortcut_arguments(station, STARTUP_SHORTCUT) == "/hold=hooks /orders=servers"

    assert install("frontdesk2", "", "198.51.100.7, 198.51.100.8", blocked=True) == [
        '"frontdesk2" is neither a dotted address nor a computer name without digits.',
        NOBODY_TO_OBEY]
    assert (folder / "servers").read_bytes() == b"198.51.100.7\r\n198.51.100.8\r\n"
    assert shortcut_arguments(station, STARTUP_SHORTCUT) == (
        "/hold=hooks /orders=servers /start=blocked")
    # Runs with pages show their notes and leave no log.
    assert not (folder / "setup.log").exists()


def test_console_installer_page_signs_orders_and_shows_the_public_line(room_factory, release):
    room = room_factory(["operator"])
    host = room["operator"]
    window = "Vorlek Server Setup "
    setup = host.start(release / "VorlekServer-setup.exe")
    for header in ("Stations\n", "Sign orders\n"):
        assert host.probe("click", window, NEXT).returncode == 0
        assert roomlib.wait_until(
            lambda: host.probe("get-text", window, PAGE_HEADER).stdout == header, START_TIMEOUT)
    press_keys(room, "space")
    assert host.probe("click", window, NEXT).returncode == 0
    closed = host.probe("close-box", window.strip(), "30000")
    line = (host.prefix / "drive_c" / CONSOLE_DATA / "roomkey.pub").read_bytes().decode()
    assert roomlib.parse_boxes(closed.stdout.replace("closed ", "", 1)) == [
        (window.strip(), KEY_MADE + line.strip())]
    assert roomlib.wait_until(
        lambda: host.probe("state", window, NEXT).stdout.startswith("enabled=1"), START_TIMEOUT)
    assert host.probe("click", window, NEXT).returncode == 0
    assert setup.wait(START_TIMEOUT) == 0
    assert shortcut_arguments(host, MENU_SHORTCUT) == "/hellos=any /notices=each /orders=signed"


def test_installers_go_to_the_folder_of_the_d_switch_and_upgrade_there(room_factory, release):
    station = room_factory(["station"])["station"]
    folder = station.prefix / "drive_c" / "Room Agent"
    installer = release / "VorlekClient-setup.exe"

    # /D= comes last and is not quoted, blanks and all.
    first = run_setup(station, installer, "/SERVERS=198.51.100.9", "/D=C:\\Room Agent",
                      typed=True)
    assert first.exit_code == 0
    assert (folder / "VorlekClient.exe").read_bytes() == (release / "VorlekClient.exe").read_bytes()
    assert (folder / "servers").read_bytes() == b"198.51.100.9\r\n"
    assert first.started(NETSH)[1] == (
        NETSH + 'advfirewall firewall add rule name="Vorlek Client" dir=in action=allow '
        'program="C:\\Room Agent\\VorlekClient.exe" protocol=UDP localport=10001 enable=yes '
        "profile=any")
    assert "InstallLocation    REG_SZ    C:\\Room Agent" in registry_key(station, "VorlekClient")

    # Without /D= the upgrade finds the installation where it is.
    (folder / "VorlekClient.exe").unlink()
    assert run_setup(station, installer).exit_code == 0
    assert (folder / "VorlekClient.exe").exists()
    assert not (station.prefix / "drive_c" / AGENT_FOLDER).exists()
    assert setup_log(folder).endswith("Vorlek Client 1.0.0 installed in C:\\Room Agent.\r\n")
