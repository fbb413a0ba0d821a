# cmake -DSOURCE_DIR=... -DBUILD_DIR=... -P reproducible.cmake
# Builds PassWord.exe with BUILD_DIR's password and mask in two folders of
# different names and lengths, and fails unless the two files are the same
# byte for byte.
# The options come back from the masked header, so that a password with
# spaces at either end survives.
file(READ ${BUILD_DIR}/generated/password_masked.h header)
string(REGEX MATCH "PASSWORD_MASK_LITERAL (0x[0-9a-fA-F]+)u" _ "${header}")
math(EXPR mask "${CMAKE_MATCH_1}")
string(REGEX MATCH "MASKED_PASSWORD_LITERALS ([^\n]+)" _ "${header}")
string(REGEX MATCHALL "0x[0-9a-fA-F]+" masked "${CMAKE_MATCH_1}")
set(password "")
foreach(value IN LISTS masked)
    math(EXPR code "${value} ^ ${mask}")
    string(ASCII ${code} character)
    string(APPEND password "${character}")
endforeach()
set(initial_cache ${BUILD_DIR}/reproducible/options.cmake)
file(WRITE ${initial_cache} "set(PASSWORD [=====[${password}]=====] CACHE STRING \"\")\n"
                            "set(PASSWORD_MASK ${mask} CACHE STRING \"\")\n")

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
