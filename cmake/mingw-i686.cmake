# Cross toolchain for the 32-bit Windows build: mingw-w64 i686 with SSE2 as
# the floating-point baseline (see mingw-common.cmake for the rest).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_PREFIX i686-w64-mingw32)
set(MINGW_ARCH_FLAGS "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
