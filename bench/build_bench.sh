#!/bin/sh
# Builds the benchmark VorlekServer.exe and VorlekClient.exe of a source tree into a build folder:
# the programs of the windows preset, with the engine's one-second work, datagram handling and
# discovery wrapped by tick_timer.cpp at link time (ld --wrap), so that any commit can be measured
# without changing its sources. The programs are of the room's architecture (scripts/room_arch.sh):
# i686 where this machine executes 32-bit code, x86_64 otherwise, with this tree's toolchain
# files, so that a source tree from before the x86_64 build is measured the same way.
#   bench/build_bench.sh SOURCE_TREE BUILD_FOLDER
set -eu
source_tree=$(realpath "$1")
build=$(realpath -m "$2")
bench=$(dirname "$(realpath "$0")")
case $(bash "$bench/../scripts/room_arch.sh") in
win32) triple=i686-w64-mingw32 ;;
win64) triple=x86_64-w64-mingw32 ;;
esac

mkdir -p "$build/bench-probe"
$triple-g++ -std=c++20 -O2 -Wall -Wextra -Werror -D_WIN32_WINNT=0x0602 \
    -c "$bench/tick_timer.cpp" -o "$build/bench-probe/tick_timer.o"
rm -f "$build/bench-probe/libvorlek_bench_probe.a"
$triple-ar rcs "$build/bench-probe/libvorlek_bench_probe.a" "$build/bench-probe/tick_timer.o"
# The platform's own costs of the console's row work, measured without the console.
$triple-g++ -std=c++20 -O2 -Wall -Wextra -Werror -D_WIN32_WINNT=0x0602 -static -mwindows \
    "$bench/platform_costs.cpp" -o "$build/bench-probe/vorlek-platform-costs.exe" -lws2_32

wrap=""
for symbol in _ZN6vorlek6Server11OnTimerTickEv _ZN6vorlek6Server14HandleDatagramEv \
    _ZN6vorlek6Server8DiscoverEv _ZN6vorlek6Server8ReselectEv; do
    wrap="$wrap -Wl,--wrap=$symbol"
done
# The programs link the probe through the standard libraries, which make no dependency.
rm -f "$build/release/VorlekServer.exe" "$build/release/VorlekClient.exe"
cd "$source_tree"
cmake --preset windows -B "$build" -DCMAKE_TOOLCHAIN_FILE="$bench/../cmake/$triple.cmake" \
    -DCMAKE_EXE_LINKER_FLAGS="$wrap" \
    -DCMAKE_CXX_STANDARD_LIBRARIES="$build/bench-probe/libvorlek_bench_probe.a" >/dev/null
cmake --build "$build" -j2 --target VorlekServer VorlekClient VorlekProbe vorlek_standin_driver \
    vorlek_lock_picture
