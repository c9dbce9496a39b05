// SPDX-License-Identifier: MIT
// The texts that leave Zelbin for the receivers: clean-up, placeholders, payload test, Extras,
// and every builder's text read back into bytes as the service reads it.

#include "commandtext.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace
{
std::string Narrow(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::string HexOf(const std::vector<uint8_t>& bytes)
{
    std::string out;
    char two[4];
    for (uint8_t b : bytes)
    {
        std::snprintf(two, sizeof two, "%02X", b);
        out += (out.empty() ? "" : " ") + std::string(two);
    }
    return out;
}

TEST(CommandText, CleanUpRemovesPrefixesThenBlanks)
{
    const struct
    {
        const char16_t* typed;
        const char* sent;
    } cases[] = {
        {g_commandTemplates[0].pszTemplate, "<ShortAddrHigh>,<ShortAddrLow>,<CommandID>,<...>"},
        {g_commandTemplates[18].pszTemplate,
         "ff,ff,26,03,00,00,00,00,00,00,<CommandLength>,<Command>,<...>"},
        {u"0X1F,0x20", "0X1F,20"},
        {u"0 x1F", "0x1F"},
        {u"0x0x1\t2", "1\t2"},
        {u"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Narrow(CleanCommandText(c.typed)), c.sent) << Narrow(c.typed);
}

TEST(CommandText, PlaceholdersAreVisitedLeftToRightAngleBracketsFirst)
{
    const struct
    {
        const char16_t* text;
        size_t from;
        std::optional<std::pair<size_t, size_t>> next;
    } cases[] = {
        {u"0x0D,0x<ChannelID>", 0, std::pair<size_t, size_t>{7, 18}},
        {u"0x0D,0x<ChannelID>", 18, std::nullopt},
        {u"0x__,0x__", 0, std::pair<size_t, size_t>{2, 4}},
        {u"0x__,0x__", 4, std::pair<size_t, size_t>{7, 9}},
        {u"0x__,0x__", 9, std::nullopt},
        {u"0x<open,0x__", 0, std::nullopt}, // "<" without ">": no placeholder, underscores or not
        {u"0x__,0x<A>", 0, std::pair<size_t, size_t>{7, 10}},
    };
    for (const auto& c : cases)
    {
        const auto range = FindNextPlaceholder(c.text, c.from);
        ASSERT_EQ(range.has_value(), c.next.has_value()) << Narrow(c.text) << " from " << c.from;
        if (range)
        {
            EXPECT_EQ(range->start, c.next->first) << Narrow(c.text);
            EXPECT_EQ(range->end, c.next->second) << Narrow(c.text);
        }
    }
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

TEST(PayloadTest, TextsFollowTypeWindowAndQuestionNumber)
{
    PayloadTestSettings defaults;
    PayloadTestRun run = BuildPayloadTest(defaults);
    ASSERT_EQ(run.iTotal, 100);
    EXPECT_EQ(run.iLatencyMs, 10000);
    EXPECT_EQ(Narrow(run.Text(1)),
              "ff,ff,26,3,17,70,0,0,0,0,1f,25,0,1,0,1,0,18,ce,c8,2d,62,0,cc,ca,cb,c8,62,cf,"
              "c8,32,c9,2d,34,61,63,c9,c9,c8,32,61,c9");
    EXPECT_EQ(Narrow(run.Text(100)).substr(0, 44), "ff,ff,26,3,17,70,0,0,0,0,1f,25,0,1,0,64,0,18");

    const struct
    {
        const char* name;
        PayloadTestSettings settings;
        size_t count;
        size_t index;
        const char* text;
    } cases[] = {
        // clang-format off
        {"yes/no", {u"1", 0, g_questionTypes[0].pszResponsePreset, u"0", u"6000"}, 1, 0, "ff,ff,26,3,17,70,0,0,0,0,7,b,1,1,0,0,0,0"},
        {"window 70000", {u"1", 0, u"0x1", u"0", u"70000"}, 1, 0, "ff,ff,26,3,11,70,0,0,0,0,3,b,1,1"},
        {"question 256", {u"256", 0, u"0x1", u"0", u"0"}, 256, 255, "ff,ff,26,3,0,0,0,0,0,0,3,b,100,1"},
        {"empty one-byte", {u"1", 2, u"", u"0", u"0"}, 1, 0, "ff,ff,26,3,0,0,0,0,0,0,3,b,1,"},
        {"empty four-byte", {u"1", 6, u"", u"0", u"0"}, 1, 0, "ff,ff,26,3,0,0,0,0,0,0,6,25,0,1,0,1,"},
        {"mixed prefixes", {u"1", 0, u"0X1, 0x2", u"0", u"0"}, 1, 0, "ff,ff,26,3,0,0,0,0,0,0,4,b,1,0X1,2"},
        {"no selection", {u"1", -1, u"", u"0", u"0"}, 1, 0, "ff,ff,26,3,0,0,0,0,0,0,6,25,0,1,0,1,"},
        {"three back to back", {u"3", 4, u"0x1", u"0", u"0"}, 3, 2, "ff,ff,26,3,0,0,0,0,0,0,3,b,3,1"},
        {"total 0", {u"0", 0, u"0x1", u"0", u"0"}, 0, 0, ""},
        {"total empty", {u"", 0, u"0x1", u"0", u"0"}, 0, 0, ""},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        run = BuildPayloadTest(c.settings);
        ASSERT_EQ(std::max(run.iTotal, 0), static_cast<int32_t>(c.count)) << c.name;
        const int32_t index = static_cast<int32_t>(c.index) + 1;
        EXPECT_EQ(c.count ? Narrow(run.Text(index)) : "", c.text) << c.name;
    }
}

TEST(Extras, LoginSampleQuizAndNetworkNameTexts)
{
    EXPECT_EQ(LoginRequirementText(false, false), u"0,0,06,2");
    EXPECT_EQ(LoginRequirementText(false, true), u"0,0,06,3");
    EXPECT_EQ(LoginRequirementText(true, false), u"0,0,06,5");
    EXPECT_EQ(LoginRequirementText(true, true), u"0,0,06,7");

    const std::u16string quiz = SampleQuizText(1);
    EXPECT_EQ(Narrow(quiz).substr(0, 13), "0,0,0A,85,0A,");
    EXPECT_EQ(std::count(quiz.begin(), quiz.end(), u',') + 1, 66);
    EXPECT_EQ(Narrow(SampleQuizText(31)).substr(7, 2), "fd");
    EXPECT_EQ(Narrow(SampleQuizText(32)).substr(7, 2), "81");
    EXPECT_EQ(Narrow(SampleQuizText(33)).substr(7, 2), "85");

    EXPECT_EQ(Narrow(NetworkNameText(u"XY")), "0,0,05,58,59,0,0,0,0,0,0");
    EXPECT_EQ(Narrow(NetworkNameText(u"ABCDEFGHIJ")), "0,0,05,41,42,43,44,45,46,47,48");
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
        {"network name with the euro sign", NetworkNameText(u"R\u20ac"), "", "field 5 \"20AC\" is above ff"},
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
            EXPECT_EQ(HexOf(bytes), c.bytes) << c.name;
            EXPECT_EQ(check, "") << c.name;
        }
    }
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
