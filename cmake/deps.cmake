# The codec every build links: OpenJPEG and LittleCMS built statically from
# Debian's current stable source packages by tools/build-deps.sh into the
# shared deps cache (one folder per library, source version, target and
# flavour), whatever the build: both Windows architectures, native plain,
# native with sanitizers and the fuzzer.
set(DEPS_DIR ${CMAKE_SOURCE_DIR}/build/deps CACHE PATH "Cache of the static codec libraries")

# add_codec_dep(target lib archive includeGlob buildTarget flavour cc cflags):
# an interface target for the static library, its headers under
# include<includeGlob>; the library is built first if the cache lacks it.
function(add_codec_dep target lib archive includeGlob buildTarget flavour cc cflags)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEPS_DIR=${DEPS_DIR} DEPS_CC=${cc} "DEPS_CFLAGS=${cflags}"
            bash ${CMAKE_SOURCE_DIR}/tools/build-deps.sh ${lib} ${buildTarget} ${flavour}
        OUTPUT_VARIABLE out RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "tools/build-deps.sh ${lib} ${buildTarget} ${flavour} failed (${result})")
    endif()
    string(STRIP "${out}" out)
    string(REGEX REPLACE ".*\n" "" prefix "${out}")
    file(READ ${prefix}/.source-version version)
    string(STRIP "${version}" version)
    message(STATUS "${lib} ${version} (${buildTarget} ${flavour}): ${prefix}")
    file(GLOB includeDirs LIST_DIRECTORIES true ${prefix}/include${includeGlob})
    add_library(${target} INTERFACE)
    target_include_directories(${target} SYSTEM INTERFACE ${includeDirs})
    target_link_libraries(${target} INTERFACE ${prefix}/lib/${archive})
endfunction()

# add_codec_deps(buildTarget flavour cc cflags): openjp2_dep and lcms2_dep.
macro(add_codec_deps buildTarget flavour cc cflags)
    add_codec_dep(openjp2_dep openjpeg libopenjp2.a /openjpeg-* ${buildTarget} "${flavour}" "${cc}" "${cflags}")
    # The static library's declarations must not carry dllimport.
    target_compile_definitions(openjp2_dep INTERFACE OPJ_STATIC)
    add_codec_dep(lcms2_dep lcms2 liblcms2.a "" ${buildTarget} "${flavour}" "${cc}" "${cflags}")
endmacro()
