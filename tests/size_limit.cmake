# cmake -DFILE=... -DLIMIT=bytes -P size_limit.cmake
file(SIZE ${FILE} size)
message(STATUS "${FILE}: ${size} bytes")
if(size GREATER LIMIT)
    message(FATAL_ERROR "expected at most ${LIMIT} bytes, got ${size}")
endif()
