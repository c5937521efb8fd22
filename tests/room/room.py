"""A test room: hosts as network namespaces on a private bridge, each running Windows programs
under its own Wine prefix, all drawing on one shared Xvfb display.

Nothing of a room appears in the root namespace: the bridge lives in a namespace of its own and
each host's veth is created directly inside the host's namespace. Every room records what it
made under /run/vorlek-room/, so that the leftovers of a run that was killed are removed by the
next run (only those whose owner process is dead). Every wait is bounded.
"""

import contextlib
import ctypes
import fcntl
import functools
import json
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import threading
import time
from pathlib import Path

import caption_font

REPOSITORY = Path(__file__).resolve().parents[2]

NETWORK = "198.51.100"
PREFIX_LENGTH = 24
FIRST_HOST_OCTET = 11
STATION_PORT = 10001
BROADCAST = "255.255.255.255"

CACHE_DIR = Path("/var/cache/vorlek-room")
ROOMS_DIR = Path("/var/tmp/vorlek-room")
RECORDS_DIR = Path("/run/vorlek-room")
NETNS_RUN_DIR = Path("/run/netns")
NETNS_ETC_DIR = Path("/etc/netns")
# Every namespace of every room starts with this, followed by the owner's pid.
NAMESPACE_PREFIX = "vr"
# The folder inside each prefix where tests put the programs and their files.
WORK_FOLDER = "vorlek"
WORK_FOLDER_WINDOWS = "C:\\vorlek"

TEMPLATE_VERSION = 2
SCREEN = "1024x768x24"

# Bounds of the waits; a room that misses them fails the test instead of hanging it.
COMMAND_TIMEOUT = 30
TEMPLATE_TIMEOUT = 300
SERVER_START_TIMEOUT = 15
# How long a look-up waits for the room's name server (seconds); its one and only try.
NAME_SERVER_TIMEOUT = 30
KILL_TIMEOUT = 10
KILL_ROUNDS = 5

# The build folder whose programs a room of each Wine architecture runs, and the PE machine
# field of those programs.
ROOM_BUILDS = {"win32": "build/windows", "win64": "build/windows-x64"}
PE_MACHINES = {"win32": 0x014C, "win64": 0x8664}

WINE_ENVIRONMENT = {
    # No .NET or HTML engine installs, no desktop menu entries.
    "WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe=",
    "WINEDEBUG": "-all",
    "LANG": "C.UTF-8",
}


class RoomError(Exception):
    """The room could not be built or a command in it failed."""


def run(args, timeout=COMMAND_TIMEOUT, check=True, env=None, cwd=None):
    """Runs a command to its end (at most timeout seconds) and returns the CompletedProcess."""
    result = subprocess.run(
        [str(a) for a in args],
        stdin=subprocess.DEVNULL,
        capture_output=True,
        timeout=timeout,
        env=env,
        cwd=cwd,
    )
    if check and result.returncode != 0:
        raise RoomError(
            f"{' '.join(str(a) for a in args)} exited with {result.returncode}: "
            f"{result.stderr.decode(errors='replace').strip()}"
        )
    return result


