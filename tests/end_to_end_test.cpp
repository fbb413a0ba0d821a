// PassWord.exe as a person uses it: started as a process of its own, typed
// into with posted characters and with real keyboard input, its boxes read
// and dismissed, and closed from the system menu.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <string>
#include <vector>

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
    for (DWORD start = GetTickCount();; Sleep(1)) {
        Search search = { pid, cls, NULL };
        EnumWindows(MatchWindow, (LPARAM)&search);
        if (search.found || GetTickCount() - start >= timeoutMs)
            return search.found;
    }
}

struct Tally {
    DWORD pid, windows;
};

BOOL CALLBACK CountChild(HWND, LPARAM lParam)
{
    ((Tally *)lParam)->windows++;
    return TRUE;
}

// EnumChildWindows visits every descendant, so no recursion here.
BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM lParam)
{
    Tally *tally = (Tally *)lParam;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == tally->pid) {
        tally->windows++;
        EnumChildWindows(hwnd, CountChild, lParam);
    }
    return TRUE;
}

DWORD WindowsOf(DWORD pid)
{
    Tally tally = { pid, 0 };
    EnumWindows(CountTopLevel, (LPARAM)&tally);
    return tally.windows;
}

// SystemHandleInformation: the low word of each entry's first field is the
// owner's process id, in Wine's layout and in Windows' alike.
DWORD HandlesInSystemTable(DWORD pid)
{
    typedef LONG(WINAPI * QuerySystem)(ULONG, PVOID, ULONG, PULONG);
    struct Entry {
        ULONG owner;
        BYTE type, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    QuerySystem query = (QuerySystem)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    std::vector<char> buffer(1 << 20);
    ULONG length = 0;
    LONG status;
    while ((status = query(16, buffer.data(), (ULONG)buffer.size(), &length)) == (LONG)0xC0000004)
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return 0;
    ULONG count = *(ULONG *)buffer.data();
    const Entry *entries = (const Entry *)(buffer.data() + sizeof(ULONG_PTR));
    DWORD owned = 0;
    for (ULONG i = 0; i < count; i++)
        owned += (entries[i].owner & 0xFFFF) == (pid & 0xFFFF);
    return owned;
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

    // Waits for a box, reads it and dismisses it; returns its caption, and
    // its text through `text`.
    std::string Dismiss(std::string *text = nullptr)
    {
        HWND box = WaitForWindow(pi.dwProcessId, "#32770");
        if (!box)
            return "(no box)";
        std::string caption = TextOf(box);
        if (text)
            *text = TextOf(GetDlgItem(box, 0xFFFF));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        for (DWORD start = GetTickCount(); IsWindow(box) && GetTickCount() - start < 5000;)
            Sleep(1);
        return caption;
    }

    // A verdict: the field keeps the entry while the box is up, and is
    // emptied once it is dismissed.
    std::string Answer()
    {
        HWND box = WaitForWindow(pi.dwProcessId, "#32770");
        EXPECT_FALSE(box && TextOf(hwndField).empty()) << "field emptied before the box was dismissed";
        std::string caption = Dismiss();
        for (DWORD start = GetTickCount(); !TextOf(hwndField).empty() && GetTickCount() - start < 5000;)
            Sleep(1);
        EXPECT_EQ(TextOf(hwndField), "") << "field not emptied after the box";
        return caption;
    }

    // What the process holds. Wine 8 reports neither PrivateUsage (its
    // PagefileUsage, the same figure on Windows, is there), nor handle counts
    // (its system handle table is), nor USER and GDI objects (0: then the
    // process's windows, top-level and child, stand in for USER objects).
    struct Usage {
        SIZE_T privateBytes;
        DWORD handles, windows, user, gdi;
    };

    Usage UsageNow()
    {
        PROCESS_MEMORY_COUNTERS_EX memory = {};
        memory.cb = sizeof memory;
        GetProcessMemoryInfo(pi.hProcess, (PROCESS_MEMORY_COUNTERS *)&memory, sizeof memory);
        Usage usage = { memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage, 0,
                        WindowsOf(pi.dwProcessId), GetGuiResources(pi.hProcess, GR_USEROBJECTS),
                        GetGuiResources(pi.hProcess, GR_GDIOBJECTS) };
        if (!GetProcessHandleCount(pi.hProcess, &usage.handles) || !usage.handles)
            usage.handles = HandlesInSystemTable(pi.dwProcessId);
        return usage;
    }

    // `count` entries, wrong words and the password in turn; each verdict
    // must be the right one. Returns the latency of each, in milliseconds.
    std::vector<double> Entries(int count)
    {
        const std::string password = ConfiguredPassword();
        LARGE_INTEGER frequency, posted, shown;
        QueryPerformanceFrequency(&frequency);
        std::vector<double> latencies;
        for (int i = 0; i < count; i++) {
            bool right = i % 2;
            Post(right ? password : "wrong" + std::to_string(i % 10));
            for (DWORD start = GetTickCount(); TextOf(hwndField).size() < 5 && GetTickCount() - start < 5000;)
                Sleep(0);
            QueryPerformanceCounter(&posted);
            Post("\r");
            WaitForWindow(pi.dwProcessId, "#32770");
            QueryPerformanceCounter(&shown);
            latencies.push_back(1000.0 * (shown.QuadPart - posted.QuadPart) / frequency.QuadPart);
            std::string caption = Answer();
            if (caption != (right ? kSuccessCaption : kFailureCaption)) {
                ADD_FAILURE() << "entry " << i << ": expected the " << (right ? "success" : "failure")
                              << " box, got \"" << caption << "\"";
                break;
            }
        }
        return latencies;
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

TEST_F(PassWordProcess, ThousandEntriesLeaveNothingBehind)
{
    Start(SW_SHOWNORMAL);
    Entries(20);
    Usage before = UsageNow();
    Entries(1000);
    Usage after = UsageNow();
    EXPECT_GT(before.handles, 0u) << "no handle count";
    EXPECT_LE(after.handles, before.handles) << "handles grew";
    EXPECT_LE(after.windows, before.windows) << "windows grew";
    EXPECT_LE(after.user, before.user) << "USER objects grew";
    EXPECT_LE(after.gdi, before.gdi) << "GDI objects grew";
    EXPECT_GT(before.privateBytes, 0u) << "no private memory figure";
    EXPECT_LE(after.privateBytes, before.privateBytes + 64 * 1024)
        << "private memory grew from " << before.privateBytes << " to " << after.privateBytes;
    EXPECT_EQ(CloseFromSystemMenu(), 0u);
}

TEST_F(PassWordProcess, TypedTextLimitWarnsThenNextEntryIsJudged)
{
    Start(SW_SHOWNORMAL);
    SendMessageA(hwndField, EM_SETLIMITTEXT, 8, 0);
    Post("abcdefgh");
    Post("i");
    std::string text;
    EXPECT_EQ(Dismiss(&text), "Quorvel");
    EXPECT_EQ(text, "Edit control out of space.");
    EXPECT_EQ(TextOf(hwndField), "abcdefgh") << "the field keeps its text";

    SendMessageA(hwndField, EM_SETSEL, 0, -1);
    Post("\b");
    Post(ConfiguredPassword() + "\r");
    EXPECT_EQ(Answer(), kSuccessCaption);
    EXPECT_EQ(CloseFromSystemMenu(), 0u);
}

// Run under a double-byte code page (LANG=ja_JP.UTF-8 gives 932).
TEST_F(PassWordProcess, DoubleByteEntryIsRejected)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "needs code page 932, have " << GetACP();
    Start(SW_SHOWNORMAL);
    // Two hiragana (two bytes each), a letter and Enter: seven bytes in all.
    // An ANSI window gets a double-byte character as two WM_CHARs.
    for (const char *entry : { "\x82\xA0\x82\xA2" "a\r", "\x82\xA0\r", "\x82\xA0\x82\xA2\x82\xA4\r" }) {
        Post(entry);
        EXPECT_EQ(Answer(), kFailureCaption) << "entry \"" << entry << "\"";
    }
    Post(ConfiguredPassword() + "\r");
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

TEST(PassWordFile, CarriesVersionInformation)
{
    std::string path = ProgramPath();
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), NULL);
    ASSERT_GT(size, 0u) << "no version resource";
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    char *value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\ProductName", (void **)&value, &length));
    EXPECT_STREQ(value, "PassWord");
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\FileVersion", (void **)&value, &length));
    EXPECT_STREQ(value, PROJECT_VERSION_TEXT);
    VS_FIXEDFILEINFO *fixed = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void **)&fixed, &length));
    EXPECT_EQ(fixed->dwProductVersionMS, (DWORD)MAKELONG(PROJECT_VERSION_MINOR, PROJECT_VERSION_MAJOR));
}

