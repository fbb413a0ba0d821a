# The command that looks for the plain password in a build (see
# tools/scan_password.py), with the third-party libraries it may forgive, and
# the objects compiled with the masked password.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(gcc_lib_dir ${libgcc} DIRECTORY)

set(PASSWORD_SCAN ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/scan_password.py --objdump ${CMAKE_OBJDUMP}
    --third-party ${gcc_lib_dir} --third-party ${CMAKE_FIND_ROOT_PATH}/lib
    --third-party ${CMAKE_BINARY_DIR}/googletest)
# Quote it where used: it is one generator expression that expands to a list.
set(PASSWORD_HOLDERS "--holder;$<JOIN:$<TARGET_OBJECTS:entry>,;--holder;>")
