# Helpers shared by the folder CMakeLists. Sources are globbed per folder so that
# adding a file to a subsystem needs no edit here.

# ostrix_sources(<var> <dir> [EXCLUDE <file>...]): every .cpp below <dir>.
function(ostrix_sources var dir)
    cmake_parse_arguments(ARG "" "" "EXCLUDE" ${ARGN})
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
    foreach(ex IN LISTS ARG_EXCLUDE)
        list(FILTER found EXCLUDE REGEX "${ex}$")
    endforeach()
    set(${var} ${found} PARENT_SCOPE)
endfunction()

# ostrix_test_binary(<name> <dir> LIBS <lib>... [OWN_NETWORK] [RESOURCE_LOCK <lock>] [TIMEOUT <s>])
# One GoogleTest binary per test folder; every test case becomes a CTest test.
# A test binary whose tests run each in a network of their own (OWN_NETWORK) runs them side
# by side; where no network namespace can be had (or under an emulator) they take the lock
# of the fixed UDP ports instead.
set(OSTRIX_OWN_NETWORK ${CMAKE_SOURCE_DIR}/tests/support/own-network.sh)
if(NOT CMAKE_CROSSCOMPILING)
    execute_process(COMMAND ${OSTRIX_OWN_NETWORK} true RESULT_VARIABLE own_network_status
        OUTPUT_QUIET ERROR_QUIET)
endif()
if(NOT CMAKE_CROSSCOMPILING AND own_network_status EQUAL 0)
    set(OSTRIX_HAVE_OWN_NETWORK ON)
else()
    set(OSTRIX_HAVE_OWN_NETWORK OFF)
endif()

# ostrix_test_code(<target>): tests are glue around the product's libraries, which keep
# their optimisation and every sanitizer. Optimising the tests' own code (GoogleTest's
# templates) would triple the suite's compile time for no speed that counts, and the
# undefined-behaviour checks on it would add half again; AddressSanitizer stays, as the
# tests hand the product their buffers.
function(ostrix_test_code target)
    target_compile_options(${target} PRIVATE -O0)
    if(OSTRIX_SANITIZE)
        target_compile_options(${target} PRIVATE -fno-sanitize=undefined)
    endif()
endfunction()

function(ostrix_test_binary name dir)
    cmake_parse_arguments(ARG "OWN_NETWORK" "RESOURCE_LOCK;TIMEOUT" "LIBS" ${ARGN})
    file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
    if(NOT srcs)
        return()
    endif()
    add_executable(${name} ${srcs})
    ostrix_test_code(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} ostrix_testsupport GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    set(props ENVIRONMENT OSTRIX_PLATFORM=sim)
    # The unit tests (`ctest -L unit`) are what a cross build runs under emulation.
    if(name MATCHES "^unit_")
        list(APPEND props LABELS unit)
    endif()
    if(ARG_OWN_NETWORK AND OSTRIX_HAVE_OWN_NETWORK)
        set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR ${OSTRIX_OWN_NETWORK})
    elseif(ARG_OWN_NETWORK)
        list(APPEND props RESOURCE_LOCK udp_ports)
    endif()
    if(ARG_RESOURCE_LOCK)
        list(APPEND props RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
        PROPERTIES ${props} TIMEOUT ${ARG_TIMEOUT})
endfunction()

# ostrix_program_launchers(<dir> <program>...): in a cross build whose programs run under an
# emulator, one shell script per program in <dir> that starts it under the emulator. Tests
# and scripts start programs by path (and programs start each other through the shell),
# which the PC's kernel can only do for its own architecture; the scripts stand in for the
# programs there.
function(ostrix_program_launchers dir)
    foreach(program IN LISTS ARGN)
        if(TARGET ${program})
            list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
            file(GENERATE OUTPUT ${dir}/${program}
                CONTENT "#!/bin/sh\nexec ${emulator} '$<TARGET_FILE:${program}>' \"$@\"\n"
                FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                 WORLD_READ WORLD_EXECUTE)
        endif()
    endforeach()
endfunction()

# ostrix_system_test(<name> TIMEOUT <s> [COST <s>] [ENVIRONMENT <var=value>...] COMMAND <cmd>...):
# a test script that runs both programs. It runs in a network of its own where one can be
# had, beside the other tests; elsewhere it takes the lock of the fixed UDP ports. COST is
# its expected run time: the long runs start first, so they do not end the suite alone.
function(ostrix_system_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT;COST" "ENVIRONMENT;COMMAND" ${ARGN})
    if(OSTRIX_HAVE_OWN_NETWORK)
        add_test(NAME ${name} COMMAND ${OSTRIX_OWN_NETWORK} ${ARG_COMMAND})
    else()
        add_test(NAME ${name} COMMAND ${ARG_COMMAND})
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK udp_ports)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
    if(ARG_COST)
        set_tests_properties(${name} PROPERTIES COST ${ARG_COST})
    endif()
    if(ARG_ENVIRONMENT)
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
    endif()
endfunction()
