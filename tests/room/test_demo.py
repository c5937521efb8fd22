"""The demo command, README's first command: its self-ending run plays the whole script on a
virtual display, saves real screenshots and leaves nothing behind; interrupted half-way, it
still removes everything it made."""

import os
import re
import select
import signal
import struct
import subprocess
import time
from pathlib import Path

import pytest

import room as roomlib
from agent_support import pixel

REPOSITORY = Path(__file__).resolve().parents[2]
# Setup and build are no-ops after the test command's own; the script takes about a minute.
DEMO_TIMEOUT = 600


def demo_environment(windows_build):
    env = {key: value for key, value in os.environ.items() if key != "DISPLAY"}
    env["VORLEK_WINDOWS_BUILD"] = str(windows_build)
    return env


def png_size(path):
    """(width, height) from a PNG's signature and IHDR chunk."""
    head = Path(path).read_bytes()[:24]
    assert head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR", head
    return struct.unpack(">II", head[16:24])


def close_button_quarters(path):
    """How many pixels of each quarter of the console's close button (top right) are dark, as
    a cross draws them in all four and the letter "r" of a missing caption font does not."""
    width, _ = png_size(path)
    left, top, size = width - 22, 5, 14
    text = subprocess.run(["convert", str(path), "-crop", f"{size}x{size}+{left}+{top}",
                           "-colorspace", "gray", "-depth", "8", "txt:-"], capture_output=True,
                          check=True, timeout=30).stdout.decode()
    quarters = [0, 0, 0, 0]
    for x, y, gray in re.findall(r"^(\d+),(\d+): \((\d+)", text, re.M):
        if int(gray) < 100:
            quarters[(int(y) >= size // 2) * 2 + (int(x) >= size // 2)] += 1
    return quarters


def made_by(output):
    """The room id and the Xvfb pid that the demo announced."""
    room_id = re.search(r"^demo: room (vr\d+x\d+):", output, re.M).group(1)
    xvfb = int(re.search(r"\(Xvfb pid (\d+)\)", output).group(1))
    return room_id, xvfb


def assert_nothing_left(room_id, xvfb):
    namespaces = [p.name for p in roomlib.NETNS_RUN_DIR.glob(f"{room_id}*")]
    assert namespaces == []
    assert list(roomlib.NETNS_ETC_DIR.glob(f"{room_id}*")) == []
    assert not (roomlib.RECORDS_DIR / f"{room_id}.json").exists()
    assert not (roomlib.ROOMS_DIR / room_id).exists()
    assert roomlib.process_start_time(xvfb) is None or roomlib.is_zombie(xvfb)


def end_demo(process):
    """A demo still running after a failed wait is asked to clean up first, then killed."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            roomlib.kill_pids([process.pid])


@pytest.fixture
def demo_root(room_display):
    """Root and a machine with the Wine template; the demo brings its own display."""
    return room_display


def test_self_ending_demo_plays_the_script_saves_screenshots_and_cleans_up(demo_root,
                                                                          windows_build,
                                                                          tmp_path):
    shots = tmp_path / "shots"
    process = subprocess.Popen(
        ["bash", "scripts/demo.sh", "--exit-after-script", "--shots", str(shots)],
        cwd=REPOSITORY, env=demo_environment(windows_build), stdout=subprocess.PIPE,
        stderr=subprocess.PIPE)
    try:
        stdout, stderr = process.communicate(timeout=DEMO_TIMEOUT)
    finally:
        end_demo(process)
    output = stdout.decode(errors="replace")
    assert process.returncode == 0, output + stderr.decode(errors="replace")

    lines = output.splitlines()
    rows_at = [i for i, line in enumerate(lines) if line.startswith("        ")]
    shown = [lines[i].strip() for i in rows_at]
    assert shown[:3] == ["alpha ( 198.51.100.12 ) -- state OFF",
                         "bravo ( 198.51.100.13 ) -- state OFF",
                         "charlie ( 198.51.100.14 ) -- state OFF"]
    assert shown[3:6] == ["alpha ( 198.51.100.12 ) -- state AVAILABLE",
                          "bravo ( 198.51.100.13 ) -- state AVAILABLE",
                          "charlie ( 198.51.100.14 ) -- state AVAILABLE"]
    locked, final = shown[-6:-3], shown[-3:]
    assert locked[0] == "alpha ( 198.51.100.12 ) -- state BLOCKED"
    # A paused station's row stands still.
    assert locked[1] == final[1], (locked, final)
    assert final[0] == "alpha ( 198.51.100.12 ) -- state AVAILABLE"
    assert re.fullmatch(r"bravo \( 198\.51\.100\.13 \) -- state PAUSED, remains 00:59:[45]\d",
                        final[1]), final
    assert re.fullmatch(r"charlie \( 198\.51\.100\.14 \) -- state NORMAL, remains 01:29:\d\d",
                        final[2]), final
    assert "demo: the console says: Client 'alpha' ( 198.51.100.12 ) is BLOCKED" in lines
    assert lines[-3:] == [f"demo: screenshots in {shots}", "demo: script done; ending",
                          "demo: room removed"]

    # The console's window alone; the locked station fills the whole virtual screen.
    for name in ["console.png", "console-after-lock.png"]:
        width, height = png_size(shots / name)
        assert 400 < width < 1024 and 300 < height < 768, (name, width, height)
    assert all(close_button_quarters(shots / "console.png")), "the title bar lacks its font"
    assert png_size(shots / "locked-station.png") == (1024, 768)
    red, green, blue = pixel(shots / "locked-station.png", 450, 250)
    assert red > 180 and green < 120 and blue < 100, (red, green, blue)

    assert_nothing_left(*made_by(output))


def test_interrupted_demo_removes_what_it_made(demo_root, windows_build, tmp_path):
    process = subprocess.Popen(
        ["/usr/bin/python3", "scripts/demo_room.py", "--build", str(windows_build), "--shots",
         str(tmp_path)], cwd=REPOSITORY, env=demo_environment(windows_build),
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    output = b""
    try:
        deadline = time.monotonic() + 120
        while b"-- state OFF\n" not in output and time.monotonic() < deadline:
            if select.select([process.stdout], [], [], 1)[0]:
                chunk = os.read(process.stdout.fileno(), 4096)
                if not chunk:
                    break
                output += chunk
        assert b"-- state OFF\n" in output, output.decode(errors="replace")
        process.send_signal(signal.SIGTERM)
        rest, _ = process.communicate(timeout=60)
    finally:
        end_demo(process)
    text = (output + rest).decode(errors="replace")
    assert process.returncode == 0, text
    assert text.splitlines()[-2:] == ["demo: interrupted; ending", "demo: room removed"]
    assert_nothing_left(*made_by(text))
