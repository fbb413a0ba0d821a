// The password window in-process: the real class, MainWndProc and edit
// control, driven with messages; every message box is caught by a CBT hook,
// read and dismissed.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "shell.h"
#include "test_password.h"

namespace {

struct Box {
    std::string caption, text, fieldWhileShown;
};

std::vector<Box> boxes;
HWND hwndField;
DWORD fieldStyleAsCreated;

std::string TextOf(HWND hwnd)
{
    char buffer[512] = "";
    GetWindowTextA(hwnd, buffer, sizeof buffer);
    return buffer;
}

LRESULT CALLBACK CatchBox(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        // The edit control drops WS_BORDER once created; see what was asked.
        const CREATESTRUCTA *cs = ((CBT_CREATEWNDA *)lParam)->lpcs;
        if (cs->hMenu == (HMENU)ID_EDIT)
            fieldStyleAsCreated = cs->style;
    }
    if (code == HCBT_ACTIVATE) {
        HWND hwnd = (HWND)wParam;
        char cls[16] = "";
        GetClassNameA(hwnd, cls, sizeof cls);
        if (strcmp(cls, "#32770") == 0) {
            boxes.push_back({ TextOf(hwnd), TextOf(GetDlgItem(hwnd, 0xFFFF)), TextOf(hwndField) });
            PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

const char kFailure[] = "\xCD\xC5\xD3\xC4\xC0\xD7\xC0 (\xEF\xEE\xEF\xF0\xEE\xE1\xF3\xE9\xF2\xE5 "
                        "\xE5\xF9\xE5 \xF0\xE0\xE7)!";
const char kSuccess[] = "\xCF\xCE\xC1\xC5\xC4\xC0! \xCC\xEE\xE6\xE5\xF2\xE5 "
                        "\xF1\xE4\xE0\xE2\xE0\xF2\xFC \xD0\xC0\xC1\xCE\xD2\xD3!";
const char kSuccessCaption[] = "\xD3\xC4\xC0\xD7\xC0!";

class PasswordWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterMainClass(GetModuleHandleA(NULL)); }

    void SetUp() override
    {
        boxes.clear();
        hook = SetWindowsHookExA(WH_CBT, CatchBox, NULL, GetCurrentThreadId());
        hwndMain = CreateMainWindow(GetModuleHandleA(NULL));
        ASSERT_NE(hwndMain, nullptr);
        ShowWindow(hwndMain, SW_SHOWNORMAL);
        UpdateWindow(hwndMain);
        hwndField = GetDlgItem(hwndMain, ID_EDIT);
        ASSERT_NE(hwndField, nullptr);
    }

    void TearDown() override
    {
        DestroyWindow(hwndMain);
        UnhookWindowsHookEx(hook);
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            ; // the quit message posted on WM_DESTROY
    }

    void Type(const std::string &keys)
    {
        for (char c : keys)
            SendMessageA(hwndField, WM_CHAR, (unsigned char)c, 1);
    }

    HWND hwndMain = nullptr;
    HHOOK hook = nullptr;
};

TEST_F(PasswordWindow, IsTheFixedWindowOfTheProgram)
{
    char cls[32] = "";
    GetClassNameA(hwndMain, cls, sizeof cls);
    EXPECT_STREQ(cls, "Quorvel");
    EXPECT_EQ(TextOf(hwndMain), "PassWord");
    RECT rc;
    GetWindowRect(hwndMain, &rc);
    EXPECT_EQ(rc.right - rc.left, 200);
    EXPECT_EQ(rc.bottom - rc.top, 60);
    LONG style = GetWindowLongA(hwndMain, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX))
        << "expected no sizing border and no boxes, got style " << std::hex << style;

    GetClassNameA(hwndField, cls, sizeof cls);
    EXPECT_STRCASEEQ(cls, "edit");
    EXPECT_EQ(fieldStyleAsCreated, 0x508000C4u) << "field style " << std::hex << fieldStyleAsCreated;
}

