/* The configured password, handed to the tests at run time in masked form
   (PASSWORD_MASKED and PASSWORD_MASK, set by CTest): no test is compiled
   with it, so no test binary can carry it. */
#ifndef TEST_PASSWORD_H
#define TEST_PASSWORD_H

#include <cstdio>
#include <cstdlib>
#include <string>

inline std::string ConfiguredPassword()
{
    const char *masked = getenv("PASSWORD_MASKED");
    const char *mask = getenv("PASSWORD_MASK");
    unsigned int m[5], k;
    if (!masked || !mask || sscanf(masked, "%x,%x,%x,%x,%x", &m[0], &m[1], &m[2], &m[3], &m[4]) != 5
        || sscanf(mask, "%x", &k) != 1) {
        fprintf(stderr, "PASSWORD_MASKED and PASSWORD_MASK are not set: run the tests with ctest\n");
        abort();
    }
    std::string password;
    for (unsigned int c : m)
        password += (char)((c ^ k) & 0xFF);
    return password;
}

#endif
