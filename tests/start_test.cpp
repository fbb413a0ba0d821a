// WinMain in-process, where the window can be kept from being made: it must
// give up rather than wait forever for a quit message.
#include <gtest/gtest.h>

#include "shell.h"

namespace {

LRESULT CALLBACK RefuseCreation(int code, WPARAM wParam, LPARAM lParam)
{
    return code == HCBT_CREATEWND ? 1 : CallNextHookEx(NULL, code, wParam, lParam);
}

DWORD WINAPI RunWinMain(LPVOID refuse)
{
    HHOOK hook = refuse ? SetWindowsHookExA(WH_CBT, RefuseCreation, NULL, GetCurrentThreadId()) : NULL;
    int result = WinMain(GetModuleHandleA(NULL), NULL, (LPSTR) "", SW_SHOWNORMAL);
    if (hook)
        UnhookWindowsHookEx(hook);
    return (DWORD)result;
}

TEST(WinMainStart, GivesUpWhenTheWindowCannotBeMade)
{
    HINSTANCE hInstance = GetModuleHandleA(NULL);
    struct {
        const char *what;
        bool registered, refuseCreation;
    } const cases[] = {
        { "class already registered", true, false },
        { "window creation refused", false, true },
    };
    for (const auto &c : cases) {
        UnregisterClassA(szAppName, hInstance);
        if (c.registered)
            RegisterMainClass(hInstance);
        HANDLE thread = CreateThread(NULL, 0, RunWinMain, (LPVOID)c.refuseCreation, 0, NULL);
        EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0) << c.what << ": still running after 5 s";
        DWORD result = 0;
        GetExitCodeThread(thread, &result);
        EXPECT_NE(result, 0u) << c.what;
        TerminateThread(thread, 0);
        CloseHandle(thread);
    }
}

} // namespace
