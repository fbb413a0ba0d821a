/* Works PassWord.exe from another process the way a person does: starts it,
   types into its field, reads and dismisses its boxes, closes it. */
#ifndef PROGRAM_DRIVER_H
#define PROGRAM_DRIVER_H

#include <windows.h>

#include <cstring>
#include <string>

const char kFailureCaption[] = "ERROR";
const char kSuccessCaption[] = "\xD3\xC4\xC0\xD7\xC0!";
const char kBoxClass[] = "#32770";

// The program of that name in this program's folder.
inline std::string Beside(const char *name)
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

// WM_GETTEXT, since GetWindowTextA does not reach another process's controls.
inline std::string TextOf(HWND hwnd)
{
    char buffer[512] = "";
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buffer, (LPARAM)buffer, SMTO_BLOCK, 2000, &copied);
    return std::string(buffer, copied);
}

struct WindowSearch {
    DWORD pid;
    const char *cls;
    HWND found;
};

inline BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lParam)
{
    WindowSearch *search = (WindowSearch *)lParam;
    DWORD pid = 0;
    char cls[32] = "";
    GetWindowThreadProcessId(hwnd, &pid);
    GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == search->pid && strcmp(cls, search->cls) == 0 && IsWindowVisible(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Looks at least once, however short the wait.
inline HWND WaitForWindow(DWORD pid, const char *cls, DWORD timeoutMs = 10000)
{
    for (DWORD start = GetTickCount();; Sleep(1)) {
        WindowSearch search = { pid, cls, NULL };
        EnumWindows(MatchWindow, (LPARAM)&search);
        if (search.found || GetTickCount() - start >= timeoutMs)
            return search.found;
    }
}

template <typename Done> bool WaitUntil(Done done, DWORD timeoutMs = 5000)
{
    for (DWORD start = GetTickCount(); !done(); Sleep(1))
        if (GetTickCount() - start >= timeoutMs)
            return false;
    return true;
}

struct Program {
    PROCESS_INFORMATION pi = {};
    HWND hwndMain = NULL, hwndField = NULL;

    // False when the program does not show its window with a field.
    bool Start(const std::string &path, WORD show = SW_SHOWNORMAL)
    {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = show;
        if (!CreateProcessA(path.c_str(), NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
            return false;
        hwndMain = WaitForWindow(pi.dwProcessId, "Quorvel");
        hwndField = hwndMain ? FindWindowExA(hwndMain, NULL, "edit", NULL) : NULL;
        return hwndField != NULL;
    }

    ~Program()
    {
        if (!pi.hProcess)
            return;
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }

    void Post(const std::string &keys)
    {
        for (char c : keys)
            PostMessageA(hwndField, WM_CHAR, (unsigned char)c, 1);
    }

    // The caption of the box that comes up, "(no box)" if none does; its
    // text through `text`.
    std::string Dismiss(std::string *text = NULL, DWORD timeoutMs = 10000)
    {
        HWND box = WaitForWindow(pi.dwProcessId, kBoxClass, timeoutMs);
        if (!box)
            return "(no box)";
        std::string caption = TextOf(box);
        if (text)
            *text = TextOf(GetDlgItem(box, 0xFFFF));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        WaitUntil([&] { return !IsWindow(box); });
        return caption;
    }

    // A verdict's caption. The field must keep the entry while the box is up
    // and be empty once it is dismissed; a breach is added to the caption.
    std::string Answer()
    {
        HWND box = WaitForWindow(pi.dwProcessId, kBoxClass);
        bool emptiedEarly = box && TextOf(hwndField).empty();
        std::string caption = Dismiss();
        if (emptiedEarly)
            caption += " (field emptied while the box was up)";
        if (!WaitUntil([&] { return TextOf(hwndField).empty(); }))
            caption += " (field not emptied)";
        return caption;
    }

    // Closed from the system menu: the exit code, or STILL_ACTIVE.
    DWORD Close()
    {
        PostMessageA(hwndMain, WM_SYSCOMMAND, SC_CLOSE, 0);
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }
};

#endif
