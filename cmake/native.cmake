# Native (Linux) build: the platform-free decode core, the j2k2bmp tool, the
# sanitizer-instrumented tests, the benchmark and, with clang, the fuzz target.
option(SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
option(FUZZ "Build the libFuzzer target (clang only)" OFF)

# The codec is built with the same instrumentation as our code, so a fault
# inside it on our inputs is caught too (cmake/deps.cmake).
set(codecFlags "")
string(TOLOWER "${CMAKE_C_COMPILER_ID}" codecFlavour)
if(SANITIZE)
    string(APPEND codecFlags " -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g")
    string(APPEND codecFlavour "-asan")
endif()
if(FUZZ)
    string(APPEND codecFlags " -fsanitize=fuzzer-no-link")
    string(APPEND codecFlavour "-fuzz")
endif()
include(${CMAKE_SOURCE_DIR}/cmake/deps.cmake)
add_codec_deps(native ${codecFlavour} ${CMAKE_C_COMPILER} "${codecFlags}")
# The static codec's own threads.
find_package(Threads REQUIRED)
target_link_libraries(openjp2_dep INTERFACE Threads::Threads m)
target_link_libraries(lcms2_dep INTERFACE Threads::Threads m)

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
    add_subdirectory(decoder)
    add_subdirectory(tools)
    find_package(GTest REQUIRED)
    include(GoogleTest)
    add_subdirectory(tests/common)
    add_subdirectory(tests/decode)
    add_subdirectory(tests/pipeline)
    # Which product folder may include which, and no include cycle.
    add_test(NAME include_layers COMMAND bash ${CMAKE_SOURCE_DIR}/tools/check-layers.sh ${CMAKE_SOURCE_DIR})
    # Each part of the instance record written by its owner file only.
    add_test(NAME record_owners COMMAND bash ${CMAKE_SOURCE_DIR}/tools/check-owners.sh ${CMAKE_SOURCE_DIR})
endif()