@functools.cache
def room_architecture():
    """The Wine architecture of every room, "win32" or "win64", as scripts/room_arch.sh gives it:
    VORLEK_ROOM_ARCH, else win32 where this machine executes 32-bit code."""
    result = subprocess.run(["bash", REPOSITORY / "scripts" / "room_arch.sh"],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0:
        raise RoomError(result.stderr.strip())
    return result.stdout.strip()


def wine_environment():
    return dict(WINE_ENVIRONMENT, WINEARCH=room_architecture())


def windows_build_dir():
    """VORLEK_WINDOWS_BUILD (absolute, or relative to the repository), else the build folder of
    the room's architecture: build/windows or build/windows-x64."""
    configured = Path(os.environ.get("VORLEK_WINDOWS_BUILD",
                                     ROOM_BUILDS[room_architecture()]))
    return configured if configured.is_absolute() else REPOSITORY / configured


def check_build_architecture(build):
    """Raises RoomError unless the build's programs are of the room's architecture: a 32-bit
    prefix cannot run a 64-bit program, and 64-bit Wine here runs no 32-bit one."""
    architecture = room_architecture()
    program = Path(build) / "release" / "VorlekServer.exe"
    try:
        header = program.read_bytes()[:4096]
        offset = struct.unpack_from("<I", header, 0x3C)[0]
        machine = struct.unpack_from("<H", header, offset + 4)[0]
    except (OSError, struct.error) as error:
        raise RoomError(f"{program} cannot be read as a Windows program ({error}): build "
                        f"the {ROOM_BUILDS[architecture].split('/')[1]} preset first") from None
    if machine != PE_MACHINES[architecture]:
        found = {v: k for k, v in PE_MACHINES.items()}.get(machine, f"machine {machine:#x}")
        raise RoomError(f"the room runs {architecture} prefixes, but {program} is a {found} "
                        f"program: build {ROOM_BUILDS[architecture]} or set VORLEK_ROOM_ARCH")


def wait_until(condition, timeout, interval=0.02):
    """Polls condition until it is true or timeout seconds have passed; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def process_start_time(pid):
    """The start time of a process in clock ticks, or None when it does not exist."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except (FileNotFoundError, ProcessLookupError, PermissionError):
        return None
    # The command name may hold spaces and parentheses; the fields follow the last ')'.
    return int(stat.rsplit(")", 1)[1].split()[19])


def network_namespace_inode(pid="self"):
    try:
        return os.stat(f"/proc/{pid}/ns/net").st_ino
    except (FileNotFoundError, ProcessLookupError):
        return None


def kill_pids(pids, timeout=KILL_TIMEOUT):
    """Ends each process by pid with SIGKILL and waits until they are gone."""
    for pid in pids:
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, signal.SIGKILL)
    # A killed process is gone once it is a zombie: reaping is its parent's business (for a
    # child of this process, its Popen's, which would otherwise report a wrong exit code).
    wait_until(lambda: all(is_zombie(pid) for pid in pids), timeout)


