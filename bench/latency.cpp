// Times PassWord.exe from another process: start to visible window, and Enter
// to verdict box over 200 entries; then what 1,000 more entries do to what
// the process holds. Prints figures; fails only when a verdict is wrong.
// PassWord.exe is the one beside it; PASSWORD_MASKED and PASSWORD_MASK say
// its password.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "program_driver.h"
#include "../tests/test_password.h"

static BOOL CALLBACK CountChild(HWND, LPARAM lParam)
{
    ++*(DWORD *)lParam;
    return TRUE;
}

static DWORD WindowsOf(DWORD pid)
{
    DWORD count = 0;
    for (HWND hwnd = GetTopWindow(NULL); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == pid) {
            count++;
            EnumChildWindows(hwnd, CountChild, (LPARAM)&count); // every descendant
        }
    }
    return count;
}

// Wine reports no handle count for another process; its system handle table
// (SystemHandleInformation) has the owner's id in each entry's low word.
static DWORD HandlesOf(const Program &program)
{
    DWORD count = 0;
    if (GetProcessHandleCount(program.pi.hProcess, &count) && count)
        return count;
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
    const Entry *entries = (const Entry *)(buffer.data() + sizeof(ULONG_PTR));
    for (ULONG i = 0; status == 0 && i < *(ULONG *)buffer.data(); i++)
        count += (entries[i].owner & 0xFFFF) == (program.pi.dwProcessId & 0xFFFF);
    return count;
}

static SIZE_T MemoryOf(const Program &program)
{
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(program.pi.hProcess, (PROCESS_MEMORY_COUNTERS *)&memory, sizeof memory);
    return memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage; // the latter on Wine
}

static double Milliseconds(const LARGE_INTEGER &from)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * (now.QuadPart - from.QuadPart) / frequency.QuadPart;
}

// Wrong words and the password in turn; the latency of each verdict.
static bool Entries(Program &program, int count, std::vector<double> *latencies)
{
    const std::string password = ConfiguredPassword();
    for (int i = 0; i < count; i++) {
        bool right = i % 2;
        program.Post(right ? password : "wrong");
        WaitUntil([&] { return TextOf(program.hwndField).size() == 5; });
        LARGE_INTEGER posted;
        QueryPerformanceCounter(&posted);
        program.Post("\r");
        WaitForWindow(program.pi.dwProcessId, kBoxClass);
        if (latencies)
            latencies->push_back(Milliseconds(posted));
        std::string caption = program.Answer();
        if (caption != (right ? kSuccessCaption : kFailureCaption)) {
            printf("entry %d: expected the %s box, got \"%s\"\n", i, right ? "success" : "failure", caption.c_str());
            return false;
        }
    }
    return true;
}

int main()
{
    Program program;
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    if (!program.Start(Beside("PassWord.exe")))
        return 1;
    printf("start to visible window: %.1f ms\n", Milliseconds(started));

    std::vector<double> latency;
    if (!Entries(program, 200, &latency))
        return 1;
    std::sort(latency.begin(), latency.end());
    printf("verdict latency over %u entries: median %.2f ms, 90th percentile %.2f ms\n",
           (unsigned)latency.size(), latency[latency.size() / 2], latency[latency.size() * 9 / 10]);

    // Before and after: private memory, handles, windows.
    unsigned long before[3] = { (unsigned long)MemoryOf(program), HandlesOf(program), WindowsOf(program.pi.dwProcessId) };
    if (!Entries(program, 1000, NULL))
        return 1;
    unsigned long after[3] = { (unsigned long)MemoryOf(program), HandlesOf(program), WindowsOf(program.pi.dwProcessId) };
    printf("over 1000 more entries: private memory %+ld bytes (%lu -> %lu), handles %+ld (%lu -> %lu), "
           "windows %+ld (%lu -> %lu)\n",
           (long)(after[0] - before[0]), before[0], after[0], (long)(after[1] - before[1]), before[1], after[1],
           (long)(after[2] - before[2]), before[2], after[2]);
    return program.Close() == 0 ? 0 : 1;
}
