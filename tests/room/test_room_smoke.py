"""The station endpoint and the room itself: endpoints of the probe (built on link/ with the
Winsock layer) in hosts of a room, checked with raw datagrams written as byte literals."""

import os
import select
import socket
import struct
import subprocess

import pytest

import room as roomlib

HELLO = b"\x01"
STATUS_REQUEST = b"\x04"
# A StatusReport carrying 12345 seconds.
REPORT_12345 = b"\x04\x39\x30\x00\x00"

START = 10
# How long an endpoint waits for a datagram that is expected: it ends as soon as the datagram
# arrives, so only a slow machine ever uses much of it.
RECEIVE_MS = 15000


@pytest.fixture
def smoke_room(room_factory):
    room = room_factory(["alpha", "beta", "gamma", ("delta", 14)], unnamed=["delta"])
    for host in room.hosts:
        host.install(room.testbin("VorlekProbe.exe"))
    return room


def start_endpoint(host, *actions):
    """A probe endpoint running in the background; returns once it is bound."""
    process = host.start("VorlekProbe.exe", "endpoint", *actions)
    assert process.wait_for_output("\n", START), process.stdout + process.stderr
    assert process.stdout.startswith(f"bound {host.address}:10001 {host.name}\n"), process.stdout
    return process


def finished(process):
    process.wait(RECEIVE_MS / 1000 + START)
    return process.stdout


def in_namespace(pid, namespace):
    return roomlib.network_namespace_inode(pid) == os.stat(f"/run/netns/{namespace}").st_ino


def test_hello_and_report_travel_between_hosts_with_the_bound_address(smoke_room, root_watch):
    alpha, beta, gamma = smoke_room["alpha"], smoke_room["beta"], smoke_room["gamma"]
    receiver = start_endpoint(beta, "receive", RECEIVE_MS, "receive", RECEIVE_MS)
    gamma_port = gamma.peer()

    sender = alpha.probe("endpoint", "hello", beta.address, "hello", gamma.address)

    assert sender.returncode == 0
    assert sender.stdout == ("bound 198.51.100.11:10001 alpha\n"
                             "sent 198.51.100.12:10001 01\n"
                             "sent 198.51.100.13:10001 01\n")
    assert gamma_port.recv(START) == (HELLO, ("198.51.100.11", 10001))
    gamma_port.send(beta.address, REPORT_12345)
    assert finished(receiver) == ("bound 198.51.100.12:10001 beta\n"
                                  "received 198.51.100.11:10001 01\n"
                                  "received 198.51.100.13:10001 0439300000\n")
    assert receiver.poll() == 0
    assert root_watch.seen() == []


def test_broadcast_status_request_reaches_every_other_host_and_no_other_room(
        smoke_room, room_factory, root_watch):
    alpha, beta, gamma, delta = smoke_room.hosts
    # A second room on the same addresses, as other test runs build at the same time.
    neighbour = room_factory([("alpha", 11), ("beta", 12)], warm=False)
    neighbour_ports = [host.peer() for host in neighbour.hosts]
    receivers = [start_endpoint(host, "receive", RECEIVE_MS) for host in (beta, gamma)]
    delta_port = delta.peer()
    assert all(in_namespace(r.pid, h.namespace) for r, h in zip(receivers, (beta, gamma)))

    sender = alpha.probe("endpoint", "broadcast-status-request", "receive", RECEIVE_MS)

    # The sender hears its own broadcast too: owners tell it apart by their own address.
    assert sender.stdout == ("bound 198.51.100.11:10001 alpha\n"
                             "sent 255.255.255.255:10001 04\n"
                             "received 198.51.100.11:10001 04\n")
    for receiver, host in zip(receivers, (beta, gamma)):
        assert finished(receiver) == (f"bound {host.address}:10001 {host.name}\n"
                                      "received 198.51.100.11:10001 04\n")
    assert delta_port.recv(START) == (STATUS_REQUEST, ("198.51.100.11", 10001))
    assert [port.recv_all(0.5) for port in neighbour_ports] == [[], []]
    assert root_watch.seen() == []


def test_reverse_look_up_gives_names_of_named_hosts_only(smoke_room):
    beta, delta = smoke_room["beta"], smoke_room["delta"]

    result = beta.probe("endpoint", "look-up", "198.51.100.11", "look-up", "198.51.100.14",
                        "look-up-name", "gamma", "look-up-name", "delta")

    assert result.stdout == ("bound 198.51.100.12:10001 beta\n"
                             "name 198.51.100.11 alpha\n"
                             "no name 198.51.100.14\n"
                             "address gamma 198.51.100.13\n"
                             "no address delta\n")
    assert result.returncode == 1
    # A host missing from every hosts file still finds its own address by its own name.
    unnamed = delta.probe("endpoint", "look-up-name", "delta")
    assert unnamed.stdout == ("bound 198.51.100.14:10001 delta\n"
                              "address delta 198.51.100.14\n")


