"""The MSI packages in a room: silent msiexec runs with properties, as Group Policy pushes them,
upgrades from an earlier version over the operator's files, and uninstallation."""

import shutil
import subprocess
import uuid

import pytest

import room as roomlib
from agent_support import DRIVER_SERVICE, install_driver
from test_install import (AGENT_FOLDER, AGENT_RULE_COMMANDS, AVAILABLE_REPORT, CONSOLE_DATA,
                          CONSOLE_FOLDER, CONSOLE_RULE_COMMANDS, NETSH, OPERATORS_LIST,
                          ROOM_KEY_LINES, ROOM_KEYS_FILE, START_TIMEOUT, USERS_MAY_CHANGE,
                          host_processes, put_earlier_program, CHOSEN_SWITCHES, run_msiexec,
                          shortcut_arguments, start_agent, start_shortcut)

# Wine's installer service puts the shortcuts of a package for all users into the folders of the
# user who installs it; Windows puts them into those of all users.
USER_MENU = "users/root/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
STARTUP_SHORTCUT = USER_MENU + "/StartUp/Vorlek Client.lnk"
MENU_SHORTCUT = USER_MENU + "/Vorlek Server.lnk"
# Windows Installer starts netsh and icacls by their unquoted paths.
MSI_NETSH = "C:\\windows\\system32\\netsh.exe "
MSI_ICACLS = USERS_MAY_CHANGE.replace('"C:\\windows\\system32\\icacls.exe"',
                                      "C:\\windows\\system32\\icacls.exe")
# Where the agent's package keeps the switches it chose.
AGENT_SWITCHES = "HKLM\\Software\\Vorlek\\Vorlek Client"
# msiexec's exit code of a refused installation; only its low byte reaches Linux.
INSTALL_FAILURE = 1603


def failing(package, folder):
    """A copy of package whose installation fails at its very end, after the earlier version is
    removed: a deferred command that ends with 1."""
    copy = folder / f"failing-{package.name}"
    shutil.copyfile(package, copy)
    for statement in (
            "INSERT INTO CustomAction (Action, Type, Source, Target) "
            "VALUES ('Fail', 1074, 'CMD', '/c exit 1')",
            "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) "
            "VALUES ('Fail', '', 6599)"):
        subprocess.run(["msibuild", str(copy), "-q", statement], check=True)
    return copy


def msi_commands(commands):
    """The setup program's command lines as Windows Installer starts them."""
    return [c.replace(NETSH, MSI_NETSH) for c in commands]


@pytest.fixture
def packages(windows_build, tmp_path):
    """{name: (package, earlier)}: the release folder's packages, and each one as its earlier
    version would be: the same package with a lower version and a product code of its own."""
    folder = windows_build / "release"
    found = {}
    for name in ("VorlekClient.msi", "VorlekServer.msi"):
        if not (folder / name).exists():
            pytest.fail(f"{folder / name} is missing (is the Windows build done?)")
        earlier = tmp_path / name
        shutil.copyfile(folder / name, earlier)
        for key, value in (("ProductVersion", "0.9.0"),
                           ("ProductCode", f"{{{str(uuid.uuid4()).upper()}}}")):
            subprocess.run(["msibuild", str(earlier), "-q",
                            f"UPDATE Property SET Value = '{value}' WHERE Property = '{key}'"],
                           check=True)
        found[name] = (folder / name, earlier)
    return found


