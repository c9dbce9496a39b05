// SPDX-License-Identifier: MIT
// The texts that leave Zelbin for the receivers: clean-up, placeholders, payload test, Extras.

#include "commandtext.h"

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

    EXPECT_EQ(Narrow(NetworkNameText(u"ROOM12")), "0,0,05,52,4F,4F,4D,31,32,0,0");
    EXPECT_EQ(Narrow(NetworkNameText(u"XY")), "0,0,05,58,59,0,0,0,0,0,0");
    EXPECT_EQ(Narrow(NetworkNameText(u"ABCDEFGHIJ")), "0,0,05,41,42,43,44,45,46,47,48");
    EXPECT_EQ(Narrow(NetworkNameText(u"\u20ac")), "0,0,05,20AC,0,0,0,0,0,0,0");
    EXPECT_EQ(Narrow(NetworkNameText(u"")), "0,0,05,0,0,0,0,0,0,0,0");
}
} // namespace
