# cmake -DSOURCE_DIR=... -DBUILD_DIR=... -P reproducible.cmake
# Builds PassWord.exe with BUILD_DIR's password options in two folders of
# different names and lengths, and fails unless the two files are the same
# byte for byte.
file(STRINGS ${BUILD_DIR}/CMakeCache.txt options REGEX "^PASSWORD(_MASK)?:STRING=")
set(initial_cache ${BUILD_DIR}/reproducible/options.cmake)
file(WRITE ${initial_cache} "")
foreach(option IN LISTS options)
    string(REGEX MATCH "^([A-Z_]+):STRING=(.*)$" _ "${option}")
    file(APPEND ${initial_cache} "set(${CMAKE_MATCH_1} [=====[${CMAKE_MATCH_2}]=====] CACHE STRING \"\")\n")
endforeach()

set(hashes "")
foreach(folder a bb-somewhat-longer-folder)
    set(dir ${BUILD_DIR}/reproducible/${folder})
    file(REMOVE_RECURSE ${dir})
    execute_process(
        COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${dir} -C ${initial_cache}
                --toolchain ${SOURCE_DIR}/cmake/mingw-i686.cmake
                -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
        OUTPUT_QUIET RESULT_VARIABLE failed)
    if(NOT failed)
        execute_process(COMMAND ${CMAKE_COMMAND} --build ${dir} --target PassWord
                        OUTPUT_QUIET RESULT_VARIABLE failed)
    endif()
    if(failed)
        message(FATAL_ERROR "build in ${dir} failed")
    endif()
    file(SHA256 ${dir}/bin/PassWord.exe hash)
    message(STATUS "${folder}/bin/PassWord.exe: ${hash}")
    list(APPEND hashes ${hash})
endforeach()
list(REMOVE_DUPLICATES hashes)
list(LENGTH hashes distinct)
if(NOT distinct EQUAL 1)
    message(FATAL_ERROR "two builds of the same source differ")
endif()
