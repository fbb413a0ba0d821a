// PassWord.exe as a person uses it: started as a process of its own, typed
// into with real key strokes, its boxes read and dismissed, closed from the
// system menu.
#include <gtest/gtest.h>

#include "program_driver.h"
#include "test_password.h"

namespace {

const std::string kProgram = Beside("PassWord.exe");

// What a person sees, written out here rather than taken from the header the
// program is built from: a slip there must show as a failure here.
const char kClass[] = "Quorvel";
const char kTitle[] = "PassWord";
const char kFailure[] = "ERROR";
const char kSuccess[] = "\xD3\xC4\xC0\xD7\xC0!"; // "УДАЧА!" in code page 1251
const int kField = 1;

HWND FocusOf(const Program &program)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(program.pi.dwThreadId, &info);
    return info.hwndFocus;
}

// Key presses, so that the program's own TranslateMessage makes the characters.
void Press(const Program &program, const std::string &keys)
{
    SetForegroundWindow(program.hwndMain);
    for (char c : keys) {
        SHORT scan = VkKeyScanA(c);
        ASSERT_NE(scan, -1) << "no key for '" << c << "'";
        INPUT in[4] = {};
        int n = 0;
        auto key = [&](WORD vk, DWORD flags) {
            in[n].type = INPUT_KEYBOARD;
            in[n].ki.wVk = vk;
            in[n].ki.wScan = (WORD)MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
            in[n++].ki.dwFlags = flags;
        };
        bool shift = scan & 0x100;
        if (shift)
            key(VK_SHIFT, 0);
        key(LOBYTE(scan), 0);
        key(LOBYTE(scan), KEYEVENTF_KEYUP);
        if (shift)
            key(VK_SHIFT, KEYEVENTF_KEYUP);
        ASSERT_EQ(SendInput(n, in, sizeof(INPUT)), (UINT)n);
    }
}

TEST(PassWordProgram, IsTheFixedWindowWithItsField)
{
    Program program;
    ASSERT_TRUE(program.Start(kProgram)) << "no window with a field";
    char cls[32] = "";
    GetClassNameA(program.hwndMain, cls, sizeof cls);
    EXPECT_STREQ(cls, kClass);
    EXPECT_EQ(TextOf(program.hwndMain), kTitle);
    RECT window, client, field;
    GetWindowRect(program.hwndMain, &window);
    EXPECT_EQ(window.right - window.left, 200);
    EXPECT_EQ(window.bottom - window.top, 60);
    // A title bar with the close box; no sizing border, no minimise or maximise box.
    LONG style = GetWindowLongA(program.hwndMain, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
              WS_CAPTION | WS_SYSMENU) << "style " << std::hex << style;

    EXPECT_EQ(GetDlgCtrlID(program.hwndField), kField);
    // Multi-line, scrolling by itself both ways, without scroll bars.
    style = GetWindowLongA(program.hwndField, GWL_STYLE);
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_HSCROLL | WS_VSCROLL),
              WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL) << "field style " << std::hex << style;
    GetClientRect(program.hwndMain, &client);
    GetWindowRect(program.hwndField, &field);
    MapWindowPoints(NULL, program.hwndMain, (POINT *)&field, 2);
    EXPECT_TRUE(EqualRect(&field, &client)) << "field " << field.left << "," << field.top << " to "
                                            << field.right << "," << field.bottom << "; client area to "
                                            << client.right << "," << client.bottom;
    EXPECT_EQ(FocusOf(program), program.hwndField);
    EXPECT_EQ(program.Close(), 0u);
}

TEST(PassWordProgram, TypedEntriesAreJudged)
{
    const std::string password = ConfiguredPassword();
    struct {
        std::string keys;
        const char *verdict; // nullptr: no box
        std::string left;
    } const cases[] = {
        { "ab", nullptr, "ab" },
        { "c\r", kFailure, "" },
        { password + "\r", kSuccess, "" },
        { "\r", kFailure, "" },
        { password.substr(0, 4) + "\r", kFailure, "" },
    };
    Program program;
    ASSERT_TRUE(program.Start(kProgram));
    for (const auto &c : cases) {
        Press(program, c.keys);
        if (c.verdict) {
            EXPECT_EQ(program.Answer(), c.verdict) << "keys \"" << c.keys << "\"";
        } else {
            EXPECT_EQ(program.Dismiss(nullptr, 100), "(no box)") << "keys \"" << c.keys << "\"";
            EXPECT_EQ(TextOf(program.hwndField), c.left) << "keys \"" << c.keys << "\"";
        }
        EXPECT_EQ(FocusOf(program), program.hwndField) << "focus after \"" << c.keys << "\"";
    }
    EXPECT_EQ(program.Close(), 0u);
}

TEST(PassWordProgram, FullFieldWarnsWithoutJudging)
{
    Program program;
    ASSERT_TRUE(program.Start(kProgram));
    SendMessageA(program.hwndField, EM_SETLIMITTEXT, 2, 0);
    program.Post("abc");
    std::string text;
    EXPECT_EQ(program.Dismiss(&text), kClass);
    EXPECT_EQ(text, "Edit control out of space.");
    EXPECT_EQ(TextOf(program.hwndField), "ab");

    // A multi-line field does not notify on WM_SETTEXT: this entry waits
    // while notifications that must not judge it arrive. A time-out, since a
    // verdict box would block the sender.
    SendMessageTimeoutA(program.hwndField, WM_SETTEXT, 0, (LPARAM) "x\r\n", SMTO_BLOCK, 2000, NULL);
    for (WPARAM command : { MAKEWPARAM(kField, EN_MAXTEXT), MAKEWPARAM(kField, EN_CHANGE), MAKEWPARAM(kField + 1, EN_UPDATE) })
        PostMessageA(program.hwndMain, WM_COMMAND, command, (LPARAM)program.hwndField);
    EXPECT_EQ(program.Dismiss(), kClass);
    EXPECT_EQ(program.Dismiss(nullptr, 100), "(no box)") << "the text was judged";
    EXPECT_EQ(TextOf(program.hwndField), "x\r\n");
    PostMessageA(program.hwndMain, WM_COMMAND, MAKEWPARAM(kField, EN_UPDATE), (LPARAM)program.hwndField);
    EXPECT_EQ(program.Answer(), kFailure);
    EXPECT_EQ(program.Close(), 0u);
}

TEST(PassWordProgram, MinimisedStartStaysMinimised)
{
    Program program;
    ASSERT_TRUE(program.Start(kProgram, SW_SHOWMINNOACTIVE));
    EXPECT_TRUE(IsIconic(program.hwndMain));
    EXPECT_EQ(program.Close(), 0u);
}

} // namespace