def is_zombie(pid):
    """True when the process no longer runs: a zombie waiting for its parent, or gone."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except FileNotFoundError:
        return True
    return stat.rsplit(")", 1)[1].split()[0] == "Z"


def namespace_pids(namespace):
    """Every process inside a network namespace, by `ip netns pids`."""
    result = run(["ip", "netns", "pids", namespace], check=False, timeout=10)
    return [int(p) for p in result.stdout.split()]


def wine_server_dir(prefix):
    """The wineserver's socket folder of a prefix, or None while no server has made one.

    Debian's Wine keeps it in a fresh /tmp/wine-XXXXXX folder, named in $WINEPREFIX/wineserver,
    as server-DEV-INODE of the prefix."""
    try:
        pointer = (Path(prefix) / "wineserver").read_text().strip()
        info = os.stat(prefix)
    except (FileNotFoundError, NotADirectoryError):
        return None
    return Path("/tmp") / pointer / f"server-{info.st_dev:x}-{info.st_ino:x}"


def remove_wine_server_dir(prefix):
    folder = wine_server_dir(prefix)
    if folder is None or not folder.parent.name.startswith("wine-"):
        return
    shutil.rmtree(folder, ignore_errors=True)
    # The /tmp/wine-XXXXXX folder goes too once nothing else is in it.
    with contextlib.suppress(OSError):
        folder.parent.rmdir()


# ---------------------------------------------------------------------------------------------
# The display

_PR_SET_PDEATHSIG = 1


def end_with_parent():
    """Run in a child before exec: the kernel sends it SIGTERM when this process dies, even by
    SIGKILL, so that no Xvfb outlives its test run."""
    if ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_PDEATHSIG, signal.SIGTERM) != 0:
        os._exit(127)


class Display:
    """One Xvfb, on a display number that Xvfb itself picks as free (-displayfd)."""

    def __init__(self, screen=SCREEN, timeout=15):
        reader, writer = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(writer), "-screen", "0", screen, "-nolisten", "tcp"],
                pass_fds=[writer],
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
                start_new_session=True,
                preexec_fn=end_with_parent,
            )
        finally:
            os.close(writer)
        try:
            number = b""
            deadline = time.monotonic() + timeout
            while not number.endswith(b"\n"):
                remaining = deadline - time.monotonic()
                if remaining <= 0 or not select.select([reader], [], [], remaining)[0]:
                    raise RoomError("Xvfb did not report its display number")
                chunk = os.read(reader, 16)
                if not chunk:
                    raise RoomError("Xvfb ended before it reported its display number")
                number += chunk
        except BaseException:
            self.close()
            raise
        finally:
            os.close(reader)
        self.name = f":{int(number)}"

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(5)


# ---------------------------------------------------------------------------------------------
# The Wine prefix template, made once per machine


def template_path():
    version = run(["wine", "--version"]).stdout.decode().split()[0]
    return CACHE_DIR / f"template-{version}-{room_architecture()}-v{TEMPLATE_VERSION}"


@contextlib.contextmanager
def locked(path, timeout):
    """An exclusive flock on path, waited for at most timeout seconds."""
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "w") as lock:
        deadline = time.monotonic() + timeout
        while True:
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() >= deadline:
                    raise RoomError(f"{path} stayed locked for {timeout} s")
                time.sleep(0.2)
        try:
            yield
        finally:
            fcntl.flock(lock, fcntl.LOCK_UN)


def ensure_template(display_name):
    """The cached prefix of the room's architecture that every host copies; built under a lock when missing.

    It is built inside an empty network namespace of its own, so that nothing Wine does while
    it sets up reaches any network of the machine."""
    template = template_path()
    complete = template / ".vorlek-complete"
    if complete.exists():
        return template
    with locked(CACHE_DIR / "template.lock", TEMPLATE_TIMEOUT):
        if complete.exists():
            return template
        building = CACHE_DIR / f"building-{os.getpid()}"
        namespace = f"{NAMESPACE_PREFIX}{os.getpid()}tpl"
        # Recorded like a room, so that a build that was killed is cleaned up by a later run.
        record = {"room": namespace, "owner": os.getpid(),
                  "owner_start": process_start_time(os.getpid()), "namespaces": [namespace],
                  "prefixes": [str(building)], "dirs": [str(building)]}
        write_record(record)
        try:
            shutil.rmtree(template, ignore_errors=True)
            run(["ip", "netns", "add", namespace])
            env = dict(os.environ, WINEPREFIX=str(building), DISPLAY=display_name,
                       **wine_environment())
            inside = ["ip", "netns", "exec", namespace]
            run(inside + ["wineboot", "-i"], env=env, timeout=TEMPLATE_TIMEOUT)
            x11 = "HKCU\\Software\\Wine\\X11 Driver"
            # Without a window manager, Wine waits for one on every window hide unless it
            # manages the windows itself; Decorated=N has Wine draw the title bars.
            run(inside + ["wine", "reg", "add", x11, "/v", "Managed", "/d", "N", "/f"], env=env)
            run(inside + ["wine", "reg", "add", x11, "/v", "Decorated", "/d", "N", "/f"], env=env)
            run(["wineserver", "-w"], env=env, timeout=60)
            # Wine draws the title bars' buttons with Marlett, which Debian's Wine lacks.
            (building / "drive_c" / "windows" / "Fonts" / "marlett.ttf").write_bytes(
                caption_font.marlett_ttf())
            remove_wine_server_dir(building)
            (building / "wineserver").unlink(missing_ok=True)
            (building / ".vorlek-complete").write_text("")
            building.rename(template)
        finally:
            remove_made(record)
    return template


def copy_template(template, prefix):
    """Copies the template: drive_c as hard links, except the files Wine rewrites in place
    (the .ini files and the user profile), which are copied, as are the registry files."""
    prefix.mkdir(parents=True)
    run(["cp", "-al", template / "drive_c", prefix / "drive_c"])
    for rewritten in ["drive_c/users"]:
        shutil.rmtree(prefix / rewritten)
        run(["cp", "-a", template / rewritten, prefix / rewritten])
    for ini in (prefix / "drive_c" / "windows").glob("*.ini"):
        ini.unlink()
        shutil.copy2(template / "drive_c" / "windows" / ini.name, ini)
    for name in ["system.reg", "user.reg", "userdef.reg", ".update-timestamp"]:
        if (template / name).exists():
            shutil.copy2(template / name, prefix / name)
    run(["cp", "-a", template / "dosdevices", prefix / "dosdevices"])
    with contextlib.suppress(FileNotFoundError):
        (prefix / "wineserver").unlink()


# ---------------------------------------------------------------------------------------------
# Records of what a room made, and the removal of leftovers


def write_record(record):
    RECORDS_DIR.mkdir(parents=True, exist_ok=True)
    path = RECORDS_DIR / f"{record['room']}.json"
    temporary = path.with_suffix(".tmp")
    temporary.write_text(json.dumps(record))
    temporary.replace(path)


def owner_alive(record):
    owner = record["owner"]
    return process_start_time(owner) == record["owner_start"] and not is_zombie(owner)


def remove_made(record):
    """Removes what a record lists: the processes inside its namespaces (by pid, wineservers
    included), then anything still attached to its prefixes (`wineserver -k`), its namespaces,
    /etc/netns folders and files; then the record itself."""
    namespaces = [n for n in record.get("namespaces", []) if (NETNS_RUN_DIR / n).exists()]
    # Again while a dying program still started another one (Wine starts helpers on demand).
    for _ in range(KILL_ROUNDS):
        pids = [pid for namespace in namespaces for pid in namespace_pids(namespace)]
        if not pids:
            break
        kill_pids(pids)
    prefixes = [p for p in record.get("prefixes", []) if Path(p).exists()]
    stoppers = [subprocess.Popen(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=p),
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                for p in prefixes]
    for stopper in stoppers:
        try:
            stopper.wait(KILL_TIMEOUT)
        except subprocess.TimeoutExpired:
            stopper.kill()
            stopper.wait(KILL_TIMEOUT)
    for prefix in prefixes:
        remove_wine_server_dir(prefix)
    for namespace in namespaces:
        run(["ip", "netns", "del", namespace], check=False)
    for namespace in record.get("namespaces", []):
        shutil.rmtree(NETNS_ETC_DIR / namespace, ignore_errors=True)
    for folder in record.get("dirs", []):
        shutil.rmtree(folder, ignore_errors=True)
    with contextlib.suppress(FileNotFoundError):
        (RECORDS_DIR / f"{record['room']}.json").unlink()


def remove_leftovers():
    """Removes the rooms of runs whose owner process is dead; rooms of live runs stay."""
    if not RECORDS_DIR.exists():
        return
    for path in RECORDS_DIR.glob("*.json"):
        try:
            record = json.loads(path.read_text())
        except (OSError, ValueError):
            continue
        if not owner_alive(record):
            remove_made(record)


# ---------------------------------------------------------------------------------------------
# Raw UDP peers inside a namespace

# Run by `ip netns exec`: makes the socket inside the namespace and hands it back over the
# inherited Unix socket. A socket keeps the namespace it was made in for its whole life.
_PEER_MAKER = r"""
import socket, sys
channel = socket.socket(fileno=int(sys.argv[1]))
bind_address, port, device = sys.argv[2], int(sys.argv[3]), sys.argv[4]
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
udp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
udp.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
if device:
    udp.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, device.encode())
