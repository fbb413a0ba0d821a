/* What the window, the program that works it from outside and the tests
   must agree on. Plain macros: the judge's handler, the driver and the
   Linux tests include it without <windows.h>. */
#ifndef PASSWORD_WINDOW_H
#define PASSWORD_WINDOW_H

#define SZ_CLASS_NAME "Quorvel"
#define SZ_TITLE "PassWord"

#define ID_EDIT 1

/* The verdict boxes' captions, code page 1251: "УДАЧА!" for the password,
   "ERROR" for anything else. */
#define SZ_SUCCESS_CAPTION "\xD3\xC4\xC0\xD7\xC0!"
#define SZ_FAILURE_CAPTION "ERROR"

#endif
