"""What the agent's room tests share with the other room tests: the stand-in input-lock driver
(installing it and reading what it recorded) and reading pixels of screenshots."""

import shutil
import subprocess

import room as roomlib

DRIVER_FILE = "vorlek_standin.sys"
DRIVER_SERVICE = "vorlekstandin"
# Where the stand-in driver writes one line per request, relative to drive_c.
DRIVER_LOG = "vorlek-device.log"
LOCK_REQUEST = "ioctl 0x00000100 in 0 out 0"
UNLOCK_REQUEST = "ioctl 0x00000200 in 0 out 0"


def install_driver(host):
    """Installs and starts the stand-in driver in the host's prefix."""
    target = host.prefix / "drive_c" / "windows" / "system32" / "drivers" / DRIVER_FILE
    shutil.copyfile(host.room.testbin(DRIVER_FILE), target)
    binary = f"C:\\windows\\system32\\drivers\\{DRIVER_FILE}"
    host.wine("sc", "create", DRIVER_SERVICE, "type=", "kernel", "start=", "demand", "binPath=",
              binary, check=True)
    host.wine("sc", "start", DRIVER_SERVICE, check=True)


def device_log(host):
    path = host.prefix / "drive_c" / DRIVER_LOG
    return path.read_text().splitlines() if path.exists() else []


def wait_for_device_log(host, lines, timeout=10):
    """Waits until the driver has recorded exactly these lines; returns what it recorded."""
    roomlib.wait_until(lambda: device_log(host) == lines, timeout)
    return device_log(host)


def pixel(path, x, y):
    """The (red, green, blue) of one pixel of a screenshot, 8 bits each."""
    text = subprocess.run(["convert", str(path), "-depth", "8", "-format",
                           f"%[fx:int(255*p{{{x},{y}}}.r)] %[fx:int(255*p{{{x},{y}}}.g)] "
                           f"%[fx:int(255*p{{{x},{y}}}.b)]", "info:"],
                          capture_output=True, check=True, timeout=30).stdout.decode()
    return tuple(int(v) for v in text.split())