udp.bind((bind_address, port))
socket.send_fds(channel, [b"ok"], [udp.fileno()])
"""


class Peer:
    """A raw UDP socket of a host, used by the pytest process from the root namespace.

    With receive_broadcasts (the default) it is bound to 0.0.0.0 on the host's interface, the
    way Wine binds a broadcast-capable socket: it receives unicast to the host's address and
    broadcasts, and sends from the host's address. Otherwise it is bound to the host's address
    and receives unicast only."""

    def __init__(self, host, port=STATION_PORT, receive_broadcasts=True):
        ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_STREAM)
        with ours, theirs:
            bind_address = "0.0.0.0" if receive_broadcasts else host.address
            device = host.interface if receive_broadcasts else ""
            args = ["ip", "netns", "exec", host.namespace, "/usr/bin/python3", "-c",
                    _PEER_MAKER, str(theirs.fileno()), bind_address, str(port), device]
            result = subprocess.run(args, pass_fds=[theirs.fileno()], capture_output=True,
                                    timeout=COMMAND_TIMEOUT)
            if result.returncode != 0:
                raise RoomError(f"peer on {host.name}:{port}: {result.stderr.decode().strip()}")
            ours.settimeout(5)
            _, fds, _, _ = socket.recv_fds(ours, 16, 1)
        self.socket = socket.socket(fileno=fds[0])
        self.host = host
        self.port = port

    def send(self, address, data, port=STATION_PORT):
        self.socket.sendto(bytes(data), (address, port))

    def send_broadcast(self, data, port=STATION_PORT):
        self.send(BROADCAST, data, port)

    def recv(self, timeout=2.0):
        """The next datagram as (bytes, (address, port)), or None after timeout seconds."""
        if not select.select([self.socket], [], [], timeout)[0]:
            return None
        return self.socket.recvfrom(65536)

    def recv_all(self, timeout=1.0):
        """Every datagram that arrives within timeout seconds, in order."""
        received = []
        deadline = time.monotonic() + timeout
        while (remaining := deadline - time.monotonic()) > 0:
            datagram = self.recv(remaining)
            if datagram is None:
                break
            received.append(datagram)
        return received

    def drain(self):
        """Drops what is waiting now; returns how many datagrams that were."""
        count = 0
        while select.select([self.socket], [], [], 0)[0]:
            self.socket.recvfrom(65536)
            count += 1
        return count

    def close(self):
        self.socket.close()


# ---------------------------------------------------------------------------------------------
# Windows programs


class WineProcess:
    """A Windows program running in a host. Its stdout and stderr go to files in the room."""

    def __init__(self, host, args, log_name):
        self.host = host
        self.stdout_path = host.room.directory / f"{log_name}.out"
        self.stderr_path = host.room.directory / f"{log_name}.err"
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.popen = subprocess.Popen(
                host.command(["wine"] + args),
                stdin=subprocess.DEVNULL,
                stdout=out,
                stderr=err,
                cwd=host.workdir,
                env=host.environment(),
                start_new_session=True,
            )
        self.pid = self.popen.pid

    def wait(self, timeout=COMMAND_TIMEOUT):
        """The exit code; raises subprocess.TimeoutExpired after timeout seconds."""
        return self.popen.wait(timeout)

    def poll(self):
        return self.popen.poll()

    @property
    def running(self):
        return self.popen.poll() is None

    def kill(self):
        if self.popen.poll() is None:
            self.popen.kill()
            self.popen.wait(KILL_TIMEOUT)

    @property
    def stdout(self):
        return self.stdout_path.read_bytes().decode("utf-8", errors="replace")

    @property
    def stderr(self):
        return self.stderr_path.read_bytes().decode("utf-8", errors="replace")

    def wait_for_output(self, text, timeout=COMMAND_TIMEOUT):
        """Waits until stdout holds text; False when the program ended without printing it or
        timeout seconds passed."""
        wait_until(lambda: text in self.stdout or self.popen.poll() is not None, timeout)
        return text in self.stdout


class Host:
    """One workstation of a room: a namespace with one interface, a host name, a hosts file, a
    Wine prefix and a working folder C:\\vorlek (self.workdir)."""

    def __init__(self, room, index, name, address):
        self.room = room
        self.index = index
        self.name = name
        self.address = address
        self.namespace = f"{room.id}h{index}"
        self.interface = "eth0"
        self.prefix = room.directory / f"{name}-prefix"
        self.workdir = self.prefix / "drive_c" / WORK_FOLDER
        self._server = None
        self._process_count = 0

    # Commands inside the host

    def environment(self, extra=None):
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": os.environ.get("HOME", "/root"),
            "USER": os.environ.get("USER", "root"),
            "DISPLAY": self.room.display_name,
            "WINEPREFIX": str(self.prefix),
            **wine_environment(),
        }
        env.update(extra or {})
        return env

    def command(self, args):
        """args run inside the host: its namespace, its own UTS namespace with its host name."""
        return ["ip", "netns", "exec", self.namespace, "unshare", "--uts", "sh", "-c",
                'hostname "$0" && exec "$@"', self.name] + [str(a) for a in args]

    def shell(self, args, timeout=COMMAND_TIMEOUT, check=True):
        """A Linux command inside the host (no Wine), run to its end."""
        return run(self.command(args), timeout=timeout, check=check, env=self.environment(),
                   cwd=self.workdir)

    def wine(self, *args, timeout=COMMAND_TIMEOUT, check=False):
        """A one-shot Wine command in the host (e.g. "sc", "create", ...), run to its end.
        Returns the CompletedProcess with stdout and stderr decoded as text.

        The output goes through files, not pipes: Wine's desktop process, started by the first
        program that touches a window, inherits the program's handles and outlives it, so
        waiting for the end of a pipe would wait for the desktop."""
        self._process_count += 1
        name = f"{self.name}-{self._process_count}-wine"
        process = WineProcess(self, [str(a) for a in args], name)
        try:
            returncode = process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            raise
        result = subprocess.CompletedProcess(process.popen.args, returncode, process.stdout,
                                             process.stderr)
        if check and returncode != 0:
            raise RoomError(f"wine {' '.join(str(a) for a in args)} exited with {returncode}: "
                            f"{result.stderr.strip()}")
        return result

    def start(self, exe_path, *args, log_name=None):
        """Starts a Windows program in the working folder (its current directory). A Linux
        path outside the working folder is copied into it first; a bare name is a file that
        is already there."""
        exe = self.install(exe_path)
        self._process_count += 1
        name = log_name or f"{self.name}-{self._process_count}-{Path(exe).stem}"
        return WineProcess(self, [exe] + [str(a) for a in args], name)

    def probe(self, *args, timeout=COMMAND_TIMEOUT):
        """Runs the GUI probe with args; returns the CompletedProcess (returncode, stdout)."""
        self.install(self.room.testbin("VorlekProbe.exe"))
        return self.wine("VorlekProbe.exe", *args, timeout=timeout)

    # Files of the working folder

    def install(self, path):
        """Copies a file into the working folder unless the same one is there; returns its
        name."""
        path = Path(path)
        target = self.workdir / path.name
        if path.is_absolute() and path.resolve() != target.resolve():
            if not path.exists():
                raise RoomError(f"{path} does not exist (is the Windows build done?)")
            source = path.stat()
            try:
                present = target.stat()
                if (present.st_size, present.st_mtime_ns) == (source.st_size, source.st_mtime_ns):
                    return path.name
            except FileNotFoundError:
                pass
            # A new file in place of the old one: a program still running from the old one (a
            # probe started earlier) keeps it, where rewriting it in place would break it.
            copy = target.with_name(target.name + ".new")
            shutil.copy2(path, copy)
            copy.replace(target)
        return path.name

    def put_file(self, name, data):
        """Writes a file (bytes, or text written as is, without line-end conversion)."""
        if isinstance(data, str):
            data = data.encode("latin-1")
        (self.workdir / name).write_bytes(data)

    def read_file(self, name):
        return (self.workdir / name).read_bytes()

    def has_file(self, name):
        return (self.workdir / name).exists()

    def path(self, name):
        """The Linux path of a file of the working folder."""
        return self.workdir / name

    def windows_path(self, name):
        return f"{WORK_FOLDER_WINDOWS}\\{name}"

    # Network

    def peer(self, port=STATION_PORT, receive_broadcasts=True):
        """A raw UDP peer of this host; closed with the room."""
        peer = Peer(self, port, receive_broadcasts)
        self.room.peers.append(peer)
        return peer

    # Life cycle

    def build(self, template, names, name_server=None):
        room = self.room
        NETNS_ETC_DIR.joinpath(self.namespace).mkdir(parents=True, exist_ok=True)
        etc = NETNS_ETC_DIR / self.namespace
        lines = ["127.0.0.1\tlocalhost"] + [f"{a}\t{n}" for n, a in names]
        (etc / "hosts").write_text("\n".join(lines) + "\n")
        if name_server is None:
            (etc / "nsswitch.conf").write_text("hosts: files\nnetworks: files\n")
            (etc / "resolv.conf").write_text("")
        else:
            # One try that may wait long: a hanging name server hangs the look-up.
            (etc / "nsswitch.conf").write_text("hosts: files dns\nnetworks: files\n")
            (etc / "resolv.conf").write_text(
                f"nameserver {name_server}\noptions timeout:{NAME_SERVER_TIMEOUT} attempts:1\n")
        (etc / "hostname").write_text(self.name + "\n")
        run(["ip", "netns", "add", self.namespace])
        # The veth is made inside the bridge's namespace with its other end straight in the
        # host's namespace: neither end ever exists in the root namespace.
        bridge_port = f"p{self.index}"
        run(["ip", "-n", room.bridge_namespace, "link", "add", bridge_port, "type", "veth",
             "peer", "name", self.interface, "netns", self.namespace])
        run(["ip", "-n", room.bridge_namespace, "link", "set", bridge_port, "master", "br0",
             "up"])
        run(["ip", "-n", self.namespace, "link", "set", "lo", "up"])
        run(["ip", "-n", self.namespace, "addr", "add", f"{self.address}/{PREFIX_LENGTH}",
             "dev", self.interface])
        run(["ip", "-n", self.namespace, "link", "set", self.interface, "up"])
        # Every destination, 255.255.255.255 included, leaves through the room's interface.
        run(["ip", "-n", self.namespace, "route", "add", "default", "dev", self.interface])
        copy_template(template, self.prefix)
        self.workdir.mkdir()

    def start_server(self):
        """A persistent wineserver started inside the host, so that every later program of
        the prefix starts fast and uses the host's network."""
        with open(os.devnull, "wb") as null:
            self._server = subprocess.Popen(
                self.command(["wineserver", "-f", "-p"]),
                stdin=subprocess.DEVNULL, stdout=null, stderr=null,
                env=self.environment(), start_new_session=True)
        def listening():
            folder = wine_server_dir(self.prefix)
            return folder is not None and (folder / "socket").exists()

        if not wait_until(listening, SERVER_START_TIMEOUT):
            raise RoomError(f"the wineserver of {self.name} did not start")

    def warm_up(self):
        """Runs one trivial program so that Wine's session processes are up before a test."""
        return WineProcess(self, ["cmd", "/c", "exit"], f"{self.name}-warm-up")


