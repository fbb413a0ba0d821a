#include "shell.h"

#include "entry.h"

const char szAppName[] = SZ_CLASS_NAME;

static HWND hwndEdit;

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        hwndEdit = CreateWindowExA(0, "edit", NULL,
                                   WS_CHILD | WS_VISIBLE | WS_BORDER | ES_LEFT | ES_MULTILINE
                                       | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                   0, 0, 0, 0, hwnd, (HMENU)ID_EDIT,
                                   ((LPCREATESTRUCTA)lParam)->hInstance, NULL);
        return 0;

    case WM_SETFOCUS:
        SetFocus(hwndEdit);
        return 0;

    case WM_SIZE:
        MoveWindow(hwndEdit, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;

    case WM_COMMAND:
        if (LOWORD(wParam) != ID_EDIT)
            return 0;
        switch (HIWORD(wParam)) {
        case EN_UPDATE:
            HandleEntryUpdate(hwnd, hwndEdit);
            break;
        case EN_ERRSPACE:
        case EN_MAXTEXT:
            MessageBoxA(hwnd, "Edit control out of space.", szAppName, MB_OK | MB_ICONHAND);
            break;
        }
        return 0;

    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
