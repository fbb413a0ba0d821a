# cmake -DSOURCE_DIR=... -DBUILD_DIR=... -DTOOLCHAIN=... -P reproducible.cmake
# Builds PassWord.exe with BUILD_DIR's options in two folders of different
# names and lengths; they must give the same bytes.
set(hashes "")
foreach(folder a bb-somewhat-longer-folder)
    set(dir ${BUILD_DIR}/reproducible/${folder})
    file(REMOVE_RECURSE ${dir})
    execute_process(
        COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${dir} -C ${BUILD_DIR}/reproducible/options.cmake
                --toolchain ${TOOLCHAIN} -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${dir} --target PassWord
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(SHA256 ${dir}/bin/PassWord.exe hash)
    message(STATUS "${folder}/bin/PassWord.exe: ${hash}")
    list(APPEND hashes ${hash})
endforeach()
list(REMOVE_DUPLICATES hashes)
list(LENGTH hashes distinct)
if(NOT distinct EQUAL 1)
    message(FATAL_ERROR "two builds of the same source differ")
endif()
