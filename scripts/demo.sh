#!/usr/bin/env bash
# The demo room, from a fresh Debian 12 machine as root: installs what is missing, builds the
# Windows programs, then starts a console and three agents under Wine, each in a host of its
# own, plays a short scripted session and saves screenshots. The room runs until Ctrl+C.
#
#   sudo bash scripts/demo.sh                      # runs until interrupted
#   sudo bash scripts/demo.sh --exit-after-script  # ends by itself after the script
#   sudo bash scripts/demo.sh --shots DIR          # where the screenshots go
#
# With DISPLAY set (and open to root) the programs appear on that display, otherwise on a
# virtual one (Xvfb). The room runs the 32-bit programs (preset windows, build/windows) where this
# machine executes 32-bit code and the 64-bit ones (windows-x64, build/windows-x64) otherwise;
# VORLEK_ROOM_ARCH=win32|win64 forces the choice and VORLEK_WINDOWS_BUILD the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
arch=$(bash scripts/room_arch.sh)
case $arch in
win32) preset=windows ;;
win64) preset=windows-x64 ;;
esac
build=${VORLEK_WINDOWS_BUILD:-build/$preset}
cmake --preset "$preset" -B "$build" >/dev/null
cmake --build "$build" -j2
VORLEK_ROOM_ARCH=$arch exec /usr/bin/python3 scripts/demo_room.py --build "$build" "$@"
