#!/usr/bin/env bash
# Prints the Wine architecture of the test room, "win32" or "win64". The room runs the programs
# that ship, the 32-bit ones, wherever this machine executes 32-bit code; where it cannot (a
# kernel whose IA-32 emulation is off), Wine's 32-bit loader cannot start either, and the room
# runs the 64-bit build in 64-bit prefixes. VORLEK_ROOM_ARCH=win32|win64 forces the choice.
#
#   scripts/room_arch.sh                 # prints win32 or win64
#   scripts/room_arch.sh --runs-32-bit   # exit code 0 when this machine executes 32-bit code
set -euo pipefail

# Runs a 32-bit program that only exits, rather than trusting uname: a 64-bit kernel may or may
# not execute 32-bit code, and nothing else tells.
runs_32_bit_code() {
    if ! command -v as >/dev/null || ! command -v ld >/dev/null; then
        echo "room_arch: 'as' and 'ld' are missing (package binutils): run scripts/setup.sh" >&2
        exit 2
    fi
    local folder
    folder=$(mktemp -d)
    printf '.globl _start\n_start:\n\tmovl $1, %%eax\n\txorl %%ebx, %%ebx\n\tint $0x80\n' \
        >"$folder/exit.s"
    local status=0
    as --32 -o "$folder/exit.o" "$folder/exit.s" &&
        ld -m elf_i386 -o "$folder/exit" "$folder/exit.o" &&
        "$folder/exit" 2>/dev/null || status=$?
    rm -rf "$folder"
    return "$status"
}

if [ "${1:-}" = "--runs-32-bit" ]; then
    runs_32_bit_code
    exit
fi

case "${VORLEK_ROOM_ARCH:-}" in
"")
    if runs_32_bit_code; then echo win32; else echo win64; fi
    ;;
win32)
    if ! runs_32_bit_code; then
        echo "VORLEK_ROOM_ARCH=win32, but this machine cannot execute 32-bit programs (its" \
            "kernel's IA-32 emulation is off), so 32-bit Wine cannot start here: leave" \
            "VORLEK_ROOM_ARCH unset or set it to win64." >&2
        exit 1
    fi
    echo win32
    ;;
win64)
    echo win64
    ;;
*)
    echo "VORLEK_ROOM_ARCH is '$VORLEK_ROOM_ARCH'; it takes win32 or win64." >&2
    exit 1
    ;;
esac
