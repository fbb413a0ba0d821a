// HandleEntryUpdate against a recording field and message box, and a heap
// that can be told to fail.
#include <gtest/gtest.h>

#include <iconv.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "entry.h"
#include "test_password.h"
#include "win32_stand_in.h"

namespace {

using Calls = std::vector<std::string>;

struct Field {
    std::string text;
    int reportedLength = -1; // the length query's answer, when it lies
    int copyLimit = INT_MAX; // the read copies at most this many bytes
    bool failMalloc = false;
};

Field field;
bool recording = false;
Calls calls;
void *lastBuffer = nullptr;
std::string boxText, boxCaption;
UINT boxStyle = 0;

} // namespace

extern "C" void *__real_malloc(size_t size);
extern "C" void __real_free(void *block);

extern "C" void *__wrap_malloc(size_t size)
{
    if (!recording)
        return __real_malloc(size);
    calls.push_back("malloc " + std::to_string(size));
    if (field.failMalloc)
        return nullptr;
    // Line feeds, so that judging a byte the read did not write shows.
    lastBuffer = __real_malloc(size);
    memset(lastBuffer, '\n', size);
    return lastBuffer;
}

extern "C" void __wrap_free(void *block)
{
    if (recording && block)
        calls.push_back(block == lastBuffer ? "free buffer" : "free other");
    __real_free(block);
}

int GetWindowTextLengthA(HWND)
{
    calls.push_back("length");
    return field.reportedLength >= 0 ? field.reportedLength : (int)field.text.size();
}

int GetWindowTextA(HWND, char *lpString, int nMaxCount)
{
    calls.push_back("read " + std::to_string(nMaxCount));
    int n = std::min({ (int)field.text.size(), nMaxCount - 1, field.copyLimit });
    memcpy(lpString, field.text.data(), n);
    lpString[n] = '\0';
    return n;
}

int MessageBoxA(HWND hWnd, const char *lpText, const char *lpCaption, UINT uType)
{
    calls.push_back(hWnd == (HWND)1 ? "box" : "box with another owner");
    boxText = lpText;
    boxCaption = lpCaption;
    boxStyle = uType;
    return 1;
}

BOOL SetWindowTextA(HWND hWnd, const char *lpString)
{
    calls.push_back(std::string(hWnd == (HWND)2 ? "set" : "set another window") + " \"" + lpString + "\"");
    field.text = lpString;
    return 1;
}

namespace {

const Calls kVerdict = { "length", "malloc 8", "read 8", "box", "set \"\"", "free buffer" };

TEST(HandleEntryUpdate, CallsAndWhatIsLeftInTheField)
{
    const std::string p = ConfiguredPassword() + "\r\n";
    const Calls noVerdict = { "length", "malloc 8", "read 8", "free buffer" };
    struct {
        const char *what;
        Field given;
        Calls expected;
        std::string left;
    } const cases[] = {
        { "empty field", { "" }, { "length" }, "" },
        { "length reported 0", { "x\r\n", 0 }, { "length" }, "x\r\n" },
        { "length at INT_MAX", { "x\r\n", INT_MAX }, { "length" }, "x\r\n" },
        { "no Enter yet", { "abc" }, { "length", "malloc 4", "read 4", "free buffer" }, "abc" },
        { "Enter in an empty field", { "\r\n" }, { "length", "malloc 3", "read 3", "box", "set \"\"", "free buffer" }, "" },
        { "wrong word", { "wrong\r\n" }, kVerdict, "" },
        { "the password", { p }, kVerdict, "" },
        { "Enter in the middle", { p + "x" }, { "length", "malloc 9", "read 9", "free buffer" }, p + "x" },
        { "no memory", { p, -1, INT_MAX, true }, { "length", "malloc 8" }, p },
        // Short reads: the unwritten tail holds line feeds, so judging it shows.
        { "length over-reported", { "abc", 7 }, noVerdict, "abc" },
        { "nothing copied", { "\r\n", 7, 0 }, noVerdict, "\r\n" },
        { "password copied, length over-reported", { p, 9 },
          { "length", "malloc 10", "read 10", "box", "set \"\"", "free buffer" }, "" },
    };
    for (const auto &c : cases) {
        field = c.given;
        calls.clear();
        recording = true;
        HandleEntryUpdate((HWND)1, (HWND)2);
        recording = false;
        EXPECT_EQ(calls, c.expected) << c.what;
        EXPECT_EQ(field.text, c.left) << c.what << ": field afterwards";
    }
}

std::string Cp1251(const char *utf8)
{
    iconv_t cd = iconv_open("CP1251", "UTF-8");
    char out[256];
    char *in = const_cast<char *>(utf8), *to = out;
    size_t inLeft = strlen(utf8), outLeft = sizeof out;
    EXPECT_NE(iconv(cd, &in, &inLeft, &to, &outLeft), (size_t)-1);
    iconv_close(cd);
    return std::string(out, to - out);
}

TEST(HandleEntryUpdate, VerdictBoxesInCodePage1251)
{
    struct {
        std::string text;
        std::string boxText, boxCaption;
        UINT style;
    } const cases[] = {
        { "nope!\r\n", Cp1251("НЕУДАЧА (попробуйте еще раз)!"), "ERROR", 0x10 },
        { ConfiguredPassword() + "\r\n", Cp1251("ПОБЕДА! Можете сдавать РАБОТУ!"), Cp1251("УДАЧА!"), 0x40 },
    };
    for (const auto &c : cases) {
        field = Field{ c.text };
        HandleEntryUpdate((HWND)1, (HWND)2);
        EXPECT_EQ(boxText, c.boxText);
        EXPECT_EQ(boxCaption, c.boxCaption);
        EXPECT_EQ(boxStyle, c.style);
    }
}

} // namespace
