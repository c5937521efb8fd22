# Cross build of the 32-bit Windows programs with MinGW-w64: the programs that ship, since they
# run on every Windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VORLEK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
