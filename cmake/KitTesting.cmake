# GoogleTest for both targets: Debian's package natively, built from /usr/src/googletest
# with the cross compiler for Windows.
if(WIN32)
    if(KIT_CAN_RUN_TESTS)
        set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
        add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
        set(KIT_GTEST_MAIN gtest_main)
        set(KIT_GTEST gtest)
    endif()
else()
    find_package(GTest REQUIRED)
    set(KIT_GTEST_MAIN GTest::gtest_main)
    set(KIT_GTEST GTest::gtest)
endif()

# kit_test(NAME SOURCES... [LIBS ...] [ENV ...]) builds one test program and registers it with
# CTest. On Windows CTest runs it through the Wine emulator script of the tree's width; a test the
# machine cannot run (32-bit programs on a kernel without 32-bit support) counts as skipped.
# A tree without tests (KIT_TESTS off) keeps the target but neither builds nor registers it.
function(kit_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ${T_LIBS} ${KIT_GTEST_MAIN})
    if(NOT KIT_CAN_RUN_TESTS)
        set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
        return()
    endif()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${T_ENV};${KIT_TSAN_OPTIONS}" LABELS "${T_LABELS}" TIMEOUT 600)
    if(WIN32)
        set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
    endif()
endfunction()
