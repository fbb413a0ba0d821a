# The command that looks for the plain password in a build (see
# tools/scan_password.py), with the third-party libraries it may forgive, and
# the objects compiled with the masked password.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
# The scan and the tests read GNU objdump's listings, whichever compiler built.
find_program(GNU_OBJDUMP NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objdump objdump REQUIRED)
# The toolchain's own libraries: the compiler's MinGW link folders.
set(third_party ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES})
list(FILTER third_party INCLUDE REGEX "mingw32")
list(TRANSFORM third_party PREPEND "--third-party;")
set(PASSWORD_SCAN ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/scan_password.py --objdump ${GNU_OBJDUMP}
    ${third_party} --third-party ${CMAKE_BINARY_DIR}/googletest)
# Quote it where used: it is one generator expression that expands to a list.
set(PASSWORD_HOLDERS "--holder;$<JOIN:$<TARGET_OBJECTS:entry>,;--holder;>")
