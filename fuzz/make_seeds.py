#!/usr/bin/env python3
"""Writes the hand-made seed inputs of every fuzz target into corpus/<target>/.

Each seed is a valid or a deliberately broken input with a name that says what it is; the
fuzzers start from them, and scripts/fuzz.sh replays them all as a regression check. Run it
again after changing a seed below; inputs the fuzzers found stay in their work folders."""

import base64
import struct
from pathlib import Path

CORPUS = Path(__file__).resolve().parent / "corpus"


def word(value):
    return struct.pack("<I", value & 0xFFFFFFFF)


def u16(value):
    return struct.pack("<H", value)


# Raw datagrams: type byte, then the little-endian word.
DATAGRAMS = {
    "empty": b"",
    "hello": b"\x01",
    "hello-trailing-bytes": b"\x01\x00\x00\x00\x00\xff",
    "status-request": b"\x04",
    "report-12345": b"\x04\x39\x30\x00\x00",
    "report-paused-90": b"\x04" + word(0x20000000 + 90),
    "report-1fffffff": b"\x04\xff\xff\xff\x1f",
    "report-blocked": b"\x04" + word(0x80000003),
    "report-mode-4": b"\x04" + word(0x80000004),
    "command-short-4-bytes": b"\x03\x10\x0e\x00",
    "command-add-hour": b"\x03" + word(0xC0000000 + 3600),
    "command-warning-300": b"\x03" + word(0x90000000 + 300),
    "command-pause": b"\x03" + word(0x80000001),
    "unknown-type-5-bytes": b"\x07\x01\x02\x03\x04",
    "type-255": b"\xff" * 9,
}

# Host-list files as a person might write them, and broken ones.
HOST_LISTS = {
    "comment-blank-two-addresses": b"# room 1\n\n192.168.1.20\n192.168.1.21  # by the door\n",
    "crlf": b"198.51.100.1\r\n198.51.100.2\r\n",
    "names": b"station\nconsole # digit-free comment\nunknownhost\nself\n",
    "name-with-digit": b"pc12\nstation # seat 4\n",
    "indented-comment": b"   #198.51.100.9 left out\n\t198.51.100.10\n",
    "other-forms": b"0x7f.1\n10.1.2\n0300.0250.1.1\n3221225985\n",
    "rejected": b"255.255.255.255\n1.2.3.256\n0x\n..\n1.2.3.4.5\n",
    "zero-hides-rest": b"198.51.100.5\n0.0.0.0\n198.51.100.6\n",
    "duplicates": b"198.51.100.5\n198.51.100.5\n",
    "no-final-line-end": b"198.51.100.7",
    "600-characters": b"1" * 600,
    "nul-in-line": b"198.51.100.8\x00 station\nsta\x00tion\n",
    "binary": bytes(range(256)),
    "empty": b"",
}


# The agent's script: a setup byte, then records (see agent_datagram_fuzz.cpp).
def agent_datagram(sender, payload):
    return bytes([sender << 3 | 0]) + u16(len(payload)) + payload


def agent_command(sender, value):
    return bytes([sender << 3 | 4]) + word(value)


def ticks(count):
    return bytes([(count - 1) << 3 | 1])


AGENT = {
    "two-servers-add-hour": b"\x02" + agent_command(0, 0xC0000000 + 3600) + ticks(3),
    "set-time-then-lock-by-tick": b"\x01" + agent_command(0, 2) + ticks(3) + ticks(1),
    "block-unblock-block": b"\x01"
    + agent_command(0, 0x80000003)
    + agent_command(1, 0x80000002)
    + agent_command(2, 0x80000003),
    "block-without-picture": b"\x05" + agent_command(0, 0x80000003) + agent_command(0, 60),
    "block-window-fails": b"\x09" + agent_command(0, 0x80000003) + agent_command(0, 0x80000004),
    "warning-with-nested-commands": b"\x01"
    + agent_command(0, 0x90000000 + 3)
    + agent_command(0, 5)
    + bytes([3 << 3 | 3])
    + ticks(2)
    + agent_command(0, 0x80000003)
    + bytes([5])
    + agent_command(0, 0x80000001)
    + ticks(1),
    "pause-resume-mode-6": b"\x03"
    + agent_command(0, 100)
    + agent_command(0, 0x80000001)
    + ticks(2)
    + agent_command(0, 0x80000005)
    + agent_command(3, 0x80000006)
    + agent_command(0, 0xC0000000 + 10),
    "logoff-reboot": b"\x01" + agent_command(0, 0x80000007) + agent_command(0, 0x80000008),
    "status-requests-any-length": b"\x02"
    + bytes([5])
    + agent_datagram(1, b"\x04\x00")
    + agent_datagram(2, b"\x04" + b"\x00" * 20),
    "short-and-foreign": b"\x01"
    + bytes([0 << 3 | 6, 1 << 3 | 6, 2 << 3 | 6, 3 << 3 | 6, 4 << 3 | 6])
    + b"\x03"
    + b"\x03\x10"
    + b"\x03\x10\x0e"
    + b"\x03\x10\x0e\x00"
    + agent_datagram(2, b"\x01")
    + agent_datagram(2, b"\x02" + word(5))
    + agent_datagram(2, b"\x05" + word(5)),
    "4095-4096-4097-bytes": b"\x01"
    + bytes([5 << 3 | 7])
    + b"\x03"
    + word(60)
    + bytes([6 << 3 | 7])
    + b"\x03"
    + word(60)
    + bytes([7 << 3 | 7])
    + b"\x03"
    + word(60),
    "65000-bytes": b"\x01" + bytes([2 << 3 | 0]) + u16(65000) + b"\x03" + word(60),
    "nothing-waiting": b"\x00" + bytes([2, 2]),
}


