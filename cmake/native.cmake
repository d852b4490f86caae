# Native (Linux) build: the platform-free decode core, the j2k2bmp tool, the
# sanitizer-instrumented tests, the benchmark and, with clang, the fuzz target.
find_package(PkgConfig REQUIRED)
pkg_check_modules(OPENJP2 REQUIRED IMPORTED_TARGET libopenjp2)

# One name for the codec whatever the build: the Windows build defines the same.
add_library(openjp2_dep INTERFACE)
target_link_libraries(openjp2_dep INTERFACE PkgConfig::OPENJP2)
pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)
add_library(lcms2_dep INTERFACE)
target_link_libraries(lcms2_dep INTERFACE PkgConfig::LCMS2)

option(SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
option(FUZZ "Build the libFuzzer target (clang only)" OFF)

if(SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
add_compile_options(-Wall -Wextra)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()

if(FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "FUZZ=ON needs clang (configure with CC=clang CXX=clang++)")
    endif()
    # Coverage feedback for everything the fuzzer reaches in our code.
    add_compile_options(-fsanitize=fuzzer-no-link)
    add_subdirectory(decode)
    add_subdirectory(tests/fuzz)
else()
    add_subdirectory(decode)
    add_subdirectory(tools)
    find_package(GTest REQUIRED)
    include(GoogleTest)
    add_subdirectory(tests/common)
    add_subdirectory(tests/decode)
    # Which product folder may include which, and no include cycle.
    add_test(NAME include_layers COMMAND bash ${CMAKE_SOURCE_DIR}/tools/check-layers.sh ${CMAKE_SOURCE_DIR})
endif()
