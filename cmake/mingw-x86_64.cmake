# 64-bit Windows: the same sources, for machines whose Wine cannot start
# 32-bit programs, and for whoever wants a 64-bit program.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