# The console's script: a setup byte, then records (see server_datagram_fuzz.cpp).
def hello(station):
    return bytes([station << 3 | 1])


def report(station, value):
    return bytes([station << 3 | 2]) + word(value)


def second(seconds=1):
    return bytes([seconds << 3 | 3])


def operator(variant, argument=b""):
    return bytes([variant << 3 | 5]) + argument


SERVER = {
    "hello-then-report": b"\x00" + hello(0) + report(0, 3600) + second(1) + second(1),
    "hello-twice-and-from-stranger": b"\x00" + hello(1) + hello(1) + hello(8) + report(8, 90),
    "listed-report-before-first-tick": b"\x02" + report(1, 0x20000000 + 90) + second(1),
    "populated-off-then-on": b"\x0b"
    + report(0, 90)
    + second(1) * 16
    + report(0, 0x80000002)
    + report(0, 0x80000001),
    "blocked-twice": b"\x0c" + report(2, 0x80000003) + report(2, 0x80000003),
    "unlimited-available-mode-words": b"\x0f"
    + report(3, 0x80000000)
    + report(4, 0x80000002)
    + report(5, 0x80000004)
    + report(6, 0x1FFFFFFF),
    "long-names-and-duplicates": b"\x0f" + hello(2) + hello(7) + hello(6) + report(7, 5) + second(3),
    "nested-boxes": b"\x0b"
    + report(0, 600)
    + second(1) * 16
    + bytes([3 << 3 | 4])
    + report(0, 0x80000003)
    + hello(8)
    + report(1, 7)
    + second(1),
    "operator-commands": b"\x0b"
    + operator(0, b"\x00")
    + operator(0, b"\x02")
    + operator(1, word(0x20000005))
    + operator(2, u16(3600))
    + operator(3)
    + operator(4)
    + operator(1, word(0)),
    "options-zero-period-and-timeout": b"\x0b"
    + operator(5, b"\x00")
    + operator(6, b"\x00")
    + operator(7, b"\x18")
    + second(1) * 8,
    "options-extreme-values": b"\x0b"
    + operator(5, b"\x80" + word(0x80000000))
    + operator(6, b"\xff" + word(0xFFFFFFFF))
    + second(1) * 4
    + operator(5, b"\x81" + word(0xFFFFFFFF))
    + second(1) * 4,
    "nothing-waiting": b"\x01" + bytes([30 << 3 | 6, 31 << 3 | 6]) + report(0, 60) + bytes([30 << 3 | 6]),
    "clock-set-back": b"\x01" + report(0, 100) + bytes([31 << 3 | 3]) + second(2),
    "short-long-and-foreign": b"\x01"
    + bytes([0 << 3 | 6, 1 << 3 | 6, 2 << 3 | 6, 3 << 3 | 6, 4 << 3 | 6])
    + b"\x04"
    + b"\x04\x10"
    + b"\x04\x10\x0e"
    + b"\x04\x10\x0e\x00"
    + bytes([0 << 3 | 0])
    + u16(5)
    + b"\x02\x01\x00\x00\x00"
    + bytes([3 << 3 | 7])
    + b"\x01\x00\x00\x00\x00"
    + bytes([4 << 3 | 7])
    + b"\x01\x00\x00\x00\x00"
    + bytes([5 << 3 | 7])
    + b"\x04\x05\x00\x00\x00",
    "65000-bytes": b"\x01" + bytes([0 << 3 | 0]) + u16(65000) + b"\x01",
    "discovery-twice-self-and-too-long": b"\x10"
    + b"\x05"
    + u16(0x0102)
    + b"\x02"
    + u16(0xFFFF)
    + b"\x02"
    + u16(0x0102)
    + b"\x01"
    + u16(0x0103)
    + b"\x03"
    + u16(0x0104)
    + b"\x00"
    + second(1)
    + second(1),
}


def bmp(width, height, pixels, bits=24, compression=0, offset=54):
    """The two standard headers of a BMP file, then the given pixel bytes."""
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, 0, 0, 0, 0, 0)
    size = 14 + len(info) + len(pixels)
    return b"BM" + struct.pack("<IHHI", size, 0, 0, offset) + info + pixels


