# The password is chosen at configure time and reaches the code only masked.
set(PASSWORD "Kv9#z" CACHE STRING
    "The five characters the program accepts: printable ASCII, 0x20 to 0x7E")
set(PASSWORD_MASK "0xA7" CACHE STRING
    "One-byte mask for the password: 1 to 255, decimal or 0x-hex")

# Writes DIR/generated/password_masked.h for PASSWORD and MASK, after checking
# both; sets PASSWORD_MASKED_LIST (masked codes, 0x-hex) in the caller.
function(write_password_header dir password mask)
  if(NOT mask MATCHES "^(0[xX]0*[0-9A-Fa-f]?[0-9A-Fa-f]|0*[0-9]?[0-9]?[0-9])$")
    message(FATAL_ERROR "PASSWORD_MASK must be a number from 1 to 255, decimal "
                        "or 0x-hex; got \"${mask}\".")
  endif()
  math(EXPR mask "${mask}")
  if(mask LESS 1 OR mask GREATER 255)
    message(FATAL_ERROR "PASSWORD_MASK must be a number from 1 to 255, decimal "
                        "or 0x-hex; got ${mask}.")
  endif()

  set(rule "PASSWORD must be exactly 5 printable ASCII characters (0x20 to 0x7E)")
  string(HEX "${password}" hex)
  string(LENGTH "${hex}" digits)
  math(EXPR bytes "${digits} / 2")
  set(masked "")
  foreach(offset RANGE 0 ${digits} 2)
    if(offset LESS digits)
      string(SUBSTRING "${hex}" ${offset} 2 byte)
      math(EXPR code "0x${byte}")
      if(code LESS 32 OR code GREATER 126)
        math(EXPR at "${offset} / 2")
        message(FATAL_ERROR "${rule}; byte ${at} is 0x${byte}.")
      endif()
      math(EXPR code "${code} ^ ${mask}" OUTPUT_FORMAT HEXADECIMAL)
      list(APPEND masked ${code})
    endif()
  endforeach()
  if(NOT bytes EQUAL 5)
    message(FATAL_ERROR "${rule}; got ${bytes} characters.")
  endif()

  list(JOIN masked "u, " MASKED_PASSWORD_LITERALS)
  string(APPEND MASKED_PASSWORD_LITERALS "u")
  math(EXPR PASSWORD_MASK_LITERAL "${mask}" OUTPUT_FORMAT HEXADECIMAL)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/password_masked.h.in ${dir}/generated/password_masked.h @ONLY)
  set(PASSWORD_MASKED_LIST ${masked} PARENT_SCOPE)
  set(PASSWORD_MASK_LITERAL ${PASSWORD_MASK_LITERAL} PARENT_SCOPE)
endfunction()

write_password_header(${CMAKE_BINARY_DIR} "${PASSWORD}" "${PASSWORD_MASK}")

# Tests learn the password at run time, still masked, so that no test code
# is ever compiled with it; so do the scripts that drive the program.
list(JOIN PASSWORD_MASKED_LIST "," masked)
set(PASSWORD_TEST_ENVIRONMENT "PASSWORD_MASKED=${masked}" "PASSWORD_MASK=${PASSWORD_MASK_LITERAL}")
list(JOIN PASSWORD_TEST_ENVIRONMENT "\n" password_env)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/password.env CONTENT "${password_env}\n")
