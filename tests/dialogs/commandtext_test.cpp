// SPDX-License-Identifier: MIT
// The texts that leave Zelbin for the receivers: clean-up, placeholders, payload test, Extras,
// and every builder's text read back into bytes as the service reads it.

#include "commandtext.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace
{
std::string Narrow(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// The templates, "0X1F,0x20" and "0 x1F" are in the send dialog's and zelbinctl's tests.
TEST(CommandText, CleanUpRemovesPrefixesThenBlanks)
{
    EXPECT_EQ(Narrow(CleanCommandText(u"0x0x1\t2")), "1\t2");
    EXPECT_EQ(Narrow(CleanCommandText(u"")), "");
}

// Left to right, one after another, and a "<" without ">" is no placeholder: the send dialog's
// Tab test. Here: angle brackets come before underscores.
TEST(CommandText, PlaceholdersAreVisitedAngleBracketsFirst)
{
    const auto range = FindNextPlaceholder(u"0x__,0x<A>", 0);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->start, 7u);
    EXPECT_EQ(range->end, 10u);
}

TEST(CommandText, LeadingIntegerLikeTheRuntime)
{
    const struct
    {
        const char16_t* text;
        int32_t value;
    } cases[] = {{u"100", 100}, {u"", 0},      {u"abc", 0},
                 {u"12ab", 12}, {u"  -7", -7}, {u"99999999999", INT32_MAX}};
    for (const auto& c : cases)
        EXPECT_EQ(ParseLeadingInt(c.text), c.value) << Narrow(c.text);
}

// The defaults, Yes/No, a window of 70000, mixed prefixes, question numbers and a total of 0 are in
// the payload dialog's and zelbinctl's tests, question 256 below; here, empty or odd fields.
TEST(PayloadTest, TextsFollowTypeWindowAndQuestionNumber)
{
    const struct
    {
        const char* name;
        PayloadTestSettings settings;
        size_t count;
        const char* text; // the first question's
    } cases[] = {
        // clang-format off
        {"empty one-byte", {u"1", 2, u"", u"0", u"0"}, 1, "ff,ff,26,3,0,0,0,0,0,0,3,b,1,"},
        {"empty four-byte", {u"1", 6, u"", u"0", u"0"}, 1, "ff,ff,26,3,0,0,0,0,0,0,6,25,0,1,0,1,"},
        {"no selection", {u"1", -1, u"", u"0", u"0"}, 1, "ff,ff,26,3,0,0,0,0,0,0,6,25,0,1,0,1,"},
        {"total empty", {u"", 0, u"0x1", u"0", u"0"}, 0, ""},
        {"length in lower-case hexadecimal", {u"1", 2, u"1,2,3,4,5,6,7,8", u"0", u"0"}, 1, "ff,ff,26,3,0,0,0,0,0,0,a,b,1,1,2,3,4,5,6,7,8"},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        const PayloadTestRun run = BuildPayloadTest(c.settings);
        ASSERT_EQ(std::max(run.iTotal, 0), static_cast<int32_t>(c.count)) << c.name;
        EXPECT_EQ(c.count ? Narrow(run.Text(1)) : "", c.text) << c.name;
    }
}

// Every builder's text goes through the reading the service goes by: what it takes comes back
// as the bytes meant, and what it refuses the sender's check refuses with the same reason.
// Names beyond Latin-1 give fields above ff, which both refuse.
TEST(CommandText, EveryBuilderReadsBackAsTheServiceReadsIt)
{
    PayloadTestSettings yesNo{u"256", 0, g_questionTypes[0].pszResponsePreset, u"0", u"6000"};
    const PayloadTestRun yesNoRun = BuildPayloadTest(yesNo);
    const PayloadTestRun mathRun = BuildPayloadTest({});
    const PayloadTestRun emptyRun = BuildPayloadTest({u"1", 2, u"", u"0", u"0"});
    const PayloadTestRun prefixRun = BuildPayloadTest({u"1", 0, u"0X1, 0x2", u"0", u"0"});
    const struct
    {
        const char* name;
        std::u16string text;
        const char* bytes;  // as the service reads them, when it takes the text
        const char* reason; // why it refuses it, else empty
    } cases[] = {
        // clang-format off
        {"login", LoginRequirementText(false, false), "00 00 06 02", ""},
        {"sample quiz 1", SampleQuizText(1),
         "00 00 0A 85 0A 0A 00 01 00 00 00 00 00 02 00 00 00 00 01 01 00 00 00 00 01 02 00 00 00 "
         "00 42 01 00 00 00 00 42 04 00 00 00 00 92 00 01 00 00 00 04 65 27 BA 00 00 05 51 35 65 "
         "00 00 52 00 00 00 00 00", ""},
        {"network name ROOM12", NetworkNameText(u"ROOM12"), "00 00 05 52 4F 4F 4D 31 32 00 00", ""},
        {"network name empty", NetworkNameText(u""), "00 00 05 00 00 00 00 00 00 00 00", ""},
        {"network name at ff", NetworkNameText(u"\u00ff\u00e9"), "00 00 05 FF E9 00 00 00 00 00 00", ""},
        {"network name one over ff", NetworkNameText(u"A\u0100"), "", "field 5 \"100\" is above ff"},
        {"network name with an emoji", NetworkNameText(u"\U0001F600"), "", "field 4 \"D83D\" is above ff"},
        {"payload test, Math", mathRun.Text(1),
         "FF FF 26 03 17 70 00 00 00 00 1F 25 00 01 00 01 00 18 CE C8 2D 62 00 CC CA CB C8 62 CF "
         "C8 32 C9 2D 34 61 63 C9 C9 C8 32 61 C9", ""},
        {"payload test, question 255", yesNoRun.Text(255), "FF FF 26 03 17 70 00 00 00 00 07 0B FF 01 00 00 00 00", ""},
        {"payload test, question 256", yesNoRun.Text(256), "", "field 13 \"100\" is above ff"},
        {"payload test, empty response", emptyRun.Text(1), "", "empty field 14"},
        {"payload test, upper-case prefix", prefixRun.Text(1), "", "field 14 \"0X1\" is not hexadecimal"},
        {"template with placeholders", CleanCommandText(g_commandTemplates[1].pszTemplate), "", "field 1 \"<ShortAddrHigh>\" is not hexadecimal"},
        {"template filled in", CleanCommandText(u"0x0, 0x1,0x0D,0x1f"), "00 01 0D 1F", ""},
        {"three digits at ff", u"0ff,FF,00000000000000000001", "FF FF 01", ""},
        {"seventeen digits", u"0,0,10000000000000000", "", "field 3 \"10000000000000000\" is above ff"},
        {"a stray letter after a large value", u"0,0,100z", "", "field 3 \"100z\" is not hexadecimal"},
        {"two fields", u"0,0", "", "too few fields (short address high, low and command identifier are needed)"},
        {"an empty field", u"0,,1", "", "empty field 2"},
        {"a trailing comma", u"0,0,0,", "", "empty field 4"},
        {"nothing", u"", "", "empty field 1"},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        std::vector<uint8_t> bytes;
        EXPECT_EQ(ParseCommandText(c.text, bytes), c.reason) << c.name;
        const std::string check = CheckCommandText(c.text);
        if (*c.reason)
        {
            EXPECT_EQ(check.substr(0, 34), "the receiver service would refuse ") << c.name;
            EXPECT_TRUE(check.ends_with(std::string("\": ") + c.reason)) << c.name << ": " << check;
        }
        else
        {
            EXPECT_EQ(Hex(bytes.data(), bytes.size()), c.bytes) << c.name;
            EXPECT_EQ(check, "") << c.name;
        }
    }
    // The 31st sample quiz uses the count's top bits (the window's Extras test sends 1 to 33).
    EXPECT_EQ(Narrow(SampleQuizText(31)).substr(7, 2), "fd");
    // A run is judged by its first and last question; none at all is nothing to refuse.
    EXPECT_EQ(BuildPayloadTest({u"255", 0, u"0x1", u"0", u"0"}).Check(), "");
    EXPECT_EQ(CheckCommandTexts({}, yesNoRun), CheckCommandText(yesNoRun.Text(256)));
    EXPECT_EQ(CheckCommandTexts({}, emptyRun), CheckCommandText(emptyRun.Text(1)));
    EXPECT_EQ(CheckCommandTexts({LoginRequirementText(true, true), NetworkNameText(u"R\u20ac")},
                                BuildPayloadTest({u"0", 2, u"", u"0", u"0"})),
              "the receiver service would refuse \"0,0,05,52,20AC,0,0,0,0,0,0\": field 5 \"20AC\" "
              "is above ff");
}
} // namespace
