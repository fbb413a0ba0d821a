# The same cross-build with Clang and lld, on the MinGW-w64 headers and
# libraries that GCC's cross compiler brings.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)

# libstdc++ and libgcc come from GCC's MinGW folder; the posix thread model's
# libgcc needs winpthread, which Clang's driver does not add.
file(GLOB gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/i686-w64-mingw32/*-posix)
if(NOT gcc_dirs)
    message(FATAL_ERROR "No MinGW-w64 GCC (posix threads) in /usr/lib/gcc/i686-w64-mingw32: "
                        "install g++-mingw-w64-i686 (bash scripts/setup)")
endif()
# The newest, where several are installed.
list(SORT gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET gcc_dirs 0 gcc_dir)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${gcc_dir}/include/c++ -isystem ${gcc_dir}/include/c++/i686-w64-mingw32")
# lld finds a symbol in any archive of the command line, whatever the order.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${gcc_dir} -lpthread")
