#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "entry.h"
#include "test_password.h"

namespace {

const char *const kNames[] = { "Incomplete", "Rejected", "Accepted" };

TEST(CheckEntry, VerdictRules)
{
    const std::string p = ConfiguredPassword();
    struct Case {
        std::string what, text;
        EntryOutcome expected;
    };
    std::vector<Case> cases = {
        { "three letters, no Enter", "abc", Incomplete },
        { "password and CR only", p + "\r", Incomplete },
        { "Enter pressed in the middle", p + "\r\nx", Incomplete },
        { "Enter in an empty field", "\r\n", Rejected },
        { "password and CR LF", p + "\r\n", Accepted },
        { "password, a space, LF", p + " \n", Accepted },
        { "password, LF only", p + "\n", Rejected },
        { "password and one more character", p + "x\r\n", Rejected },
    };
    for (size_t i = 0; i < 5; i++) {
        std::string wrong = p;
        wrong[i] ^= 0x20; // the other case, for a letter
        cases.push_back({ "byte " + std::to_string(i) + " changed", wrong + "\r\n", Rejected });
    }
    for (const Case &c : cases) {
        EntryOutcome got = CheckEntry(c.text.data(), (int)c.text.size());
        EXPECT_EQ(got, c.expected) << c.what << ": expected " << kNames[c.expected]
                                   << ", got " << kNames[got];
    }
    // Only the reported length counts, and an empty text is no entry.
    const std::string longer = p + "\r\nmore";
    EXPECT_EQ(CheckEntry(longer.data(), 7), Accepted);
    EXPECT_EQ(CheckEntry(longer.data(), 0), Incomplete);
}

} // namespace
