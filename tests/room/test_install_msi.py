"""The MSI packages in a room: silent msiexec runs with properties, as Group Policy pushes them,
upgrades from an earlier version over the operator's files, and uninstallation."""

import shutil
import subprocess
import uuid

import pytest

import room as roomlib
from agent_support import DRIVER_SERVICE, install_driver
from test_install import (AGENT_FOLDER, AGENT_RULE_COMMANDS, AVAILABLE_REPORT, CONSOLE_DATA,
                          CONSOLE_FOLDER, CONSOLE_RULE_COMMANDS, HELLO, NETSH, OPERATORS_LIST,
                          START_TIMEOUT, USERS_MAY_CHANGE, host_processes, run_msiexec,
                          shortcut_arguments, start_shortcut)

# Wine's installer service puts the shortcuts of a package for all users into the folders of the
# user who installs it; Windows puts them into those of all users.
USER_MENU = "users/root/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
STARTUP_SHORTCUT = USER_MENU + "/StartUp/Vorlek Client.lnk"
MENU_SHORTCUT = USER_MENU + "/Vorlek Server.lnk"
# Windows Installer starts netsh and icacls by their unquoted paths.
MSI_NETSH = "C:\\windows\\system32\\netsh.exe "
MSI_ICACLS = USERS_MAY_CHANGE.replace('"C:\\windows\\system32\\icacls.exe"',
                                      "C:\\windows\\system32\\icacls.exe")
# msiexec's exit code of a refused installation; only its low byte reaches Linux.
INSTALL_FAILURE = 1603


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
    start_shortcut(station, STARTUP_SHORTCUT)
    assert console_port.recv(START_TIMEOUT) == (HELLO, (station.address, 10001))
    assert console_port.recv(START_TIMEOUT) == (AVAILABLE_REPORT, (station.address, 10001))
    (pid, cwd), = host_processes(station, "VorlekClient.exe").items()
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
    # value the agent does not know, or orders from consoles without any named, install nothing.
    station.wine("sc", "stop", DRIVER_SERVICE, check=True)
    for properties, arguments in [
            ([], "/hold=hooks /orders=any"),
            (["HOLD=device", "SERVERS=198.51.100.9", "ORDERS=any"], "/hold=device /orders=any"),
            (["HOLD=hook"], None), (["ORDERS=servers"], None)]:
        run = run_msiexec(station, "/i", package, *properties)
        if arguments is None:
            assert run.exit_code == INSTALL_FAILURE & 0xFF
            assert not (folder / "VorlekClient.exe").exists()
            continue
        assert run.exit_code == 0
        assert shortcut_arguments(station, STARTUP_SHORTCUT) == arguments
        assert run_msiexec(station, "/x", package).exit_code == 0


def test_console_package_installs_upgrades_and_uninstalls(room_factory, packages):
    host = room_factory(["operator"])["operator"]
    folder = host.prefix / "drive_c" / CONSOLE_FOLDER
    data = host.prefix / "drive_c" / CONSOLE_DATA
    package, earlier = packages["VorlekServer.msi"]

    first = run_msiexec(host, "/i", earlier, "HELLOS=listed")
    assert first.exit_code == 0, first.trace[-3000:]
    assert sorted(p.name for p in data.iterdir()) == ["clients"]
    assert first.started(MSI_NETSH) == msi_commands(CONSOLE_RULE_COMMANDS)
    assert first.started(MSI_ICACLS.split(" ")[0]) == [MSI_ICACLS]
    assert shortcut_arguments(host, MENU_SHORTCUT) == "/hellos=listed"

    (data / "clients").write_bytes(OPERATORS_LIST)
    assert run_msiexec(host, "/i", package).exit_code == 0
    assert (data / "clients").read_bytes() == OPERATORS_LIST
    assert shortcut_arguments(host, MENU_SHORTCUT) == "/hellos=listed"

    uninstall = run_msiexec(host, "/x", package)
    assert uninstall.exit_code == 0
    assert not folder.exists()
    assert (data / "clients").read_bytes() == OPERATORS_LIST
    assert not (host.prefix / "drive_c" / MENU_SHORTCUT).exists()
    assert uninstall.started(MSI_NETSH) == msi_commands(CONSOLE_RULE_COMMANDS[:1])
