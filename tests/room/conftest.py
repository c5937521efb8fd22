"""Fixtures of the test room: one Xvfb and one Wine template per session, rooms per test.

Rooms are torn down after each test, also when it fails, and at the latest when pytest ends,
on Ctrl+C or SIGTERM. See README.md for the API."""

import atexit
import os
import signal

import pytest

import room as roomlib

_live_rooms = []
_display = []


def _close_everything():
    while _live_rooms:
        _live_rooms.pop().close()
    while _display:
        _display.pop().close()


def _terminated(signum, frame):
    # Unwinds the running test like Ctrl+C does, so that its finalizers run.
    raise KeyboardInterrupt(f"signal {signum}")


def pytest_configure(config):
    signal.signal(signal.SIGTERM, _terminated)
    atexit.register(_close_everything)


def pytest_unconfigure(config):
    _close_everything()


@pytest.fixture(scope="session")
def room_display():
    """The Xvfb display name shared by every room of the session, e.g. ":3"."""
    if os.geteuid() != 0:
        pytest.skip("the test room needs root (network namespaces)")
    try:
        roomlib.check_build_architecture(roomlib.windows_build_dir())
    except roomlib.RoomError as error:
        # One sentence for the whole run instead of the same error in every room test.
        pytest.exit(f"the test room cannot run: {error}", returncode=1)
    roomlib.remove_leftovers()
    display = roomlib.Display()
    _display.append(display)
    yield display.name
    if display in _display:
        _display.remove(display)
    display.close()


@pytest.fixture(scope="session")
def wine_template(room_display):
    """The cached Wine prefix of the room's architecture that each host copies."""
    return roomlib.ensure_template(room_display)


@pytest.fixture(scope="session")
def windows_build():
    """The Windows build folder: release/ holds the programs, testbin/ the test-only ones."""
    return roomlib.windows_build_dir()


@pytest.fixture
def room_factory(room_display, wine_template, windows_build):
    """make_room(hosts=[...], unnamed=[...], warm=True, name_server=None) -> Room; every room is closed after
    the test. A test whose rooms let a datagram out into the root namespace fails."""
    made = []
    watch = roomlib.RootNamespaceWatch()

    def make_room(hosts, unnamed=(), warm=True, name_server=None):
        room = roomlib.make_room(room_display, wine_template, windows_build, hosts, unnamed, warm,
                                 name_server)
        made.append(room)
        _live_rooms.append(room)
        return room

    yield make_room
    for room in made:
        if room in _live_rooms:
            _live_rooms.remove(room)
        room.close()
    leaked = watch.seen()
    watch.close()
    if leaked:
        pytest.fail(f"datagrams left the room: {leaked}")


@pytest.fixture
def root_watch():
    """Captures room datagrams that show up in the root namespace; see RootNamespaceWatch."""
    watch = roomlib.RootNamespaceWatch()
    yield watch
    watch.close()
