# Cross build of the 64-bit Windows programs with MinGW-w64, from the same sources: for 64-bit
# Windows, and for test rooms on machines that cannot execute 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VORLEK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
