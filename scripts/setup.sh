#!/usr/bin/env bash
# Installs what building, testing and the demo need on a Debian 12 machine, as root. Safe to run
# again: it installs only what is missing.
set -euo pipefail

packages=(
    # native core, unit tests and fuzzing
    cmake g++ make clang libclang-rt-14-dev clang-format libgtest-dev libgmock-dev googletest
    # Windows programs
    g++-mingw-w64-i686 binutils-mingw-w64-i686 nsis
    # the test room: Wine in network namespaces on a virtual display
    wine wine32:i386 wine64 xvfb xdotool imagemagick iproute2 util-linux procps
    python3 python3-pytest file
)

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: run as root (apt-get, network namespaces)" >&2
    exit 1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    fresh_architecture=1
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ "${#missing[@]}" -gt 0 ] || [ -n "${fresh_architecture:-}" ]; then
    echo "setup: installing ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        >/dev/null
fi
echo "setup: all packages present"
