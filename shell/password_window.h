/* What the window, the program that works it from outside and the tests
   must agree on. Plain macros: the driver and the tests include it without
   <windows.h>. The verdicts are the judge's: entry/verdicts.h. */
#ifndef PASSWORD_WINDOW_H
#define PASSWORD_WINDOW_H

#define SZ_CLASS_NAME "Quorvel"
#define SZ_TITLE "PassWord"

#define ID_EDIT 1

#endif
