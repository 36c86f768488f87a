# Cross build for 32-bit Windows with Debian's mingw-w64 compilers (posix threads). This machine
# cannot run 32-bit programs, so the build is compiled and its tests are not run here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ROWFLUME_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