def test_agent_package_installs_with_properties_upgrades_and_uninstalls(room_factory, packages,
                                                                         windows_build):
    room = room_factory(["station", "console"])
    station, console = room["station"], room["console"]
    folder = station.prefix / "drive_c" / AGENT_FOLDER
    package, earlier = packages["VorlekClient.msi"]
    release = windows_build / "release"
    console_port = console.peer(receive_broadcasts=False)
    install_driver(station)

    first = run_msiexec(station, "/i", earlier, f"SERVERS={console.address}, 198.51.100.40")
    assert first.exit_code == 0, first.trace[-3000:]
    assert sorted(p.name for p in folder.iterdir()) == [
        "BLOCKED.BMP", "VorlekClient.exe", "servers"]
    assert (folder / "servers").read_bytes() == f"{console.address}\r\n198.51.100.40\r\n".encode()
    assert first.started(MSI_NETSH) == msi_commands(AGENT_RULE_COMMANDS)
    # The input-lock device opens, and consoles are named: the agent obeys only them.
    assert shortcut_arguments(station, STARTUP_SHORTCUT) == "/hold=device /orders=servers"
    pid, cwd = start_agent(station, STARTUP_SHORTCUT, console_port)
    assert cwd == folder.resolve()

    # The upgrade replaces the program of the running agent, which goes on answering, and keeps
    # the operator's files and the switches.
    custom_picture = (release / "BLOCKED.BMP").read_bytes()[:54] + b"\x10\x20\x30" * 100
    (folder / "BLOCKED.BMP").write_bytes(custom_picture)
    (folder / "servers").write_bytes(f"# the desk\r\n{console.address}".encode())
    upgrade = run_msiexec(station, "/i", package)
    assert upgrade.exit_code == 0, upgrade.trace[-3000:]
    assert (folder / "VorlekClient.exe").read_bytes() == (release / "VorlekClient.exe").read_bytes()
    assert (folder / "VorlekClient.exe.old1").exists()
    assert (folder / "BLOCKED.BMP").read_bytes() == custom_picture
    assert (folder / "servers").read_bytes() == f"# the desk\r\n{console.address}".encode()
    assert shortcut_arguments(station, STARTUP_SHORTCUT) == "/hold=device /orders=servers"
    assert list(host_processes(station, "VorlekClient.exe")) == [pid]
    console_port.send(station.address, b"\x04")
    assert console_port.recv(START_TIMEOUT) == (AVAILABLE_REPORT, (station.address, 10001))
    roomlib.kill_pids([pid])

    # The uninstallation keeps the operator's files; the rule stays through upgrades only.
    uninstall = run_msiexec(station, "/x", package)
    assert uninstall.exit_code == 0, uninstall.trace[-3000:]
    assert sorted(p.name for p in folder.iterdir()) == ["BLOCKED.BMP", "servers"]
    assert not (station.prefix / "drive_c" / STARTUP_SHORTCUT).exists()
    assert uninstall.started(MSI_NETSH) == msi_commands(AGENT_RULE_COMMANDS[:1])

    # Without the driver a new installation holds the input by hooks; properties override. A
    # value the agent does not know, an entry it would drop, orders from consoles while neither
    # SERVERS nor "servers" names one, or signed orders while neither ROOMKEYS nor "roomkeys"
    # holds a key, install nothing and say why in the log.
    station.wine("sc", "stop", DRIVER_SERVICE, check=True)
    log = station.prefix / "drive_c" / "refusal.log"
    # (properties, "servers" before, the shortcut's arguments or None for a refusal, "servers"
    # after, or "roomkeys" after as its bytes preceded by "roomkeys", or the refusal's words in
    # the log)
    for properties, before, arguments, after in [
            ([], None, "/hold=hooks /orders=any", None),
            (["HOLD=device", "SERVERS=198.51.100.9", "ORDERS=any"], b"# the desk\r\n",
             "/hold=device /orders=any", b"198.51.100.9\r\n"),
            (["HOLD=hook"], None, None, "HOLD is device or hooks."),
            (["START=block"], None, None, "START is available or blocked."),
            (["START=Blocked"], None, "/hold=hooks /orders=any /start=blocked", None),
            (["COUNTDOWN=1"], None, None, "COUNTDOWN is off or on."),
            (["COUNTDOWN=On", "START=blocked"], None,
             "/hold=hooks /orders=any /start=blocked /countdown=on", None),
            (["SERVERS=desk, pc1"], None, None,
             'SERVERS: "pc1" is neither a dotted address nor a computer name without digits. '
             "Nothing was changed."),
            (["SERVERS=desk & calc"], None, None, '"desk &..." holds a blank'),
            (["ORDERS=servers"], b"# the desk\r\n", None, "ORDERS=servers needs the address"),
            (["ORDERS=servers"], b"desk\r\n", "/hold=hooks /orders=servers", b"desk\r\n"),
            (["ORDERS=sign"], None, None, "ORDERS is any, servers or signed."),
            (["ORDERS=signed"], None, None, "ORDERS=signed needs the public line of every "
                                            'console (ROOMKEYS): without a usable "roomkeys"'),
            ([f"ROOMKEYS={ROOM_KEY_LINES[0]}|vorlek-p256 BFOelubv4lmk"], None, None,
             'ROOMKEYS: "vorlek-p256 BFOelubv4lmk" is not a public line of VorlekKey.exe'),
            ([f"ROOMKEYS={' | '.join(ROOM_KEY_LINES)}", "ORDERS=signed"], None,
             "/hold=hooks /orders=signed", b"roomkeys" + ROOM_KEYS_FILE),
            # The "roomkeys" the uninstallation kept.
            (["ORDERS=signed"], None, "/hold=hooks /orders=signed", b"roomkeys" + ROOM_KEYS_FILE)]:
        if before is not None:
            (folder / "servers").write_bytes(before)
        run = run_msiexec(station, "/i", package, *properties, "/l*", "C:\\refusal.log")
        if arguments is None:
            assert run.exit_code == INSTALL_FAILURE & 0xFF, properties
            assert not (folder / "VorlekClient.exe").exists()
            assert after is None or after in log.read_text(errors="replace"), properties
            continue
        assert run.exit_code == 0, properties
        assert shortcut_arguments(station, STARTUP_SHORTCUT) == arguments
        if after is not None and after.startswith(b"roomkeys"):
            assert (folder / "roomkeys").read_bytes() == after.removeprefix(b"roomkeys")
        elif after is not None:
            assert (folder / "servers").read_bytes() == after
        assert run_msiexec(station, "/x", package).exit_code == 0
    # Windows XP has no CNG: signed orders are refused there, with usable keys too.
    station.wine("reg.exe", "add", "HKCU\\Software\\Wine", "/v", "Version", "/f", "/d", "winxp64",
                 check=True)
    on_xp = run_msiexec(station, "/i", package, "ORDERS=signed",
                        f"ROOMKEYS={ROOM_KEY_LINES[0]}", "/l*", "C:\\refusal.log")
    station.wine("reg.exe", "delete", "HKCU\\Software\\Wine", "/v", "Version", "/f", check=True)
    assert on_xp.exit_code == INSTALL_FAILURE & 0xFF
    assert not (folder / "VorlekClient.exe").exists()
    assert "ORDERS=signed needs Windows Vista or later" in log.read_text(errors="replace")


