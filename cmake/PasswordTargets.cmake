# How this project's own targets are made: the options every one of them
# gets (not GoogleTest's), and the judge and the program, which a class set
# makes once per person (PasswordSet.cmake).

# password_code(TARGET...): warnings, and where asked for the sanitizers; for
# Windows programs a link map beside each, which tells the password scan
# where the judge lies.
function(password_code)
    foreach(target IN LISTS ARGN)
        target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra>
                               $<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<BOOL:${WARNINGS_AS_ERRORS}>>:-Werror>)
        get_target_property(type ${target} TYPE)
        if(SANITIZE)
            target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all
                                                     -fno-omit-frame-pointer)
            if(type STREQUAL "EXECUTABLE")
                target_link_options(${target} PRIVATE -fsanitize=address,undefined)
            endif()
        endif()
        if(WIN32 AND type STREQUAL "EXECUTABLE")
            target_link_options(${target} PRIVATE
                                "-Wl,-Map=$<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.map")
        endif()
    endforeach()
endfunction()

# add_entry(NAME DIR): the judge compiled with DIR's masked password. An
# object of its own, linked as it is: no archive for one object.
function(add_entry name dir)
    add_library(${name} OBJECT ${CMAKE_SOURCE_DIR}/entry/check_entry.cpp)
    target_include_directories(${name} PRIVATE ${dir}/generated PUBLIC ${CMAKE_SOURCE_DIR}/entry)
    password_code(${name})
endfunction()

# add_program(NAME ENTRY): PassWord.exe with the judge ENTRY (see add_entry),
# and the shell, handler and resource that every password shares.
function(add_program name entry)
    add_executable(${name} WIN32)
    target_link_libraries(${name} PRIVATE shell version_resource entry_handler ${entry})
    # Needs only system DLLs; no unused sections, and no symbols but in Debug.
    # Windows Vista (6.0) or later, whichever linker writes the header.
    target_link_options(${name} PRIVATE -static -Wl,--gc-sections $<$<NOT:$<CONFIG:Debug>>:-s>
                        -Wl,--major-os-version=6,--minor-os-version=0,--major-subsystem-version=6,--minor-subsystem-version=0)
    # The same bytes from every build: the link time stamp is zero, or
    # SOURCE_DATE_EPOCH where GNU ld is given one at configure time.
    if(DEFINED ENV{SOURCE_DATE_EPOCH} AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        set_property(TARGET ${name} PROPERTY CXX_LINKER_LAUNCHER
                     ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=$ENV{SOURCE_DATE_EPOCH})
    else()
        target_link_options(${name} PRIVATE -Wl,--no-insert-timestamp)
    endif()
    password_code(${name})
endfunction()
