# Windows tests, run under Wine (see cmake/wine-run), one at a time, inside a
# session of their own: a private Xvfb and prefix in ${WINE_DIR}.
set(WINE_DIR ${CMAKE_BINARY_DIR}/wine)

add_test(NAME wine_session_start COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wine-session start ${WINE_DIR})
add_test(NAME wine_session_stop COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wine-session stop ${WINE_DIR})
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine)

function(add_wine_test name)
    add_test(NAME ${name} COMMAND ${ARGN})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine RUN_SERIAL TRUE
                                            ENVIRONMENT LANG=ru_RU.UTF-8)
endfunction()

target_link_options(check_entry_test PRIVATE -static)
add_wine_test(check_entry check_entry_test)

# The scan must find a plainly compared word, or it proves nothing.
add_library(leak_probe OBJECT leak_probe.c)
target_compile_options(leak_probe PRIVATE -O3)
set(probe_dir ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/leak_probe.dir)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(gcc_lib_dir ${libgcc} DIRECTORY)
set(scan ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/scan_password.py)
set(third_party --third-party ${gcc_lib_dir} --third-party ${CMAKE_FIND_ROOT_PATH}/lib
                --third-party ${CMAKE_BINARY_DIR}/googletest)

add_test(NAME no_plain_password
         COMMAND ${scan} ${CMAKE_BINARY_DIR} --skip ${WINE_DIR} --skip ${probe_dir} ${third_party})
add_test(NAME password_scan_finds_a_leak
         COMMAND ${scan} ${probe_dir} --word Qj8%w ${third_party})
set_tests_properties(password_scan_finds_a_leak PROPERTIES WILL_FAIL TRUE)

add_executable(window_test window_test.cpp)
target_link_libraries(window_test PRIVATE shell gtest_main)
target_include_directories(window_test PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_options(window_test PRIVATE -static)
add_wine_test(window window_test)

add_executable(end_to_end_test end_to_end_test.cpp)
target_link_libraries(end_to_end_test PRIVATE gtest_main user32)
target_include_directories(end_to_end_test PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_options(end_to_end_test PRIVATE -static)
add_dependencies(end_to_end_test PassWord)
add_wine_test(end_to_end end_to_end_test)