def test_failed_agent_upgrade_puts_the_running_program_back(room_factory, packages, tmp_path):
    room = room_factory(["station", "console"])
    station, console = room["station"], room["console"]
    folder = station.prefix / "drive_c" / AGENT_FOLDER
    package, earlier = packages["VorlekClient.msi"]
    console_port = console.peer(receive_broadcasts=False)

    # A first installation that fails takes its firewall rule away again.
    failed = run_msiexec(station, "/i", failing(earlier, tmp_path), "SERVERS=198.51.100.77")
    assert failed.exit_code != 0
    assert failed.started(MSI_NETSH) == msi_commands(AGENT_RULE_COMMANDS + AGENT_RULE_COMMANDS[:1])
    assert not (folder / "VorlekClient.exe").exists()

    assert run_msiexec(station, "/i", earlier, f"SERVERS={console.address}").exit_code == 0
    earlier_program = put_earlier_program(folder / "VorlekClient.exe",
                                          (folder / "VorlekClient.exe").read_bytes())
    start_agent(station, STARTUP_SHORTCUT, console_port)

    # It fails after the new program took the place of the one put aside, and after the earlier
    # version was removed. (Windows Installer then installs the earlier version again; Wine's
    # removes it in a process of its own and keeps it removed.)
    failed = run_msiexec(station, "/i", failing(package, tmp_path), "SERVERS=198.51.100.77")
    # Windows ends with 1603, Wine with 1627 (the function failed). The rule is back after the
    # rollback (Wine's removal of the earlier version deletes it first).
    assert failed.exit_code != 0
    assert failed.started(MSI_NETSH) == msi_commands(AGENT_RULE_COMMANDS[:1] +
                                                     AGENT_RULE_COMMANDS * 2)
    assert sorted(p.name for p in folder.iterdir()) == [
        "BLOCKED.BMP", "VorlekClient.exe", "servers"]
    assert (folder / "VorlekClient.exe").read_bytes() == earlier_program
    assert (folder / "servers").read_bytes() == f"{console.address}\r\n".encode()
    console_port.send(station.address, b"\x04")
    assert console_port.recv(START_TIMEOUT) == (AVAILABLE_REPORT, (station.address, 10001))


def test_agent_package_installs_with_a_user_interface_and_a_repair_keeps_its_settings(
        room_factory, packages):
    station = room_factory(["station"])["station"]
    folder = station.prefix / "drive_c" / AGENT_FOLDER
    package, earlier = packages["VorlekClient.msi"]

    # A run with a user interface fills in the defaults before it checks them.
    first = run_msiexec(station, "/i", earlier, "SERVERS=198.51.100.9", "START=blocked",
                        f"ROOMKEYS={ROOM_KEY_LINES[0]}", ui="/qr")
    assert first.exit_code == 0, first.trace[-3000:]
    assert (folder / "servers").read_bytes() == b"198.51.100.9\r\n"
    assert (folder / "roomkeys").read_bytes() == ROOM_KEY_LINES[0].encode() + b"\r\n"
    assert shortcut_arguments(station, STARTUP_SHORTCUT) == (
        "/hold=hooks /orders=servers /start=blocked")

    # A repair or a modify, which a standard user may start, keeps the installation's settings.
    # (Wine's msiexec /f takes no product code and reads a package as one: the repair is asked
    # for by the properties that /fa sets.)
    for repair in (["REINSTALL=ALL", "REINSTALLMODE=amus"], []):
        run = run_msiexec(station, "/i", earlier, *repair, "SERVERS=198.51.100.66", "HOLD=device",
                          "ORDERS=signed", f"ROOMKEYS={ROOM_KEY_LINES[1]}", "START=available",
                          "COUNTDOWN=on")
        assert run.exit_code == 0, run.trace[-3000:]
        assert (folder / "servers").read_bytes() == b"198.51.100.9\r\n", repair
        assert (folder / "roomkeys").read_bytes() == ROOM_KEY_LINES[0].encode() + b"\r\n", repair
        assert shortcut_arguments(station, STARTUP_SHORTCUT) == (
            "/hold=hooks /orders=servers /start=blocked"), repair

    # An upgrade of an installation from before the switch of orders, which obeyed every
    # console, goes on obeying every console, consoles named or not.
    station.wine("reg", "delete", AGENT_SWITCHES, "/v", "Orders", "/f", check=True)
    upgrade = run_msiexec(station, "/i", package, "SERVERS=198.51.100.10", ui="/qr")
    assert upgrade.exit_code == 0, upgrade.trace[-3000:]
    assert shortcut_arguments(station, STARTUP_SHORTCUT) == (
        "/hold=hooks /orders=any /start=blocked")


