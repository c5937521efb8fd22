"""The shipped programs are 32-bit Windows GUI programs that need nothing beyond Windows itself."""
import os
import pathlib
import re
import subprocess

import pytest

BUILD = pathlib.Path(os.environ.get("VORLEK_WINDOWS_BUILD", "build/windows"))
RELEASE = BUILD / "release"
PROGRAMS = ["VorlekServer.exe", "VorlekClient.exe"]

# DLLs that every Windows installation has.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "shell32.dll", "user32.dll", "ws2_32.dll", "wsock32.dll",
}


@pytest.mark.parametrize("program", PROGRAMS)
def test_program_is_a_32_bit_gui_executable(program):
    description = subprocess.run(["file", "-b", str(RELEASE / program)], capture_output=True,
                                 text=True, check=True).stdout
    assert description.startswith("PE32 executable (GUI) Intel 80386"), description


@pytest.mark.parametrize("program", PROGRAMS)
def test_program_imports_only_system_dlls(program):
    headers = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(RELEASE / program)],
                             capture_output=True, text=True, check=True).stdout
    imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)}
    assert "kernel32.dll" in imported
    assert imported <= SYSTEM_DLLS, imported - SYSTEM_DLLS
