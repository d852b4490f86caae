# Windows build (mingw-w64, see cmake/mingw-<arch>.cmake): OpenJPEG and
# LittleCMS from the shared deps cache, the decode core, plugin_core, the resources,
# npkavrel.dll, the test browser, GoogleTest and the tests that run under Wine.
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE Release)
endif()

# Every program and the DLL side by side, so tests find npkavrel.dll next to
# themselves and the test browser can be pointed at it by a short path.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

set(WINE_RUN ${CMAKE_SOURCE_DIR}/tools/wine-run.sh)
set(NPKAVREL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)

# --- OpenJPEG and LittleCMS, linked statically (cmake/deps.cmake).
set(WINDOWS_ARCH ${CMAKE_SYSTEM_PROCESSOR} CACHE STRING "Windows architecture of the deps (i686 or x86_64)")
include(${CMAKE_SOURCE_DIR}/cmake/deps.cmake)
add_codec_deps(${WINDOWS_ARCH} "" "" "")

# --- GoogleTest, cross-built from Debian's sources (before our warning flags).
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_compile_options(-Wall -Wextra)
# std::min/std::max stay usable next to <windows.h>.
add_compile_definitions(NOMINMAX)

# --- Code of the plug-in.
add_subdirectory(decode)
add_subdirectory(decoder)

add_library(plugin_core STATIC)
target_include_directories(plugin_core PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(plugin_core PUBLIC decode job_protocol user32 gdi32 comdlg32 advapi32 shell32 kernel32)
foreach(subsystem host window commands)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${subsystem}/CMakeLists.txt)
        add_subdirectory(${subsystem})
    endif()
endforeach()

add_library(plugin_resources OBJECT ${CMAKE_SOURCE_DIR}/resources/npkavrel.rc)
target_include_directories(plugin_resources PRIVATE ${CMAKE_SOURCE_DIR}/resources)
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/npkavrel.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/dialogs.rc;${CMAKE_SOURCE_DIR}/resources/resource_ids.h")

# The .def names the i686 stdcall symbols (name@bytes); x86-64 has one
# calling convention and no decoration, so its copy drops the "= name@N".
set(NPKAVREL_DEF ${CMAKE_SOURCE_DIR}/host/npkavrel.def)
if(NOT WINDOWS_ARCH STREQUAL "i686")
    file(READ ${NPKAVREL_DEF} defText)
    string(REGEX REPLACE " = [A-Za-z_]+@[0-9]+" "" defText "${defText}")
    set(NPKAVREL_DEF ${CMAKE_BINARY_DIR}/npkavrel.def)
    file(WRITE ${NPKAVREL_DEF} "${defText}")
endif()
add_library(npkavrel SHARED ${CMAKE_SOURCE_DIR}/host/dll_main.cpp ${NPKAVREL_DEF})
set_target_properties(npkavrel PROPERTIES PREFIX "" OUTPUT_NAME npkavrel)
# Every object of plugin_core goes in, whether or not the entry file names it.
target_link_libraries(npkavrel PRIVATE -Wl,--whole-archive plugin_core -Wl,--no-whole-archive
    plugin_core plugin_resources)
# The decoder process ships beside the DLL: whatever builds the plug-in builds it.
add_dependencies(plugin_core npkavrel-decoder)
# The shipped DLL carries no symbol table.
target_link_options(npkavrel PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)

# --- Test browser.
add_subdirectory(tools/testbrowser)

# --- Installer of both architectures (needs Debian's nsis).
find_program(MAKENSIS makensis)
if(WINDOWS_ARCH STREQUAL "i686" AND MAKENSIS)
    add_subdirectory(installer)
endif()

# add_wine_test(NAME name SOURCES file... [LIBS lib...] [JAPANESE])
# A GoogleTest program run by CTest through tools/wine-run.sh; JAPANESE runs
# it in the ja_JP.UTF-8 locale, where Wine reports language 1041 and code
# page 932.
function(add_wine_test)
    cmake_parse_arguments(WT "JAPANESE" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${WT_NAME} ${WT_SOURCES})
    target_link_libraries(${WT_NAME} PRIVATE ${WT_LIBS} gtest_main)
    add_test(NAME ${WT_NAME} COMMAND ${WT_NAME} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set(environment "WINEPREFIX=${NPKAVREL_WINEPREFIX}")
    if(WT_JAPANESE)
        list(APPEND environment "LC_ALL=ja_JP.UTF-8" "LANG=ja_JP.UTF-8")
    else()
        list(APPEND environment "LC_ALL=C.UTF-8" "LANG=C.UTF-8")
    endif()
    set_tests_properties(${WT_NAME} PROPERTIES ENVIRONMENT "${environment}" TIMEOUT 120)
endfunction()

add_subdirectory(tests/common)
add_subdirectory(tests/win)
