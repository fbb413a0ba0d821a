#include "program_driver.h"

#include <cstring>

const char kFailureCaption[] = SZ_FAILURE_CAPTION;
const char kSuccessCaption[] = SZ_SUCCESS_CAPTION;
const char kBoxClass[] = "#32770";

std::string Beside(const char *name)
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

std::string TextOf(HWND hwnd)
{
    char buffer[512] = "";
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buffer, (LPARAM)buffer, SMTO_BLOCK, 2000, &copied);
    return std::string(buffer, copied);
}

namespace {

struct WindowSearch {
    DWORD pid;
    const char *cls;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lParam)
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

} // namespace

HWND WaitForWindow(DWORD pid, const char *cls, DWORD timeoutMs)
{
    for (DWORD start = GetTickCount();; Sleep(1)) {
        WindowSearch search = { pid, cls, NULL };
        EnumWindows(MatchWindow, (LPARAM)&search);
        if (search.found || GetTickCount() - start >= timeoutMs)
            return search.found;
    }
}

Program::~Program()
{
    if (!pi.hProcess)
        return;
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

bool Program::Start(const std::string &path, WORD show)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = show;
    if (!CreateProcessA(path.c_str(), NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return false;
    hwndMain = WaitForWindow(pi.dwProcessId, SZ_CLASS_NAME);
    hwndField = hwndMain ? FindWindowExA(hwndMain, NULL, "edit", NULL) : NULL;
    return hwndField != NULL;
}

void Program::Post(const std::string &keys)
{
    for (char c : keys)
        PostMessageA(hwndField, WM_CHAR, (unsigned char)c, 1);
}

std::string Program::Dismiss(std::string *text, DWORD timeoutMs)
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

std::string Program::Answer()
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

DWORD Program::Close()
{
    PostMessageA(hwndMain, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    return code;
}
