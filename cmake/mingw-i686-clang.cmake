# The same cross-build with Clang and lld, on the MinGW-w64 headers and
# libraries that GCC's cross compiler brings.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)

# libstdc++ and libgcc come from GCC's MinGW folder; the posix thread model's
# libgcc needs winpthread, which Clang's driver does not add.
set(gcc_dir /usr/lib/gcc/i686-w64-mingw32/12-posix)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${gcc_dir}/include/c++ -isystem ${gcc_dir}/include/c++/i686-w64-mingw32")
# lld finds a symbol in any archive of the command line, whatever the order.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${gcc_dir} -lpthread")
