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
# virtual one (Xvfb). VORLEK_WINDOWS_BUILD chooses the build folder (default build/windows).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
build=${VORLEK_WINDOWS_BUILD:-build/windows}
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" -j2
exec /usr/bin/python3 scripts/demo_room.py --build "$build" "$@"
