# One PassWord.exe per line of PASSWORD_SET ("ID PASSWORD MASK"), written by
# class-set: in set/ID/. Only the judge is compiled per program; the shell,
# the handler and the version resource are compiled once and linked into
# each. The target class_set then scans the whole set at once, each program
# for its own password, so that a leak fails the build.
file(STRINGS ${PASSWORD_SET} people)
set(programs "")
set(manifest "")
foreach(person IN LISTS people)
    string(REPLACE " " ";" fields "${person}")
    list(GET fields 0 id)
    list(GET fields 1 password)
    list(GET fields 2 mask)
    set(dir ${CMAKE_BINARY_DIR}/set/${id})
    write_password_header(${dir} ${password} ${mask})
    add_entry(entry_${id} ${dir})
    add_program(PassWord_${id} entry_${id})
    set_target_properties(PassWord_${id} PROPERTIES OUTPUT_NAME PassWord RUNTIME_OUTPUT_DIRECTORY ${dir})
    list(APPEND programs PassWord_${id})
    string(APPEND manifest "${dir}\t$<TARGET_OBJECTS:entry_${id}>\n")
endforeach()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/set/scan.txt CONTENT "${manifest}")
add_custom_target(class_set
    COMMAND ${PASSWORD_SCAN} --set ${CMAKE_BINARY_DIR}/set/scan.txt
    DEPENDS ${programs}
    VERBATIM)
