# Windows tests, run under Wine (see cmake/wine-run), one at a time, inside a
# session of their own: a private Xvfb and prefix in ${WINE_DIR}. A 32-bit
# session first learns whether this machine's Wine can start a 32-bit
# program; where it cannot, the tests that would start one are skipped.
set(WINE_DIR ${CMAKE_BINARY_DIR}/wine)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(wine_arch win64)
else()
    set(wine_arch win32)
endif()

add_test(NAME wine_session_start COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-session start ${WINE_DIR} ${wine_arch})
add_test(NAME wine_session_stop COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-session stop ${WINE_DIR})
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine)

# A test that starts a Windows program; skipped (exit code 77 from wine-run)
# where the session cannot start it.
function(add_wine_test name)
    add_executable(${name}_test ${name}_test.cpp)
    target_link_libraries(${name}_test PRIVATE gtest_main ${ARGN})
    target_link_options(${name}_test PRIVATE -static)
    password_code(${name}_test)
    add_test(NAME ${name} COMMAND ${name}_test)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine RUN_SERIAL TRUE TIMEOUT 300 SKIP_RETURN_CODE 77
                                            ENVIRONMENT "LC_ALL=ru_RU.UTF-8;${PASSWORD_TEST_ENVIRONMENT}")
endfunction()

add_wine_test(check_entry entry)
add_wine_test(start shell entry_handler entry)
add_wine_test(end_to_end program_driver)
add_dependencies(end_to_end_test PassWord)

set(probe_dir ${CMAKE_CURRENT_BINARY_DIR}/leak_probe)
set(probe_objects ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/leak_probe.dir)
add_test(NAME no_plain_password
         COMMAND ${PASSWORD_SCAN} ${CMAKE_BINARY_DIR} "${PASSWORD_HOLDERS}"
                 --skip ${WINE_DIR} --skip ${probe_dir} --skip ${probe_objects}
         COMMAND_EXPAND_LISTS)

# The scan must find a plainly compared word, in an object and through a
# link map in an executable, or it proves nothing.
add_executable(leak_probe leak_probe.c)
target_compile_options(leak_probe PRIVATE -O3)
password_code(leak_probe)
set_target_properties(leak_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${probe_dir})
add_test(NAME password_scan_finds_a_leak
         COMMAND ${PASSWORD_SCAN} ${probe_dir} ${probe_objects} --holder $<TARGET_OBJECTS:leak_probe> --word Qj8%w)
set_tests_properties(password_scan_finds_a_leak PROPERTIES
                     PASS_REGULAR_EXPRESSION "FOUND: [^\n]*leak_probe.exe[^\n]* from leak_probe.c.obj.*FOUND: [^\n]*leak_probe.c.obj")

# A listing in another language is not read as one without the password.
add_test(NAME password_scan_refuses_a_listing_it_cannot_read
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/refused.sh 2 "scan_password: cannot scan: "
                 ${PASSWORD_SCAN} ${probe_dir} ${probe_objects} --holder $<TARGET_OBJECTS:leak_probe> --word Qj8%w
                 --objdump ${CMAKE_CURRENT_SOURCE_DIR}/russian_objdump.sh)

add_test(NAME program_file
         COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${GNU_OBJDUMP} -DFILE=$<TARGET_FILE:PassWord> -DLIMIT=20480
                 -DBITS=${CMAKE_SIZEOF_VOID_P} -P ${CMAKE_CURRENT_SOURCE_DIR}/program_file.cmake)

# The checks that read files and tools' output; scripts/test runs them again
# in a translated locale.
set_tests_properties(no_plain_password password_scan_finds_a_leak password_scan_refuses_a_listing_it_cannot_read
                     program_file PROPERTIES LABELS files)

# Ctrl+C at any moment leaves no Xvfb behind: once, with the 64-bit loader
# that every machine has.
if(wine_arch STREQUAL win64)
    add_test(NAME wine_session_ends_with_its_owner
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/wine_session_test.sh ${CMAKE_BINARY_DIR}/wine-owner)
    set_tests_properties(wine_session_ends_with_its_owner PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
endif()

# What follows is about the program that is handed out: 32-bit.
if(NOT wine_arch STREQUAL win32)
    return()
endif()

# Same source, same options, another folder: the same PassWord.exe.
file(WRITE ${CMAKE_BINARY_DIR}/reproducible/options.cmake
     "set(PASSWORD [=====[${PASSWORD}]=====] CACHE STRING \"\")\nset(PASSWORD_MASK ${PASSWORD_MASK} CACHE STRING \"\")\n")
add_test(NAME reproducible_build
         COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DBUILD_DIR=${CMAKE_BINARY_DIR}
                 -DTOOLCHAIN=${CMAKE_TOOLCHAIN_FILE} -P ${CMAKE_CURRENT_SOURCE_DIR}/reproducible.cmake)

# scripts/class-set builds with the release preset, that is with GCC. These
# work the organiser's tools with the real compilers, Wine and a browser; the
# in-process tests of the same tools run in the host build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_pytest(class_set class_set_test.py SELECT TestClassSet)
    set_tests_properties(class_set PROPERTIES FIXTURES_REQUIRED wine RUN_SERIAL TRUE TIMEOUT 600
                                              ENVIRONMENT WINE_SESSION=${WINE_DIR})
    # Programs written from templates against the release build; a leaking judge.
    add_pytest(class_set_template template_test.py)
    # Two small sets from rosters in other encodings: quick enough to run in every locale.
    add_pytest(class_set_builds class_set_test.py SELECT TestBuilds)
    add_pytest(class_set_careless class_set_test.py SELECT TestCareless)
    set_tests_properties(class_set_template class_set_builds class_set_careless PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)
    set_tests_properties(class_set_builds PROPERTIES LABELS files)
    # The check-in page for real: a browser, builds while it runs, walk-ins.
    add_pytest(check_in_page serve_test.py SKIP ${NO_BROWSER})
    set_tests_properties(check_in_page PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
endif()
