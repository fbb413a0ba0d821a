// HandleEntryUpdate against a recording field and message box, and a heap
// that can be told to fail.
#include <gtest/gtest.h>

#include <iconv.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "entry.h"
#include "test_password.h"

namespace {

struct Field {
    std::string text;
    int reportedLength = -1; // the length query's answer, when it lies
    int copyLimit = -1;      // the read copies at most this many bytes
};

Field field;
bool recording = false;
bool failMalloc = false;
std::vector<std::string> calls;
void *lastBuffer = nullptr;
std::string boxText, boxCaption;
UINT boxStyle = 0;

HWND const hwndOwner = (HWND)0x100;
HWND const hwndField = (HWND)0x200;

} // namespace

extern "C" void *__real_malloc(size_t size);
extern "C" void __real_free(void *block);

extern "C" void *__wrap_malloc(size_t size)
{
    if (!recording)
        return __real_malloc(size);
    calls.push_back("malloc " + std::to_string(size));
    if (failMalloc)
        return nullptr;
    // Line feeds, so that judging a byte the read did not write shows.
    lastBuffer = __real_malloc(size);
    if (lastBuffer)
        memset(lastBuffer, '\n', size);
    return lastBuffer;
}

extern "C" void __wrap_free(void *block)
{
    if (recording && block)
        calls.push_back(block == lastBuffer ? "free buffer" : "free other");
    __real_free(block);
}

int GetWindowTextLengthA(HWND hWnd)
{
    EXPECT_EQ(hWnd, hwndField);
    calls.push_back("length");
    return field.reportedLength >= 0 ? field.reportedLength : (int)field.text.size();
}

int GetWindowTextA(HWND hWnd, char *lpString, int nMaxCount)
{
    EXPECT_EQ(hWnd, hwndField);
    calls.push_back("read " + std::to_string(nMaxCount));
    if (nMaxCount <= 0)
        return 0;
    int n = std::min((int)field.text.size(), nMaxCount - 1);
    if (field.copyLimit >= 0)
        n = std::min(n, field.copyLimit);
    memcpy(lpString, field.text.data(), n);
    lpString[n] = '\0';
    return n;
}

int MessageBoxA(HWND hWnd, const char *lpText, const char *lpCaption, UINT uType)
{
    EXPECT_EQ(hWnd, hwndOwner);
    EXPECT_EQ(field.text.empty(), false) << "field emptied before the box";
    calls.push_back("box");
    boxText = lpText;
    boxCaption = lpCaption;
    boxStyle = uType;
    return 1;
}

BOOL SetWindowTextA(HWND hWnd, const char *lpString)
{
    EXPECT_EQ(hWnd, hwndField);
    calls.push_back(std::string("set \"") + lpString + "\"");
    field.text = lpString;
    return 1;
}

namespace {

std::vector<std::string> Update(const std::string &text)
{
    field.text = text;
    calls.clear();
    boxText.clear();
    boxCaption.clear();
    boxStyle = 0;
    recording = true;
    HandleEntryUpdate(hwndOwner, hwndField);
    recording = false;
    return calls;
}

class HandleEntryUpdateTest : public ::testing::Test {
protected:
    void TearDown() override { field = Field(); failMalloc = false; }
};

using Calls = std::vector<std::string>;

TEST_F(HandleEntryUpdateTest, CompleteEntryRunsTheWholeSequence)
{
    Calls got = Update(ConfiguredPassword() + "\r\n");
    Calls want = { "length", "malloc 8", "read 8", "box", "set \"\"", "free buffer" };
    EXPECT_EQ(got, want);
    EXPECT_EQ(field.text, "");
}

TEST_F(HandleEntryUpdateTest, OutcomesAndWhatIsLeft)
{
    struct {
        std::string text;
        bool boxShown;
        std::string left;
    } const cases[] = {
        { "", false, "" },
        { "abc", false, "abc" },
        { "\r\n", true, "" },
        { "wrong\r\n", true, "" },
        { ConfiguredPassword() + "\r\nabc", false, ConfiguredPassword() + "\r\nabc" },
    };
    for (const auto &c : cases) {
        Calls got = Update(c.text);
        bool shown = std::find(got.begin(), got.end(), "box") != got.end();
        EXPECT_EQ(shown, c.boxShown) << "text \"" << c.text << "\"";
        EXPECT_EQ(field.text, c.left) << "text \"" << c.text << "\"";
        if (!c.text.empty()) {
            EXPECT_EQ(got.back(), "free buffer") << "text \"" << c.text << "\"";
        }
    }
}

TEST_F(HandleEntryUpdateTest, EmptyFieldTakesNoBuffer)
{
    EXPECT_EQ(Update(""), Calls{ "length" });
    field.reportedLength = 0;
    EXPECT_EQ(Update("ignored"), Calls{ "length" });
}

std::string Cp1251(const char *utf8)
{
    iconv_t cd = iconv_open("CP1251", "UTF-8");
    EXPECT_NE(cd, (iconv_t)-1);
    char out[256];
    char *in = const_cast<char *>(utf8), *to = out;
    size_t inLeft = strlen(utf8), outLeft = sizeof out;
    EXPECT_NE(iconv(cd, &in, &inLeft, &to, &outLeft), (size_t)-1);
    iconv_close(cd);
    return std::string(out, to - out);
}

TEST_F(HandleEntryUpdateTest, VerdictTextsAreCodePage1251)
{
    Update("nope!\r\n");
    EXPECT_EQ(boxText, Cp1251("НЕУДАЧА (попробуйте еще раз)!"));
    EXPECT_EQ(boxText.size(), 29u);
    EXPECT_EQ(boxCaption, "ERROR");
    EXPECT_EQ(boxStyle, 0x10u);

    Update(ConfiguredPassword() + "\r\n");
    EXPECT_EQ(boxText, Cp1251("ПОБЕДА! Можете сдавать РАБОТУ!"));
    EXPECT_EQ(boxText.size(), 30u);
    EXPECT_EQ(boxCaption, Cp1251("УДАЧА!"));
    EXPECT_EQ(boxCaption.size(), 6u);
    EXPECT_EQ(boxStyle, 0x40u);
}

TEST_F(HandleEntryUpdateTest, NoMemoryLeavesFieldAlone)
{
    failMalloc = true;
    EXPECT_EQ(Update(ConfiguredPassword() + "\r\n"), (Calls{ "length", "malloc 8" }));
    EXPECT_EQ(field.text, ConfiguredPassword() + "\r\n");
}

TEST_F(HandleEntryUpdateTest, ShortReadJudgesOnlyCopiedBytes)
{
    // The length query over-reports; the unwritten tail of the buffer holds
    // line feeds, so judging it would give a verdict.
    field.reportedLength = 7;
    Calls got = Update("abc");
    EXPECT_EQ(got, (Calls{ "length", "malloc 8", "read 8", "free buffer" }));
    EXPECT_EQ(field.text, "abc");

    field.reportedLength = 9;
    Update(ConfiguredPassword() + "\r\n");
    EXPECT_EQ(boxStyle, 0x40u) << "the copied seven bytes are the password and CR LF";

    field.reportedLength = 7;
    field.copyLimit = 0;
    EXPECT_EQ(Update("\r\n").back(), "free buffer");
    EXPECT_EQ(field.text, "\r\n") << "nothing copied, nothing judged";
}

TEST_F(HandleEntryUpdateTest, LengthAtIntMaxDoesNotOverflow)
{
    field.reportedLength = INT_MAX;
    EXPECT_EQ(Update("x\r\n"), Calls{ "length" });
    EXPECT_EQ(field.text, "x\r\n");
}

} // namespace
