"""A name server for the test room that answers reverse (PTR) look-ups slowly.

    python3 slow_names.py ADDRESS CONFIG

Listens on ADDRESS, UDP port 53, inside a room host. Every PTR query for a.b.c.d.in-addr.arpa is
answered after CONFIG's "delay" seconds with the name CONFIG's "names" gives the address, else
with the made-up name "pc-a-b-c-d"; a name of null answers "no such name". Queries of any other
kind get "no such name" at once. CONFIG (JSON) is read again whenever it changes, so a test can
rename a station, make its name disappear, or make the server hang (a delay longer than the
test). The room ends the process with its namespace."""

import json
import os
import socket
import struct
import sys
import threading

PTR = 12
ARPA_SUFFIX = ".in-addr.arpa"
NO_ERROR = 0x8180  # a response, recursion desired and available
NO_SUCH_NAME = 0x8183


class Config:
    def __init__(self, path):
        self.path = path
        self.stamp = None
        self.delay = 0.0
        self.names = {}

    def current(self):
        try:
            info = os.stat(self.path)
            stamp = (info.st_ino, info.st_mtime_ns)
            if stamp != self.stamp:
                with open(self.path) as file:
                    data = json.load(file)
                self.stamp = stamp
                self.delay = float(data.get("delay", 0))
                self.names = data.get("names", {})
        except (OSError, ValueError):
            pass  # a file being replaced: the last complete one stands
        return self.delay, self.names


def question(query):
    """(question bytes, dotted name, type) of the first question, or None."""
    position = 12
    labels = []
    while position < len(query):
        length = query[position]
        if length == 0:
            end = position + 5
            if end > len(query):
                return None
            kind = struct.unpack_from(">H", query, position + 1)[0]
            return query[12:end], ".".join(labels), kind
        if length > 63:
            return None
        labels.append(query[position + 1:position + 1 + length].decode("ascii", "replace"))
        position += 1 + length
    return None


def encode_name(name):
    return b"".join(bytes([len(p)]) + p.encode("ascii") for p in name.split(".") if p) + b"\0"


def answer(query, config):
    """(delay, response bytes) for a query, or None when it is not one."""
    if len(query) < 12:
        return None
    asked = question(query)
    if asked is None:
        return None
    section, name, kind = asked
    ident = query[:2]
    if kind != PTR or not name.lower().endswith(ARPA_SUFFIX):
        return 0.0, ident + struct.pack(">HHHHH", NO_SUCH_NAME, 1, 0, 0, 0) + section
    octets = name[:-len(ARPA_SUFFIX)].split(".")
    address = ".".join(reversed(octets))
    delay, names = config.current()
    given = names.get(address, "pc-" + "-".join(reversed(octets)))
    if given is None:
        return delay, ident + struct.pack(">HHHHH", NO_SUCH_NAME, 1, 0, 0, 0) + section
    data = encode_name(given)
    record = struct.pack(">HHHIH", 0xC00C, PTR, 1, 0, len(data)) + data
    return delay, ident + struct.pack(">HHHHH", NO_ERROR, 1, 1, 0, 0) + section + record


def main():
    address, config_path = sys.argv[1], sys.argv[2]
    config = Config(config_path)
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind((address, 53))
    print("listening", flush=True)
    while True:
        query, sender = server.recvfrom(512)
        reply = answer(query, config)
        if reply is not None:
            delay, response = reply
            timer = threading.Timer(delay, server.sendto, (response, sender))
            timer.daemon = True
            timer.start()


if __name__ == "__main__":
    main()