class Room:
    """Hosts on one bridge. Use make_room() or the room_factory fixture to build one."""

    _counter = 0
    _counter_lock = threading.Lock()

    def __init__(self, display_name, template, windows_build, hosts, unnamed=(), warm=True,
                 name_server=None):
        with Room._counter_lock:
            Room._counter += 1
            number = Room._counter
        self.id = f"{NAMESPACE_PREFIX}{os.getpid()}x{number}"
        self.display_name = display_name
        self.windows_build = Path(windows_build)
        check_build_architecture(self.windows_build)
        self.directory = ROOMS_DIR / self.id
        self.bridge_namespace = f"{self.id}br"
        self.peers = []
        self.closed = False
        self.hosts = []
        for index, entry in enumerate(hosts):
            name, address = (entry, None) if isinstance(entry, str) else entry
            if address is None:
                address = f"{NETWORK}.{FIRST_HOST_OCTET + index}"
            elif isinstance(address, int):
                address = f"{NETWORK}.{address}"
            self.hosts.append(Host(self, index, name, address))
        known = {h.name for h in self.hosts}
        unknown = set(unnamed) - known
        if unknown:
            raise RoomError(f"unnamed hosts {sorted(unknown)} are not hosts of the room")
        self.unnamed = set(unnamed)
        if name_server is not None and name_server not in known:
            raise RoomError(f"name server {name_server} is not a host of the room")
        self.name_server = name_server
        self.record = {
            "room": self.id,
            "owner": os.getpid(),
            "owner_start": process_start_time(os.getpid()),
            "namespaces": [self.bridge_namespace] + [h.namespace for h in self.hosts],
            "prefixes": [str(h.prefix) for h in self.hosts],
            "dirs": [str(self.directory)],
        }
        # Recorded before anything is made, so that even a half-built room is found later.
        write_record(self.record)
        try:
            self._build(template, warm)
        except BaseException:
            self.close()
            raise

    def _build(self, template, warm):
        self.directory.mkdir(parents=True)
        run(["ip", "netns", "add", self.bridge_namespace])
        run(["ip", "-n", self.bridge_namespace, "link", "add", "br0", "type", "bridge"])
        run(["ip", "-n", self.bridge_namespace, "link", "set", "br0", "up"])
        names = [(h.name, h.address) for h in self.hosts if h.name not in self.unnamed]
        resolver = self[self.name_server].address if self.name_server else None
        for host in self.hosts:
            host.build(template, names, resolver)
        for host in self.hosts:
            host.start_server()
        if self.name_server:
            self.set_names()
            self._start_name_server()
        if warm:
            # True warms every host; a list of names only those that will run Windows programs.
            chosen = self.hosts if warm is True else [self[name] for name in warm]
            warming = [host.warm_up() for host in chosen]
            for process in warming:
                process.wait(COMMAND_TIMEOUT)

    def _start_name_server(self):
        host = self[self.name_server]
        process = subprocess.Popen(
            host.command(["/usr/bin/python3", Path(__file__).with_name("slow_names.py"),
                          host.address, self.directory / "names.json"]),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            start_new_session=True)
        ready, _, _ = select.select([process.stdout], [], [], SERVER_START_TIMEOUT)
        if not ready or process.stdout.readline() != b"listening\n":
            raise RoomError(f"the name server on {host.name} did not start")
        process.stdout.close()

    def set_names(self, delay=0.0, names=None):
        """What the room's name server answers from now on: each reverse look-up after delay
        seconds, with names[address] (None: no such name), else pc-a-b-c-d."""
        path = self.directory / "names.json"
        temporary = path.with_suffix(".tmp")
        temporary.write_text(json.dumps({"delay": delay, "names": names or {}}))
        temporary.replace(path)

    def __getitem__(self, name):
        for host in self.hosts:
            if host.name == name:
                return host
        raise KeyError(name)

    def release(self, name):
        """A file of the Windows build's release folder (VorlekServer.exe, BLOCKED.BMP...)."""
        return self.windows_build / "release" / name

    def testbin(self, name):
        """A test-only Windows program of the Windows build."""
        return self.windows_build / "testbin" / name

    def screenshot(self, path):
        run(["import", "-display", self.display_name, "-window", "root", str(path)], timeout=20)

    def close(self):
        """Ends every process of the room by pid, stops its wineservers and removes its
        namespaces and files. Safe to call more than once."""
        if self.closed:
            return
        self.closed = True
        for peer in self.peers:
            peer.close()
        remove_made(self.record)


