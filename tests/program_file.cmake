# cmake -DOBJDUMP=... -DFILE=PassWord.exe -DLIMIT=bytes -DBITS=4|8 -P program_file.cmake
# A small GUI program (32-bit, or 64-bit for BITS 8) that starts on a clean
# Windows: system DLLs only, and the ANSI side of USER32.
file(SIZE ${FILE} size)
if(size GREATER LIMIT)
    message(FATAL_ERROR "expected at most ${LIMIT} bytes, got ${size}")
endif()
if(BITS EQUAL 8)
    set(format pei-x86-64)
else()
    set(format pei-i386)
endif()
# objdump speaks the user's language; its words are matched in the C locale.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LANGUAGE LC_ALL=C ${OBJDUMP} -p ${FILE}
                OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
if(NOT dump MATCHES "file format ${format}\n" OR NOT dump MATCHES "Subsystem[\t ]+00000002")
    message(FATAL_ERROR "expected a ${format} program for the Windows GUI subsystem")
endif()
if(NOT dump MATCHES "MajorSubsystemVersion\t6\nMinorSubsystemVersion\t0\n")
    message(FATAL_ERROR "expected Windows 6.0 as the lowest version")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${dump}")
list(TRANSFORM dlls REPLACE "DLL Name: " "")
list(TRANSFORM dlls TOUPPER)
list(SORT dlls)
if(NOT dlls STREQUAL "GDI32.DLL;KERNEL32.DLL;MSVCRT.DLL;USER32.DLL")
    message(FATAL_ERROR "expected imports from GDI32, KERNEL32, msvcrt and USER32 only, got ${dlls}")
endif()
# The USER32 block runs from its DLL Name line to the next blank line.
string(REGEX MATCH "DLL Name: USER32.dll\n[^\n]*\n([^\n]+\n)+" user32 "${dump}")
string(REGEX MATCHALL "[A-Za-z]+W\n" wide "${user32}")
if(wide)
    message(FATAL_ERROR "USER32 functions ending in W: ${wide}")
endif()
