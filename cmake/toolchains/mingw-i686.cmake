# Cross build for 32-bit Windows with Debian's mingw-w64 compilers (posix threads). Test programs
# run under Wine's 32-bit half (wine32:i386) through the same emulator script: the 64-bit loader
# hands a PE32 program to it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ROWFLUME_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh)