LOCK_PICTURES = {
    "4x2-24-bit": bmp(4, 2, bytes(range(24))),
    "3x3-rows-with-filler": bmp(
        3, 3, b"".join(bytes(range(r * 9, r * 9 + 9)) + b"\x00\x00\x00" for r in range(3))
    ),
    "1x1": bmp(1, 1, b"\x10\x20\x30"),
    "pixels-missing": bmp(8, 8, bytes(10)),
    "headers-only": bmp(2, 2, b""),
    "shorter-than-sizes": bmp(2, 2, b"")[:25],
    "zero-width": bmp(0, 5, bytes(15)),
    "negative-height-top-down": bmp(2, -2, bytes(12)),
    "huge-both": bmp(0x7FFFFFFF, 0x7FFFFFFF, bytes(6)),
    "product-wraps-32-bits": bmp(65536, 65536, bytes(6)),
    "one-above-limit": bmp(4097, 4096, bytes(6)),
    "32-bit-with-colour-table": bmp(2, 2, bytes(1024 + 16), bits=32, offset=54 + 1024),
    "rle8-compressed": bmp(4, 4, b"\x04\x01\x00\x01", bits=8, compression=1),
    "empty": b"",
}

# Texts an operator might type into a time field.
TIMES = {
    "seconds": b"90",
    "minutes-seconds": b"2:30",
    "hours-minutes-seconds": b"2:30:00",
    "seconds-above-59": b"1:90",
    "trailing-words": b"10 minutes",
    "four-fields": b"1:2:3:4",
    "negative": b"-1",
    "signs": b"+1:-1",
    "blanks": b"  1:\t2 ",
    "blank-before-colon": b"1 :2",
    "overflow": b"99999999999:99999999999:99999999999",
    "letters": b"abc",
    "empty": b"",
    "colon-only": b":",
    "254-characters": b"1" * 254,
    "nul-inside": b"1\x002:3",
}


# "clients" for the editor: a fault byte, then the file (see client_list_fuzz.cpp).
CLIENT_LISTS = {
    "comment-blank-two-entries": b"\x00# room\n\npc2\npc1\n",
    "entry-with-comment": b"\x00pc3 # by the door\n",
    "indented-comment": b"\x00   #pc4\npc5\n#late comment\n",
    "crlf": b"\x00#c\r\npc1\r\npc2\r\n",
    "no-file": b"\x04",
    "no-newclients": b"\x01pc1\n",
    "replace-fails": b"\x02#c\npc1\n",
    "disk-full": b"\x08#" + b"c" * 40 + b"\npc1\n",
    "long-line": b"\x00" + b"p" * 1000 + b"\n",
    "nul-bytes": b"\x00pc1\x00junk\n\x00pc2\n#a\x00b\n",
    "no-final-line-end": b"\x00pc1",
    "binary": b"\x00" + bytes(range(256)),
    "finding-nul-ends-word": b"\x0a\x0a\x8f\x00",
    "finding-nul-before-comment": b"\xe8\x00\x00\x1a\x0a#",
}


# Signed orders and "roomkeys" files: one input is read as both.
KEY_LINE = b"vorlek-p256 " + base64.b64encode(bytes([4]) + bytes(range(1, 65)))
SIGNED_HEAD = b"\x03" + word(0xC0000E10) + b"\x02" + struct.pack("<Q", 1765000000000)
SIGNED_ORDERS = {
    "signed-add-hour": SIGNED_HEAD + bytes(range(64)),
    "signed-form-3": SIGNED_HEAD[:5] + b"\x03" + SIGNED_HEAD[6:] + bytes(64),
    "signed-77-bytes": SIGNED_HEAD + bytes(63),
    "hello-with-nonce": b"\x01" + bytes(range(1, 9)),
    "report-with-nonce": b"\x04" + word(3600) + bytes(range(1, 9)),
    "roomkeys-two-keys": b"# room 1\n" + KEY_LINE + b" desk\r\n\n" + KEY_LINE + b"\n",
    "roomkeys-comment-only": b"# nobody yet\n",
    "roomkeys-cut-key": KEY_LINE[:-4] + b"\n",
    "roomkeys-compressed-point": b"vorlek-p256 " + base64.b64encode(bytes([2]) + bytes(64)) + b"\n",
    "roomkeys-nul-in-key": KEY_LINE[:40] + b"\0" + KEY_LINE[41:] + b"\n",
    "roomkeys-long-line": KEY_LINE + b" " + b"x" * 600 + b"\n",
}


def write(target, seeds):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    for name, content in seeds.items():
        (folder / name).write_bytes(content)


def main():
    write("link_datagram_fuzz", DATAGRAMS)
    write("host_list_fuzz", HOST_LISTS)
    write("signed_order_fuzz", SIGNED_ORDERS)
    write("agent_datagram_fuzz", AGENT)
    write("server_datagram_fuzz", SERVER)
    write("lock_picture_fuzz", LOCK_PICTURES)
    write("parse_time_fuzz", TIMES)
    write("client_list_fuzz", CLIENT_LISTS)


if __name__ == "__main__":
    main()
