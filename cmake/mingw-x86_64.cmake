# Cross toolchain for the 64-bit Windows build: mingw-w64 x86-64 (SSE2 is
# the architecture's baseline; see mingw-common.cmake for the rest).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
set(MINGW_ARCH_FLAGS "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
