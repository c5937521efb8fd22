"""Version information of the programs and installers of the release folder, read from their
version resources as Windows reads them for a file's properties: one version for the whole
build, the project's version."""

import re
import struct
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]

RT_VERSION = 16
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD
COPYRIGHT = "Copyright (C) 2026 The Vorlek developers"


def project_version():
    text = (REPOSITORY / "CMakeLists.txt").read_text()
    return re.search(r"project\(Vorlek VERSION (\d+)\.(\d+)\.(\d+)", text).groups()


def version_resource(data):
    """The bytes of the first RT_VERSION resource of a PE file."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    # The data directories follow the optional header's fields, which PE32+ makes 16 bytes longer.
    directories = {0x10B: 96, 0x20B: 112}[struct.unpack_from("<H", data, optional)[0]]
    resource_rva = struct.unpack_from("<I", data, optional + directories + 2 * 8)[0]
    table = [struct.unpack_from("<8xIIII", data, optional + optional_size + 40 * i)
             for i in range(sections)]

    def offset(rva):
        for size, address, raw_size, raw in table:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise AssertionError(f"RVA {rva:#x} is in no section")

    root = offset(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<12xHH", data, root + directory)
        for i in range(named + numbered):
            yield struct.unpack_from("<II", data, root + directory + 16 + 8 * i)

    def first_leaf(target):
        while target & 0x80000000:
            _, target = next(entries(target & 0x7FFFFFFF))
        rva, size = struct.unpack_from("<II", data, root + target)
        return data[offset(rva):offset(rva) + size]

    for identifier, target in entries(0):
        if identifier == RT_VERSION:
            return first_leaf(target)
    raise AssertionError("no version resource")


def blocks(data, start, end):
    """(key, value bytes, children) of the version blocks between start and end."""
    align = lambda n: (n + 3) & ~3
    while start < end:
        length, value_length, kind = struct.unpack_from("<HHH", data, start)
        key_end = data.index(b"\0\0", start + 6)
        while (key_end - start) % 2:
            key_end = data.index(b"\0\0", key_end + 1)
        key = data[start + 6:key_end].decode("utf-16-le")
        value = align(key_end + 2)
        value_size = value_length * 2 if kind == 1 else value_length
        children = list(blocks(data, align(value + value_size), start + length))
        yield key, data[value:value + value_size], children
        start = align(start + length)


def read_version(path):
    """(fixed file version, fixed product version, {string name: value})."""
    data = version_resource(path.read_bytes())
    (key, value, children), = blocks(data, 0, len(data))
    assert key == "VS_VERSION_INFO"
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", value)
    assert signature == FIXED_FILE_INFO_SIGNATURE
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = {}
    for child_key, _, tables in children:
        if child_key == "StringFileInfo":
            for _, _, entries in tables:
                for name, text, _ in entries:
                    strings[name] = text.decode("utf-16-le").rstrip("\0")
    return split(file_ms, file_ls), split(product_ms, product_ls), strings


@pytest.mark.parametrize("name, description", [
    ("VorlekServer.exe", "Vorlek Server, the operator console"),
    ("VorlekClient.exe", "Vorlek Client, the workstation agent"),
    ("VorlekServer-setup.exe", "Setup of Vorlek Server {}"),
    ("VorlekClient-setup.exe", "Setup of Vorlek Client {}"),
])
def test_every_file_of_the_release_carries_the_project_version(windows_build, name, description):
    path = windows_build / "release" / name
    if not path.exists():
        pytest.fail(f"{path} is missing (is the Windows build done?)")
    major, minor, patch = project_version()
    text = f"{major}.{minor}.{patch}"
    numbers = (int(major), int(minor), int(patch), 0)

    file_version, product_version, strings = read_version(path)

    assert (file_version, product_version) == (numbers, numbers)
    assert strings["FileVersion"] == text
    assert strings["ProductVersion"] == text
    assert strings["ProductName"] == "Vorlek"
    assert strings["FileDescription"] == description.format(text)
    assert strings["LegalCopyright"] == COPYRIGHT
    assert strings["OriginalFilename"] == name
