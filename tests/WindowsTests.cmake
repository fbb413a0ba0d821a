# Windows tests, run under Wine (see cmake/wine-run), one at a time, inside a
# session of their own: a private Xvfb and prefix in ${WINE_DIR}.
set(WINE_DIR ${CMAKE_BINARY_DIR}/wine)

add_test(NAME wine_session_start COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-session start ${WINE_DIR})
add_test(NAME wine_session_stop COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-session stop ${WINE_DIR})
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine)

function(add_wine_test name)
    add_test(NAME ${name} COMMAND ${ARGN})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine RUN_SERIAL TRUE
                                            ENVIRONMENT "LANG=ru_RU.UTF-8;${PASSWORD_TEST_ENVIRONMENT}")
endfunction()

target_link_options(check_entry_test PRIVATE -static)
add_wine_test(check_entry check_entry_test)

# The scan must find a plainly compared word, in an object and through a
# link map in an executable, or it proves nothing.
set(probe_dir ${CMAKE_CURRENT_BINARY_DIR}/leak_probe)
add_executable(leak_probe leak_probe.c)
target_compile_options(leak_probe PRIVATE -O3)
set_target_properties(leak_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${probe_dir})
target_link_options(leak_probe PRIVATE -Wl,-Map=${probe_dir}/leak_probe.map)

add_test(NAME no_plain_password
         COMMAND ${PASSWORD_SCAN} ${CMAKE_BINARY_DIR} "${PASSWORD_HOLDERS}"
                 --skip ${WINE_DIR} --skip ${probe_dir} --skip ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/leak_probe.dir
         COMMAND_EXPAND_LISTS)
add_test(NAME password_scan_finds_a_leak
         COMMAND ${PASSWORD_SCAN} ${CMAKE_CURRENT_BINARY_DIR} --holder $<TARGET_OBJECTS:leak_probe> --word Qj8%w
                 --skip ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/window_test.dir
                 --skip ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/end_to_end_test.dir
                 --skip ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/check_entry_test.dir)
set_tests_properties(password_scan_finds_a_leak PROPERTIES
                     PASS_REGULAR_EXPRESSION "FOUND: [^\n]*leak_probe.c.obj.*FOUND: [^\n]*leak_probe.exe[^\n]* from leak_probe.c.obj")

add_executable(window_test window_test.cpp)
target_link_libraries(window_test PRIVATE shell gtest_main)
target_link_options(window_test PRIVATE -static)
add_wine_test(window window_test)

add_executable(end_to_end_test end_to_end_test.cpp)
target_link_libraries(end_to_end_test PRIVATE gtest_main user32 psapi version)
target_compile_definitions(end_to_end_test PRIVATE PROJECT_VERSION_TEXT="${PROJECT_VERSION}"
                           PROJECT_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} PROJECT_VERSION_MINOR=${PROJECT_VERSION_MINOR})
target_link_options(end_to_end_test PRIVATE -static)
add_dependencies(end_to_end_test PassWord)
add_wine_test(end_to_end end_to_end_test)
add_wine_test(end_to_end_double_byte end_to_end_test --gtest_filter=*DoubleByte*)
set_property(TEST end_to_end_double_byte APPEND PROPERTY ENVIRONMENT LANG=ja_JP.UTF-8)

# Same source, same options, another folder: the same PassWord.exe.
add_test(NAME reproducible_build
         COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DBUILD_DIR=${CMAKE_BINARY_DIR} -P ${CMAKE_CURRENT_SOURCE_DIR}/reproducible.cmake)

add_test(NAME system_dlls_only
         COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DFILE=$<TARGET_FILE:PassWord>
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/imports.cmake)

# Small enough to hand out.
add_test(NAME small_executable
         COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:PassWord> -DLIMIT=20480
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/size_limit.cmake)
