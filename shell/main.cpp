#include "shell.h"

ATOM RegisterMainClass(HINSTANCE hInstance)
{
    WNDCLASSEXA wndclass;

    wndclass.cbSize = sizeof wndclass;
    wndclass.style = CS_HREDRAW | CS_VREDRAW;
    wndclass.lpfnWndProc = MainWndProc;
    wndclass.cbClsExtra = 0;
    wndclass.cbWndExtra = 0;
    wndclass.hInstance = hInstance;
    wndclass.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    wndclass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wndclass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wndclass.lpszMenuName = NULL;
    wndclass.lpszClassName = szAppName;
    wndclass.hIconSm = LoadIconA(NULL, IDI_APPLICATION);
    return RegisterClassExA(&wndclass);
}

HWND CreateMainWindow(HINSTANCE hInstance)
{
    return CreateWindowExA(0, szAppName, SZ_TITLE, WS_OVERLAPPED | WS_SYSMENU,
                           CW_USEDEFAULT, CW_USEDEFAULT, 200, 60,
                           NULL, NULL, hInstance, NULL);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)lpCmdLine;

    // Without a window nothing would ever post the quit message.
    if (!RegisterMainClass(hInstance))
        return 1;
    HWND hwnd = CreateMainWindow(hInstance);
    if (!hwnd)
        return 1;

    ShowWindow(hwnd, nCmdShow);
    UpdateWindow(hwnd);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
