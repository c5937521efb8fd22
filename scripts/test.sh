#!/usr/bin/env bash
# Every test of the project, from a fresh Debian 12 machine as root: installs what is missing,
# builds the portable core under AddressSanitizer and UBSan and the Windows programs (32-bit and
# 64-bit), then runs the format check, the unit tests, a short fuzzing pass, the static checks of
# both release folders and the room tests under Wine. The room runs the 32-bit programs where
# this machine executes 32-bit code, the 64-bit ones otherwise (scripts/room_arch.sh).
set -uo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
results="$top/build/test-results"

bash scripts/setup.sh || exit 1
rm -rf "$results"
mkdir -p "$results"
failed_steps=()

step() {
    local name=$1
    shift
    echo "== $name"
    if ! "$@"; then
        failed_steps+=("$name")
    fi
}

build() {
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

format_check() {
    git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run -Werror
}

step "format" format_check
step "native build" build native-asan
step "unit tests" ctest --preset native-asan -j2 --output-junit "$results/unit.xml"
step "windows build" build windows
step "windows-x64 build" build windows-x64
if [ -x scripts/fuzz.sh ]; then
    step "fuzz" bash scripts/fuzz.sh --seconds "${VORLEK_FUZZ_SECONDS:-20}" --junit "$results/fuzz.xml"
fi

room_tests() {
    local arch build
    # A forced architecture that this machine cannot run ends here, with the script's sentence.
    arch=$(bash scripts/room_arch.sh) || return 1
    case $arch in
    win32) build=$top/build/windows ;;
    win64) build=$top/build/windows-x64 ;;
    esac
    build=${VORLEK_WINDOWS_BUILD:-$build}
    echo "room: $arch Wine prefixes, the programs of $build"
    VORLEK_ROOM_ARCH=$arch VORLEK_WINDOWS_BUILD=$build \
        /usr/bin/python3 -m pytest tests -p no:cacheprovider -q --junitxml="$results/room.xml"
}
step "room tests" room_tests

/usr/bin/python3 scripts/summarize_results.py "$results"/*.xml
if [ "${#failed_steps[@]}" -gt 0 ]; then
    echo "failed steps: ${failed_steps[*]}"
    exit 1
fi
