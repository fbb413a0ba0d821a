/* The little of USER32 that the entry check uses, for builds without
   Windows. Whoever links the entry check there provides the functions. */
#ifndef WIN32_STAND_IN_H
#define WIN32_STAND_IN_H

typedef struct HWND__ *HWND;
typedef unsigned int UINT;
typedef int BOOL;

#define MB_OK              0x00000000u
#define MB_ICONHAND        0x00000010u
#define MB_ICONINFORMATION 0x00000040u

int GetWindowTextLengthA(HWND hWnd);
int GetWindowTextA(HWND hWnd, char *lpString, int nMaxCount);
int MessageBoxA(HWND hWnd, const char *lpText, const char *lpCaption, UINT uType);
BOOL SetWindowTextA(HWND hWnd, const char *lpString);

#endif
