"""Both release folders hold Windows GUI programs and installers that need nothing beyond
Windows itself: the 32-bit ones (build/windows), which run on every Windows, and the 64-bit ones
(build/windows-x64). The test command builds both."""
import pathlib
import re
import subprocess

import pytest

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
# Build folder, what `file` says of its programs, and the objdump that reads them.
BUILDS = {
    "windows": ("PE32 executable (GUI) Intel 80386", "i686-w64-mingw32-objdump"),
    "windows-x64": ("PE32+ executable (GUI) x86-64", "x86_64-w64-mingw32-objdump"),
}
FILES = ["VorlekServer.exe", "VorlekClient.exe", "VorlekServer-setup.exe", "VorlekClient-setup.exe"]
RELEASES = [(build, name) for build in BUILDS for name in FILES]

# DLLs that every Windows installation has, from Windows 2000 on (crypt32.dll for the room key's
# DPAPI); bcrypt.dll, missing before Vista, is loaded by its path only under /orders=signed.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "gdi32.dll", "kernel32.dll",
    "msvcrt.dll", "ole32.dll", "shell32.dll", "user32.dll", "ws2_32.dll", "wsock32.dll",
}


def release_file(build, name):
    path = REPOSITORY / "build" / build / "release" / name
    if not path.exists():
        pytest.fail(f"{path} is missing: build the {build} preset first")
    return path


@pytest.mark.parametrize("build, name", RELEASES)
def test_release_file_is_a_gui_executable_of_its_build(build, name):
    description = subprocess.run(["file", "-b", release_file(build, name)], capture_output=True,
                                 text=True, check=True).stdout
    assert description.startswith(BUILDS[build][0]), description


@pytest.mark.parametrize("build, name", RELEASES)
def test_release_file_imports_only_system_dlls(build, name):
    headers = subprocess.run([BUILDS[build][1], "-p", release_file(build, name)],
                             capture_output=True, text=True, check=True).stdout
    imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)}
    assert "kernel32.dll" in imported
    assert imported <= SYSTEM_DLLS, imported - SYSTEM_DLLS


# The platform in the summary of each build's MSI packages.
PACKAGE_PLATFORMS = {"windows": "Intel;1033", "windows-x64": "x64;1033"}


@pytest.mark.parametrize("build", BUILDS)
@pytest.mark.parametrize("name", ["VorlekServer.msi", "VorlekClient.msi"])
def test_package_is_of_its_build_and_carries_the_programs_version(build, name):
    path = release_file(build, name)
    summary = subprocess.run(["msiinfo", "suminfo", path], capture_output=True, text=True,
                             check=True).stdout
    assert f"Template: {PACKAGE_PLATFORMS[build]}\n" in summary
    properties = subprocess.run(["msiinfo", "export", path, "Property"], capture_output=True,
                                text=True, check=True).stdout
    assert "ProductVersion\t1.0.0\n" in properties