def make_room(display_name, template, windows_build, hosts, unnamed=(), warm=True,
              name_server=None):
    return Room(display_name, template, windows_build, hosts, unnamed, warm, name_server)


# ---------------------------------------------------------------------------------------------
# Reading the probe's output


def unescape(text):
    """Undoes the probe's escaping of \\, \t, \r and \n in a field."""
    out = []
    characters = iter(text)
    for c in characters:
        if c == "\\":
            following = next(characters, "")
            out.append({"t": "\t", "r": "\r", "n": "\n"}.get(following, following))
        else:
            out.append(c)
    return "".join(out)


def parse_rows(output):
    """`rows` output as [(text, selected)] in list order."""
    rows = []
    for line in output.splitlines():
        index, selected, text = line.split("\t", 2)
        rows.append((unescape(text), selected == "1"))
    return rows


def parse_boxes(output):
    """`boxes` output as [(caption, text)], topmost first."""
    boxes = []
    for line in output.splitlines():
        caption, _, text = line.partition("\t")
        boxes.append((unescape(caption), unescape(text)))
    return boxes


# ---------------------------------------------------------------------------------------------
# Watching the root namespace

ETH_P_ALL = 0x0003
ETH_P_IP = 0x0800
# Link types whose frames start with a 14-byte header; others (tunnels) start with the IP header.
LINK_HEADER_LENGTHS = {1: 14, 772: 14}  # ARPHRD_ETHER, ARPHRD_LOOPBACK
WATCH_CHECK = b"vorlek room watch check"


