# One PassWord.exe per line of PASSWORD_SET ("ID PASSWORD MASK"), written by
# tools/class_set.py: in set/ID/, each scanned for its own password as soon
# as it is linked. Only the judge is compiled per program.
file(STRINGS ${PASSWORD_SET} people)
set(programs "")
foreach(person IN LISTS people)
    string(REPLACE " " ";" fields "${person}")
    list(GET fields 0 id)
    list(GET fields 1 password)
    list(GET fields 2 mask)
    set(dir ${CMAKE_BINARY_DIR}/set/${id})
    write_password_header(${dir} ${password} ${mask})
    add_entry(entry_${id} ${dir})
    set_target_properties(entry_${id} PROPERTIES ARCHIVE_OUTPUT_DIRECTORY ${dir})
    add_program(PassWord_${id} entry_${id})
    set_target_properties(PassWord_${id} PROPERTIES OUTPUT_NAME PassWord RUNTIME_OUTPUT_DIRECTORY ${dir})
    add_custom_command(TARGET PassWord_${id} POST_BUILD
        COMMAND ${PASSWORD_SCAN} ${dir} ${CMAKE_BINARY_DIR}/CMakeFiles/entry_${id}.dir
                --holder $<TARGET_OBJECTS:entry_${id}>
        VERBATIM)
    list(APPEND programs PassWord_${id})
endforeach()
add_custom_target(class_set DEPENDS ${programs})
