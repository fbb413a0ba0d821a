#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "entry.h"
#include "test_password.h"

namespace {

const char *Name(EntryOutcome outcome)
{
    switch (outcome) {
    case Incomplete: return "Incomplete";
    case Rejected: return "Rejected";
    case Accepted: return "Accepted";
    }
    return "?";
}

EntryOutcome Judge(const std::string &text)
{
    return CheckEntry(text.data(), (int)text.size());
}

struct Case {
    const char *what;
    std::string text;
    EntryOutcome expected;
};

std::string OtherCase(std::string word, size_t at)
{
    char c = word[at];
    if (c >= 'a' && c <= 'z') word[at] = (char)(c - 32);
    else if (c >= 'A' && c <= 'Z') word[at] = (char)(c + 32);
    else word[at] = (char)(c ^ 1);
    return word;
}

TEST(CheckEntry, VerdictRules)
{
    const std::string p = ConfiguredPassword();
    const std::vector<Case> cases = {
        { "three letters, no Enter", "abc", Incomplete },
        { "password without Enter", p, Incomplete },
        { "password and CR only", p + "\r", Incomplete },
        { "Enter pressed in the middle", p + "\r\nx", Incomplete },
        { "Enter in an empty field", "\r\n", Rejected },
        { "a lone line feed", "\n", Rejected },
        { "password and CR LF", p + "\r\n", Accepted },
        { "password, a space, LF", p + " \n", Accepted },
        { "password, LF only", p + "\n", Rejected },
        { "password and one more character", p + "x\r\n", Rejected },
        { "password twice", p + p + "\r\n", Rejected },
        { "first character in the other case", OtherCase(p, 0) + "\r\n", Rejected },
        { "last character in the other case", OtherCase(p, 4) + "\r\n", Rejected },
        { "first four characters and CR LF", p.substr(0, 4) + "x\r\n", Rejected },
        { "high bytes", "\xC0\xC1\xC2\xC3\xC4\r\n", Rejected },
        { "a zero byte inside", p.substr(0, 2) + std::string(1, '\0') + p.substr(3) + "\r\n", Rejected },
    };
    for (const Case &c : cases) {
        EntryOutcome got = Judge(c.text);
        EXPECT_EQ(got, c.expected) << c.what << ": expected " << Name(c.expected)
                                   << ", got " << Name(got);
    }
}

TEST(CheckEntry, LooksOnlyAtTheReportedLength)
{
    const std::string p = ConfiguredPassword();
    std::string text = p + "\r\nmore";
    EXPECT_EQ(CheckEntry(text.data(), 7), Accepted);
    EXPECT_EQ(CheckEntry(text.data(), 6), Incomplete);
    EXPECT_EQ(CheckEntry(text.data(), 0), Incomplete) << "an empty text is not an entry";
}

EntryOutcome Model(const std::string &text, const std::string &password)
{
    if (text.empty() || text.back() != '\n')
        return Incomplete;
    if (text.size() == 7 && text.compare(0, 5, password) == 0)
        return Accepted;
    return Rejected;
}

// Every text of up to seven symbols drawn from the password's characters,
// one stranger, CR and LF.
TEST(CheckEntry, AgreesWithPlainModel)
{
    const std::string p = ConfiguredPassword();
    std::string alphabet = "\r\n";
    for (char c : p)
        if (alphabet.find(c) == std::string::npos)
            alphabet += c;
    for (char c : std::string("xX~0"))
        if (alphabet.find(c) == std::string::npos) {
            alphabet += c;
            break;
        }

    const size_t k = alphabet.size();
    size_t checked = 0, accepted = 0;
    for (size_t length = 1; length <= 7; length++) {
        std::vector<size_t> digits(length, 0);
        std::string text(length, alphabet[0]);
        for (;;) {
            EntryOutcome got = Judge(text), want = Model(text, p);
            if (got != want) {
                ADD_FAILURE() << "text of " << length << " bytes: expected "
                              << Name(want) << ", got " << Name(got);
                return;
            }
            checked++;
            accepted += got == Accepted;
            size_t i = 0;
            while (i < length && ++digits[i] == k) {
                digits[i] = 0;
                text[i] = alphabet[0];
                i++;
            }
            if (i == length)
                break;
            text[i] = alphabet[digits[i]];
        }
    }
    // k choices for the byte before the line feed.
    EXPECT_EQ(accepted, k) << "texts accepted";
    EXPECT_GT(checked, 100000u);
}

} // namespace
