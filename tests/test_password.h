/* The configured password, unmasked at run time so that no test binary
   carries it in plain form. */
#ifndef TEST_PASSWORD_H
#define TEST_PASSWORD_H

#include <cstdint>
#include <string>

#include "password_masked.h"

inline std::string ConfiguredPassword()
{
    volatile uint32_t masked[5] = { MASKED_PASSWORD_LITERALS };
    volatile unsigned char mask = PASSWORD_MASK_LITERAL;
    std::string password;
    for (int i = 0; i < 5; i++)
        password += (char)(unsigned char)(masked[i] ^ mask);
    return password;
}

#endif