// Figures for bench/, not a test: run with --gtest_also_run_disabled_tests.
TEST_F(PassWordProcess, DISABLED_Benchmark)
{
    LARGE_INTEGER frequency, started, shown;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    Start(SW_SHOWNORMAL); // returns once the window is visible
    QueryPerformanceCounter(&shown);
    printf("start to visible window: %.1f ms\n", 1000.0 * (shown.QuadPart - started.QuadPart) / frequency.QuadPart);

    std::vector<double> latency = Entries(200);
    std::sort(latency.begin(), latency.end());
    printf("verdict latency over %u entries: median %.2f ms, 90th percentile %.2f ms\n",
           (unsigned)latency.size(), latency[latency.size() / 2], latency[latency.size() * 9 / 10]);

    Usage before = UsageNow();
    Entries(1000);
    Usage after = UsageNow();
    printf("over 1000 more entries: private memory %+ld bytes (%lu -> %lu), handles %+ld (%lu -> %lu), "
           "windows %+ld (%lu -> %lu)\n",
           (long)(after.privateBytes - before.privateBytes), (unsigned long)before.privateBytes,
           (unsigned long)after.privateBytes, (long)after.handles - (long)before.handles,
           (unsigned long)before.handles, (unsigned long)after.handles,
           (long)after.windows - (long)before.windows, (unsigned long)before.windows, (unsigned long)after.windows);
    if (before.user || before.gdi)
        printf("over 1000 more entries: USER objects %+ld (%lu), GDI objects %+ld (%lu)\n",
               (long)after.user - (long)before.user, (unsigned long)before.user,
               (long)after.gdi - (long)before.gdi, (unsigned long)before.gdi);
    else
        printf("over 1000 more entries: USER and GDI object counts not reported by this system\n");
    EXPECT_EQ(CloseFromSystemMenu(), 0u);
}

} // namespace
