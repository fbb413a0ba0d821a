/* The password window: its class, its field, and the program around it. */
#ifndef SHELL_H
#define SHELL_H

#include <windows.h>

#include "password_window.h"

/* The window class name, and the caption of the out-of-space box. */
extern const char szAppName[];

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

ATOM RegisterMainClass(HINSTANCE hInstance);
HWND CreateMainWindow(HINSTANCE hInstance);

#endif
