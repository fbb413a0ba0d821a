// PassWord.exe as a person uses it: started as a process of its own, typed
// into with posted characters and with real keyboard input, its boxes read
// and dismissed, and closed from the system menu.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "test_password.h"

namespace {

const char kFailureCaption[] = "ERROR";
const char kSuccessCaption[] = "\xD3\xC4\xC0\xD7\xC0!";

std::string ProgramPath()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + "PassWord.exe";
}

std::string TextOf(HWND hwnd)
{
    char buffer[512] = "";
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buffer, (LPARAM)buffer, SMTO_BLOCK, 2000, &copied);
    return std::string(buffer, copied);
}

struct Search {
    DWORD pid;
    const char *cls;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lParam)
{
    Search *search = (Search *)lParam;
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

HWND WaitForWindow(DWORD pid, const char *cls, DWORD timeoutMs = 10000)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(1)) {
        Search search = { pid, cls, NULL };
        EnumWindows(MatchWindow, (LPARAM)&search);
        if (search.found)
            return search.found;
    }
    return NULL;
}

class PassWordProcess : public ::testing::Test {
protected:
    void Start(WORD show)
    {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = show;
        std::string path = ProgramPath();
        ASSERT_TRUE(CreateProcessA(path.c_str(), NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
            << "cannot start " << path << ", error " << GetLastError();
        hwndMain = WaitForWindow(pi.dwProcessId, "Quorvel");
        ASSERT_NE(hwndMain, nullptr) << "no window from PassWord.exe";
        hwndField = FindWindowExA(hwndMain, NULL, "edit", NULL);
        ASSERT_NE(hwndField, nullptr);
    }

    void TearDown() override
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

    // Real key strokes: the program's own TranslateMessage makes the characters.
    void Press(const std::string &keys)
    {
        SetForegroundWindow(hwndMain);
        for (char c : keys) {
            SHORT scan = VkKeyScanA(c);
            ASSERT_NE(scan, -1) << "no key for '" << c << "'";
            INPUT in[4] = {};
            int n = 0;
            auto key = [&](WORD vk, DWORD flags) {
                in[n].type = INPUT_KEYBOARD;
                in[n].ki.wVk = vk;
                in[n].ki.wScan = (WORD)MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
                in[n].ki.dwFlags = flags;
                n++;
            };
            bool shift = (scan >> 8) & 1;
            if (shift)
                key(VK_SHIFT, 0);
            key(LOBYTE(scan), 0);
            key(LOBYTE(scan), KEYEVENTF_KEYUP);
            if (shift)
                key(VK_SHIFT, KEYEVENTF_KEYUP);
            ASSERT_EQ(SendInput(n, in, sizeof(INPUT)), (UINT)n);
        }
    }

    // Waits for the verdict box, reads it and dismisses it; returns its caption.
    std::string Answer()
    {
        HWND box = WaitForWindow(pi.dwProcessId, "#32770");
        if (!box)
            return "(no box)";
        std::string caption = TextOf(box);
        std::string field = TextOf(hwndField);
        EXPECT_FALSE(field.empty()) << "field emptied before the box was dismissed";
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        for (DWORD start = GetTickCount(); IsWindow(box) && GetTickCount() - start < 5000;)
            Sleep(1);
        for (DWORD start = GetTickCount(); !TextOf(hwndField).empty() && GetTickCount() - start < 5000;)
            Sleep(1);
        EXPECT_EQ(TextOf(hwndField), "") << "field not emptied after the box";
        return caption;
    }

    DWORD CloseFromSystemMenu()
    {
        PostMessageA(hwndMain, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0) << "still running";
        DWORD code = 259;
        GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }

    PROCESS_INFORMATION pi = {};
    HWND hwndMain = nullptr, hwndField = nullptr;
};

TEST_F(PassWordProcess, PostedEntriesAreJudged)
{
    Start(SW_SHOWNORMAL);
    Post("wrong\r");
    EXPECT_EQ(Answer(), kFailureCaption);
    Post(ConfiguredPassword() + "\r");
    EXPECT_EQ(Answer(), kSuccessCaption);
    Post("ab");
    Sleep(100);
    EXPECT_EQ(WaitForWindow(pi.dwProcessId, "#32770", 0), nullptr) << "a box before Enter";
    EXPECT_EQ(TextOf(hwndField), "ab");
    EXPECT_EQ(CloseFromSystemMenu(), 0u);
}

TEST_F(PassWordProcess, KeyboardEntriesAreJudged)
{
    Start(SW_SHOWNORMAL);
    Press("nope\r");
    EXPECT_EQ(Answer(), kFailureCaption);
    Press(ConfiguredPassword() + "\r");
    EXPECT_EQ(Answer(), kSuccessCaption);
    EXPECT_EQ(CloseFromSystemMenu(), 0u);
}

TEST_F(PassWordProcess, MinimisedStartStaysMinimised)
{
    Start(SW_SHOWMINNOACTIVE);
    EXPECT_TRUE(IsIconic(hwndMain));
    RECT rc;
    ShowWindow(hwndMain, SW_RESTORE);
    GetWindowRect(hwndMain, &rc);
    EXPECT_EQ(rc.right - rc.left, 200);
    EXPECT_EQ(rc.bottom - rc.top, 60);
    EXPECT_EQ(CloseFromSystemMenu(), 0u);
}

} // namespace