TEST_F(PasswordWindow, FieldFillsClientAreaAndHoldsFocus)
{
    RECT client, field;
    GetClientRect(hwndMain, &client);
    GetWindowRect(hwndField, &field);
    MapWindowPoints(NULL, hwndMain, (POINT *)&field, 2);
    EXPECT_EQ(field.left, 0);
    EXPECT_EQ(field.top, 0);
    EXPECT_EQ(field.right, client.right);
    EXPECT_EQ(field.bottom, client.bottom);

    SendMessageA(hwndMain, WM_SIZE, SIZE_RESTORED, MAKELPARAM(120, 30));
    GetWindowRect(hwndField, &field);
    EXPECT_EQ(field.right - field.left, 120);
    EXPECT_EQ(field.bottom - field.top, 30);

    SetFocus(NULL);
    SetFocus(hwndMain);
    EXPECT_EQ(GetFocus(), hwndField);
}

TEST_F(PasswordWindow, WrongWordThenPassword)
{
    Type("abc");
    EXPECT_TRUE(boxes.empty()) << "no verdict before Enter";
    EXPECT_EQ(TextOf(hwndField), "abc");

    Type("\r");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "ERROR");
    EXPECT_EQ(boxes[0].text, kFailure);
    EXPECT_EQ(boxes[0].fieldWhileShown, "abc\r\n") << "field emptied before the box went away";
    EXPECT_EQ(TextOf(hwndField), "");

    Type(ConfiguredPassword() + "\r");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].caption, kSuccessCaption);
    EXPECT_EQ(boxes[1].text, kSuccess);
    EXPECT_EQ(TextOf(hwndField), "");

    Type("\r");
    ASSERT_EQ(boxes.size(), 3u) << "Enter alone is a wrong entry";
    EXPECT_EQ(boxes[2].caption, "ERROR");
}

TEST_F(PasswordWindow, ReplacedSelectionIsJudgedToo)
{
    SendMessageA(hwndField, EM_REPLACESEL, FALSE, (LPARAM)(ConfiguredPassword() + "\r\n").c_str());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, kSuccessCaption);

    // Enter in the middle of the text: the line break stays, no verdict.
    Type(ConfiguredPassword());
    SendMessageA(hwndField, EM_SETSEL, 2, 2);
    Type("\r");
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(TextOf(hwndField).size(), 7u);
}

TEST_F(PasswordWindow, FullFieldWarnsWithoutJudging)
{
    SendMessageA(hwndField, EM_SETLIMITTEXT, 3, 0);
    Type("abcd");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Quorvel");
    EXPECT_EQ(boxes[0].text, "Edit control out of space.");
    EXPECT_EQ(TextOf(hwndField), "abc");

    SendMessageA(hwndField, EM_SETLIMITTEXT, 0, 0);
    Type("\r");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].caption, "ERROR") << "the next entry is judged";
}

TEST_F(PasswordWindow, CommandsFromOtherIdsDoNothing)
{
    // A multi-line field does not notify on WM_SETTEXT, so this text waits.
    SetWindowTextA(hwndField, "x\r\n");
    ASSERT_TRUE(boxes.empty());

    for (WORD code : { EN_UPDATE, EN_MAXTEXT, EN_ERRSPACE }) {
        LRESULT result = SendMessageA(hwndMain, WM_COMMAND, MAKEWPARAM(ID_EDIT + 1, code), (LPARAM)hwndField);
        EXPECT_EQ(result, 0);
    }
    SendMessageA(hwndMain, WM_COMMAND, MAKEWPARAM(ID_EDIT, EN_CHANGE), (LPARAM)hwndField);
    EXPECT_TRUE(boxes.empty()) << "expected no box, got \"" << boxes[0].caption << "\"";

    SendMessageA(hwndMain, WM_COMMAND, MAKEWPARAM(ID_EDIT, EN_UPDATE), (LPARAM)hwndField);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "ERROR");
}

// Window creation refused: WinMain must give up instead of looping forever.
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

DWORD WinMainOnThread(bool refuseCreation)
{
    HANDLE thread = CreateThread(NULL, 0, RunWinMain, (LPVOID)refuseCreation, 0, NULL);
    DWORD waited = WaitForSingleObject(thread, 5000);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "WinMain still running after 5 s";
    DWORD result = 0;
    GetExitCodeThread(thread, &result);
    CloseHandle(thread);
    return result;
}

TEST(WinMainStart, GivesUpWhenTheWindowCannotBeMade)
{
    HINSTANCE hInstance = GetModuleHandleA(NULL);
    RegisterMainClass(hInstance);
    EXPECT_NE(WinMainOnThread(false), 0u) << "class already registered";

    UnregisterClassA(szAppName, hInstance);
    EXPECT_NE(WinMainOnThread(true), 0u) << "window creation refused";
}

} // namespace
