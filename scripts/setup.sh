#!/usr/bin/env bash
# Installs what building, testing and the demo need on a Debian 12 machine, as root. Safe to run
# again: it installs only what is missing.
#
# Wine's 32-bit half (wine32:i386) is installed only where the machine executes 32-bit code.
# Where it cannot, wine32 must be absent: while it is installed, `wine` and `wineboot` pick its
# loader, which cannot start, instead of the 64-bit one.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    # native core, unit tests and fuzzing
    cmake g++ make binutils clang libclang-rt-14-dev clang-format libgtest-dev libgmock-dev
    googletest
    # Windows programs, 32-bit and 64-bit
    g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 nsis
    # the MSI packages: wixl builds them, msibuild marks the components that keep the operator's files
    wixl msitools
    # the test room: Wine in network namespaces on a virtual display
    wine wine64 xvfb xdotool imagemagick iproute2 util-linux procps python3 python3-pytest file
    # signatures checked by code that shares nothing with the programs
    python3-cryptography
)

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: run as root (apt-get, network namespaces)" >&2
    exit 1
fi

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

updated=""
install() {
    echo "setup: installing $*"
    if [ -z "$updated" ]; then
        apt-get update -qq
        updated=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    install "${missing[@]}"
fi

if bash scripts/room_arch.sh --runs-32-bit; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        updated=""
    fi
    installed wine32:i386 || install wine32:i386
    echo "setup: all packages present; this machine runs 32-bit code (32-bit Wine installed)"
else
    if installed wine32:i386; then
        echo "setup: removing wine32:i386: this machine cannot execute 32-bit code"
        DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq wine32:i386 >/dev/null
    fi
    echo "setup: all packages present; this machine cannot execute 32-bit code (64-bit Wine only)"
fi
