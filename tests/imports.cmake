# cmake -DOBJDUMP=... -DFILE=PassWord.exe -P imports.cmake
# A 32-bit GUI program that starts on a clean Windows: system DLLs only, and
# the ANSI side of USER32.
execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "cannot read ${FILE}")
endif()
if(NOT dump MATCHES "file format pei-i386")
    message(FATAL_ERROR "expected pei-i386")
endif()
if(NOT dump MATCHES "Subsystem[\t ]+00000002")
    message(FATAL_ERROR "expected the Windows GUI subsystem")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${dump}")
list(TRANSFORM dlls REPLACE "DLL Name: " "")
list(TRANSFORM dlls TOUPPER)
list(SORT dlls)
message(STATUS "imports from: ${dlls}")
if(NOT dlls STREQUAL "GDI32.DLL;KERNEL32.DLL;MSVCRT.DLL;USER32.DLL")
    message(FATAL_ERROR "expected imports from GDI32, KERNEL32, msvcrt and USER32 only")
endif()

# The USER32 block runs from its DLL Name line to the next blank line.
string(REGEX MATCH "DLL Name: USER32.dll\n[^\n]*\n([^\n]+\n)+" user32 "${dump}")
string(REGEX MATCHALL "[A-Za-z]+W\n" wide "${user32}")
if(wide)
    message(FATAL_ERROR "USER32 functions ending in W: ${wide}")
endif()