def test_console_package_installs_upgrades_and_uninstalls(room_factory, packages, windows_build):
    host = room_factory(["operator"])["operator"]
    folder = host.prefix / "drive_c" / CONSOLE_FOLDER
    data = host.prefix / "drive_c" / CONSOLE_DATA
    package, earlier = packages["VorlekServer.msi"]
    log = host.prefix / "drive_c" / "refusal.log"
    signed_switches = CHOSEN_SWITCHES.replace(" /notices=summary", " /notices=summary /orders=signed")

    # The package signs only with a key made beforehand, by the account that runs the console.
    refused = run_msiexec(host, "/i", earlier, "SIGN=1", "/l*", "C:\\refusal.log")
    assert refused.exit_code == INSTALL_FAILURE & 0xFF
    assert ("SIGN=1 needs the console's key C:\\ProgramData\\Vorlek Server\\room.key: make it "
            'there first, as the account that runs the console, with "VorlekKey.exe new '
            'room.key". Nothing was changed.' in log.read_text(errors="replace"))
    assert not folder.exists()
    data.mkdir(parents=True)
    host.install(windows_build / "release" / "VorlekKey.exe")
    assert host.wine("VorlekKey.exe", "new", "C:\\ProgramData\\Vorlek Server\\room.key").returncode == 0

    first = run_msiexec(host, "/i", earlier, "HELLOS=listed", "NOTICES=summary",
                        "JOURNAL=C:\\Journal", "SIGN=1")
    assert first.exit_code == 0, first.trace[-3000:]
    assert sorted(p.name for p in data.iterdir()) == ["clients", "room.key"]
    assert first.started(MSI_NETSH) == msi_commands(CONSOLE_RULE_COMMANDS)
    assert first.started(MSI_ICACLS.split(" ")[0]) == [MSI_ICACLS]
    assert shortcut_arguments(host, MENU_SHORTCUT) == signed_switches

    # Nothing is installed or removed while the console runs, and the log says why.
    start_shortcut(host, MENU_SHORTCUT)
    assert roomlib.wait_until(
        lambda: host.probe("get-text", "Vorlek Server").returncode == 0, START_TIMEOUT)
    (pid, _), = host_processes(host, "VorlekServer.exe").items()
    for action, words in (("/i", "run setup again; nothing was changed."),
                          ("/x", "uninstall again; nothing was removed.")):
        refused = run_msiexec(host, action, package if action == "/i" else earlier,
                              "/l*", "C:\\refusal.log")
        assert refused.exit_code == INSTALL_FAILURE & 0xFF
        assert ("Vorlek Server is running. Exit it (File, Exit) and " + words
                in log.read_text(errors="replace"))
        assert refused.started(MSI_NETSH) == []
        assert sorted(p.name for p in folder.iterdir()) == ["VorlekKey.exe", "VorlekServer.exe"]
    roomlib.kill_pids([pid])

    (data / "clients").write_bytes(OPERATORS_LIST)
    assert run_msiexec(host, "/i", package, ui="/qr").exit_code == 0
    assert (data / "clients").read_bytes() == OPERATORS_LIST
    assert shortcut_arguments(host, MENU_SHORTCUT) == signed_switches

    uninstall = run_msiexec(host, "/x", package)
    assert uninstall.exit_code == 0
    assert not folder.exists()
    assert (data / "clients").read_bytes() == OPERATORS_LIST
    assert not (host.prefix / "drive_c" / MENU_SHORTCUT).exists()
    assert uninstall.started(MSI_NETSH) == msi_commands(CONSOLE_RULE_COMMANDS[:1])
