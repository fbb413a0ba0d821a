# The password is chosen at configure time and reaches the code only masked.
set(PASSWORD "Kv9#z" CACHE STRING
    "The five characters the program accepts: printable ASCII, 0x20 to 0x7E")
set(PASSWORD_MASK "0xA7" CACHE STRING
    "One-byte mask for the password: 1 to 255, decimal or 0x-hex")

if(NOT PASSWORD_MASK MATCHES "^(0[xX]0*[0-9A-Fa-f]?[0-9A-Fa-f]|0*[0-9]?[0-9]?[0-9])$")
  message(FATAL_ERROR "PASSWORD_MASK must be a number from 1 to 255, decimal "
                      "or 0x-hex; got \"${PASSWORD_MASK}\".")
endif()
math(EXPR password_mask "${PASSWORD_MASK}")
if(password_mask LESS 1 OR password_mask GREATER 255)
  message(FATAL_ERROR "PASSWORD_MASK must be a number from 1 to 255, decimal "
                      "or 0x-hex; got ${PASSWORD_MASK}.")
endif()

set(password_rule "PASSWORD must be exactly 5 printable ASCII characters (0x20 to 0x7E)")
string(HEX "${PASSWORD}" password_hex)
string(LENGTH "${password_hex}" hex_digits)
math(EXPR password_bytes "${hex_digits} / 2")
set(codes "")
foreach(offset RANGE 0 ${hex_digits} 2)
  if(offset LESS hex_digits)
    string(SUBSTRING "${password_hex}" ${offset} 2 byte)
    math(EXPR code "0x${byte}")
    if(code LESS 32 OR code GREATER 126)
      math(EXPR at "${offset} / 2")
      message(FATAL_ERROR "${password_rule}; byte ${at} is 0x${byte}.")
    endif()
    list(APPEND codes ${code})
  endif()
endforeach()
if(NOT password_bytes EQUAL 5)
  message(FATAL_ERROR "${password_rule}; got ${password_bytes} characters.")
endif()

set(masked_literals "")
foreach(code IN LISTS codes)
  math(EXPR masked "${code} ^ ${password_mask}" OUTPUT_FORMAT HEXADECIMAL)
  list(APPEND masked_literals "${masked}u")
endforeach()
list(JOIN masked_literals ", " MASKED_PASSWORD_LITERALS)
math(EXPR PASSWORD_MASK_LITERAL "${password_mask}" OUTPUT_FORMAT HEXADECIMAL)

# Tests learn the password at run time, still masked, so that no test code
# is ever compiled with it.
string(REPLACE "u" "" masked_bare "${masked_literals}")
list(JOIN masked_bare "," masked_bare)
set(PASSWORD_TEST_ENVIRONMENT "PASSWORD_MASKED=${masked_bare}" "PASSWORD_MASK=${PASSWORD_MASK_LITERAL}")
# The same, for the scripts that drive the program outside CTest.
list(JOIN PASSWORD_TEST_ENVIRONMENT "\n" password_env)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/password.env CONTENT "${password_env}\n")

configure_file(${CMAKE_CURRENT_LIST_DIR}/password_masked.h.in
               ${CMAKE_BINARY_DIR}/generated/password_masked.h @ONLY)
