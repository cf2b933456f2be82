# GoogleTest comes from the Debian sources in /usr/src/googletest, built with the same compiler and
# flags as the code under test (native, sanitizer and mingw builds alike).
set(Q417_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${Q417_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

include(GoogleTest)

# q417_add_test(<name> SOURCES <files...> LIBS <targets...> [THREADS])
#
# Natively every GoogleTest case becomes its own ctest test. Under Wine each process start costs a
# second or more, so there each executable is one ctest test that runs all its cases.
# THREADS marks tests that use real threads: the ThreadSanitizer build runs those (label "threads").
function(q417_add_test name)
    cmake_parse_arguments(ARG "THREADS" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    set(labels unit)
    if(ARG_THREADS)
        set(labels threads)
    endif()
    if(CMAKE_CROSSCOMPILING)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES
            LABELS "${labels}"
            ENVIRONMENT "Q417_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix"
            TIMEOUT 600)
    else()
        gtest_discover_tests(${name} PROPERTIES LABELS "${labels}" DISCOVERY_TIMEOUT 60)
    endif()
endfunction()