def test_second_endpoint_on_a_host_binds_thanks_to_address_reuse(smoke_room):
    alpha, beta = smoke_room["alpha"], smoke_room["beta"]
    first = start_endpoint(beta, "receive", RECEIVE_MS)
    second = start_endpoint(beta, "receive", RECEIVE_MS)

    alpha.probe("endpoint", "broadcast-status-request")

    for process in (first, second):
        assert finished(process) == ("bound 198.51.100.12:10001 beta\n"
                                     "received 198.51.100.11:10001 04\n")
    assert beta.probe("boxes").stdout == ""
    missing = beta.probe("--wait", 300, "get-text", "No such window")
    assert (missing.returncode, missing.stdout) == (1, "no window No such window\n")


def test_datagram_longer_than_the_buffer_is_dropped_and_the_next_one_read(smoke_room):
    beta, gamma = smoke_room["beta"], smoke_room["gamma"]
    receiver = start_endpoint(beta, "receive-into", 4, RECEIVE_MS, "receive-into", 4, RECEIVE_MS,
                              "receive", 300)
    gamma_port = gamma.peer()

    gamma_port.send(beta.address, REPORT_12345)
    gamma_port.send(beta.address, HELLO)

    assert finished(receiver) == ("bound 198.51.100.12:10001 beta\n"
                                  "receive failed\n"
                                  "received 198.51.100.13:10001 01\n"
                                  "nothing received\n")
    assert receiver.poll() == 1


def test_endpoint_reports_a_bind_failure_in_a_box_without_caption(smoke_room):
    beta = smoke_room["beta"]
    # A socket of the host that holds its address and port without address reuse.
    holder = subprocess.Popen(
        beta.command(["/usr/bin/python3", "-c",
                      "import socket, sys\n"
                      "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                      "s.bind((sys.argv[1], 10001))\n"
                      "print('held', flush=True)\n"
                      "sys.stdin.read()\n",
                      beta.address]),
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=beta.environment())
    try:
        assert select.select([holder.stdout], [], [], START)[0], "the holder did not start"
        assert holder.stdout.readline() == b"held\n"
        endpoint = beta.start("VorlekProbe.exe", "endpoint")

        box = beta.probe("close-box", "Error", 10000)

        assert box.stdout == "closed Error\tbind() returned error 10013\n"
        assert finished(endpoint) == "not ready\n"
        assert endpoint.poll() == 1
    finally:
        holder.kill()
        holder.wait(5)


def test_root_watch_sees_station_datagrams_on_loopback(root_watch):
    # The check that the room's datagrams stay inside it is only worth something if the watch
    # sees such datagrams where they do show up: on loopback, in the root namespace.
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
        sender.sendto(roomlib.WATCH_CHECK, ("127.0.0.1", 10001))
    seen = roomlib.wait_until(lambda: root_watch.seen(include_checks=True), 2)
    assert set(seen) == {("127.0.0.1", "127.0.0.1", 10001)}


def test_probe_output_fields_read_back_as_the_windows_showed_them():
    # Lines as VorlekProbe prints them: a tab separates fields, so tabs, line ends and
    # backslashes inside a text arrive escaped.
    rows = "0\t1\tn/a ( 1.1.1.1 )\n1\t0\ta\\tb\\\\c\\r\\n\n2\t0\t\n"
    boxes = "Vorlek Information\tClient 'x' ( 198.51.100.12 ) is OFF\nError\tline\\nnext\n"

    assert roomlib.parse_rows(rows) == [("n/a ( 1.1.1.1 )", True), ("a\tb\\c\r\n", False),
                                        ("", False)]
    assert roomlib.parse_boxes(boxes) == [
        ("Vorlek Information", "Client 'x' ( 198.51.100.12 ) is OFF"), ("Error", "line\nnext")]