class RootNamespaceWatch:
    """Captures, on every interface of the root namespace, the IPv4 UDP datagrams that touch
    the room's address range or port 10001: the room must never send one there. Made and read
    in the pytest process, which runs in the root namespace (the one every room is built from).

    A datagram carrying WATCH_CHECK is a test of the watch itself (sent on loopback) and is
    left out unless asked for, so that it never fails the watches of other runs."""

    def __init__(self):
        self.socket = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        self.socket.setblocking(False)

    def seen(self, include_checks=False):
        """The room datagrams captured since the last call, as (source, destination, dport)."""
        found = []
        while True:
            try:
                frame, meta = self.socket.recvfrom(65536)
            except BlockingIOError:
                return found
            hit = self._room_datagram(frame, meta)
            if hit and (include_checks or hit[3] != WATCH_CHECK):
                found.append(hit[:3])

    @staticmethod
    def _room_datagram(frame, meta):
        if meta[1] != ETH_P_IP:
            return None
        ip = frame[LINK_HEADER_LENGTHS.get(meta[3], 0):]
        if len(ip) < 20 or ip[0] >> 4 != 4:
            return None
        header_length = (ip[0] & 0x0F) * 4
        if ip[9] != socket.IPPROTO_UDP or len(ip) < header_length + 8:
            return None
        source = socket.inet_ntoa(ip[12:16])
        destination = socket.inet_ntoa(ip[16:20])
        sport, dport = struct.unpack("!HH", ip[header_length:header_length + 4])
        total_length = struct.unpack("!H", ip[2:4])[0]
        payload = ip[header_length + 8:total_length]
        in_room = source.startswith(NETWORK + ".") or destination.startswith(NETWORK + ".")
        if in_room or STATION_PORT in (sport, dport):
            return (source, destination, dport, payload)
        return None

    def close(self):
        self.socket.close()