def test_closed_room_leaves_no_namespace_process_or_file(room_factory):
    room = room_factory(["alpha", "beta"])
    alpha = room["alpha"]
    alpha.install(room.testbin("VorlekProbe.exe"))
    start_endpoint(alpha, "hold", 60000)
    namespaces = [room.bridge_namespace] + [host.namespace for host in room.hosts]
    pids = [pid for namespace in namespaces for pid in roomlib.namespace_pids(namespace)]
    server_dirs = [roomlib.wine_server_dir(host.prefix) for host in room.hosts]
    assert len(pids) > 2 and all(server_dirs)

    room.close()

    assert [n for n in namespaces if os.path.exists(f"/run/netns/{n}")] == []
    assert [n for n in namespaces if os.path.exists(f"/etc/netns/{n}")] == []
    assert [p for p in pids if not roomlib.is_zombie(p)] == []
    assert [d for d in server_dirs if d.exists()] == []
    assert not room.directory.exists()
    assert not (roomlib.RECORDS_DIR / f"{room.id}.json").exists()


def test_leftovers_of_a_dead_run_go_and_rooms_of_live_runs_stay(room_factory):
    live = room_factory(["alpha"], warm=False)
    owner = subprocess.Popen(["sleep", "30"])
    owner_start = roomlib.process_start_time(owner.pid)
    owner.kill()
    owner.wait(5)
    dead_id = f"{roomlib.NAMESPACE_PREFIX}{owner.pid}x1"
    namespace = f"{dead_id}h0"
    folder = roomlib.ROOMS_DIR / dead_id
    roomlib.write_record({"room": dead_id, "owner": owner.pid, "owner_start": owner_start,
                          "namespaces": [namespace], "prefixes": [], "dirs": [str(folder)]})
    folder.mkdir(parents=True)
    (roomlib.NETNS_ETC_DIR / namespace).mkdir(parents=True)
    roomlib.run(["ip", "netns", "add", namespace])
    stray = subprocess.Popen(["ip", "netns", "exec", namespace, "sleep", "60"])
    assert roomlib.wait_until(lambda: roomlib.namespace_pids(namespace), 5)

    roomlib.remove_leftovers()

    assert stray.wait(5) == -9
    assert not os.path.exists(f"/run/netns/{namespace}")
    assert not (roomlib.NETNS_ETC_DIR / namespace).exists()
    assert not folder.exists()
    assert not (roomlib.RECORDS_DIR / f"{dead_id}.json").exists()
    assert os.path.exists(f"/run/netns/{live['alpha'].namespace}")
    assert (roomlib.RECORDS_DIR / f"{live.id}.json").exists()


def test_screenshot_is_a_png_of_the_whole_display(room_factory, tmp_path):
    room = room_factory(["alpha"], warm=False)

    room.screenshot(tmp_path / "room.png")

    data = (tmp_path / "room.png").read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    assert data[12:16] == b"IHDR"
    assert struct.unpack(">II", data[16:24]) == (1024, 768)


def room_arch(*args, forced=None):
    env = {k: v for k, v in os.environ.items() if k != "VORLEK_ROOM_ARCH"}
    if forced is not None:
        env["VORLEK_ROOM_ARCH"] = forced
    return subprocess.run(["bash", roomlib.REPOSITORY / "scripts" / "room_arch.sh", *args],
                          env=env, capture_output=True, text=True, timeout=30)


def test_room_architecture_is_what_the_machine_executes_unless_forced():
    runs_32_bit = room_arch("--runs-32-bit").returncode == 0
    assert room_arch().stdout == ("win32\n" if runs_32_bit else "win64\n")
    assert room_arch(forced="win64").stdout == "win64\n"
    forced = room_arch(forced="win32")
    if runs_32_bit:
        assert (forced.returncode, forced.stdout) == (0, "win32\n")
    else:
        assert (forced.returncode, forced.stdout) == (1, "")
        assert "this machine cannot execute 32-bit programs" in forced.stderr
    unknown = room_arch(forced="win16")
    assert (unknown.returncode, unknown.stderr) == (
        1, "VORLEK_ROOM_ARCH is 'win16'; it takes win32 or win64.\n")


def test_a_room_refuses_a_build_of_the_other_architecture(tmp_path):
    arch = roomlib.room_architecture()
    other = "win32" if arch == "win64" else "win64"
    for name, machine in roomlib.PE_MACHINES.items():
        release = tmp_path / name / "release"
        release.mkdir(parents=True)
        header = bytearray(0x100)
        header[0:2] = b"MZ"
        struct.pack_into("<I", header, 0x3C, 0x80)
        header[0x80:0x84] = b"PE\0\0"
        struct.pack_into("<H", header, 0x84, machine)
        (release / "VorlekServer.exe").write_bytes(header)

    roomlib.check_build_architecture(tmp_path / arch)
    with pytest.raises(roomlib.RoomError, match=f"is a {other} program"):
        roomlib.check_build_architecture(tmp_path / other)
    with pytest.raises(roomlib.RoomError, match="cannot be read as a Windows program"):
        roomlib.check_build_architecture(tmp_path / "missing")
