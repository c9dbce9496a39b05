// SPDX-License-Identifier: MIT
// The command template table, the builders of every command text and its reading into bytes.

#include "commandtext.h"
#include "numbers.h"
#include "wire.h"

#include <algorithm>
#include <cstdio>

const CommandTemplate g_commandTemplates[COMMAND_TEMPLATE_COUNT] = {
    {u"New Command", u"0x<Short Addr High>,0x<Short Addr Low>,0x<Command ID>,0x<...>"},
    {u"Chanel Set and Query", u"0x<Short Addr High>,0x<Short Addr Low>,0x0D,0x<ChannelID>"},
    {u"Class Name", u"0x<Short Addr High>,0x<Short Addr Low>,0x05,0x<Char 1>,0x<...>,0x<Char 8>"},
    {u"Device Status", u"0x<Short Addr High>,0x<Short Addr Low>,0x01,0x<Received Status>"},
    {u"FW Info Query", u"0x<Short Addr High>,0x<Short Addr Low>,0x00"},
    {u"Joint/Login Response", u"0x<Short Addr High>,0x<Short Addr Low>,0x07"},
    {u"Hand-up", u"0x<Short Addr High>,0x<Short Addr Low>,0x0C,0x<ClrInd>"},
    {u"Login Grant", u"0x<Short Addr High>,0x<Short Addr Low>,0x08,0x<BootOut,LoginGnt>,0x<Char "
                     u"1>,0x<...>,0x<Char n>"},
    {u"Login Requirement", u"0x<Short Addr High>,0x<Short Addr Low>,0x06,0x<Trig,Reg>"},
    {u"Network Start", u"0x<Short Addr High>,0x<Short Addr Low>,0x04,0x<start/stop>"},
    {u"PAN ID", u"0x<Short Addr High>,0x<Short Addr Low>,0x03,0x<ID High>,0x<ID Low>"},
    {u"Question and Answer Download",
     u"0x<Short Addr High>,0x<Short Addr Low>,0x0A,0x<Num Que>,0x<Max Choice 1,Question Type 1>,"
     u"0x<Answer 1>,0x<...>,0x<Max Choice n,Question Type n>,0x<Answer n>"},
    {u"Question Download",
     u"0x<Short Addr High>,0x<Short Addr Low>,0x09,0x<Num Que>,0x<Max Choice 1,Question Type 1>,"
     u"0x<...>,0x<Max Choice n,Question Type n>"},
    {u"Answer Upload", u"0x<Short Addr High>,0x<Short Addr Low>,0x0B"},
    {u"Session End", u"0x<Short Addr High>,0x<Short Addr Low>,0x0E,0x<PwrDn>"},
    {u"Transmit Power", u"0x<Short Addr High>,0x<Short Addr Low>,0x02,0x<PA Level>"},
    {u"Network Scan", u"0x<Short Addr High>,0x<Short Addr Low>,0x17"},
    {u"Scan Results",
     u"0x<Short Addr High>,0x<Short Addr Low>,0x11,0x<Channel Mask High>,0x<Channel Mask Low>"},
    {u"Payload Test Command",
     u"0xff,0xff,0x26,0x03,0x00,0x00,0x00,0x00,0x00,0x00,0x<Command Length>,0x<Command>,0x<...>"},
};

namespace
{
constexpr const char16_t* MATH_PRESET =
    u"0x0,0x18,0xce,0xc8,0x2d,0x62,0x0,0xcc,0xca,0xcb,0xc8,0x62,0xcf,0xc8,0x32,0xc9,0x2d,0x34,0x61,"
    u"0x63,0xc9,0xc9,0xc8,0x32,0x61,0xc9";
constexpr const char16_t* CHOICE_PRESET = u"0x1,0x0,0x0,0x0,0x0";
constexpr const char16_t* ONE_BYTE_FIELD = u"b";
constexpr const char16_t* FOUR_BYTE_FIELD = u"25,0,1,0";

std::u16string Ascii(const char* psz)
{
    std::u16string out;
    while (*psz)
        out += static_cast<char16_t>(*psz++);
    return out;
}

std::u16string Hex(uint32_t v, bool bUpper)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, bUpper ? "%X" : "%x", v);
    return Ascii(buffer);
}

void ReplaceAll(std::u16string& text, std::u16string_view what, std::u16string_view with)
{
    for (size_t at = text.find(what); at != std::u16string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}
} // namespace

const QuestionType g_questionTypes[QUESTION_TYPE_COUNT] = {
    {u"Yes/No", ONE_BYTE_FIELD, CHOICE_PRESET},
    {u"Multiple Choice", ONE_BYTE_FIELD, CHOICE_PRESET},
    {u"Numeric", ONE_BYTE_FIELD, u"0x27,0x85,0x95,0xd,0x0"},
    {u"Math", FOUR_BYTE_FIELD, MATH_PRESET},
    {u"True/False", ONE_BYTE_FIELD, CHOICE_PRESET},
    {u"Multiple Answer", ONE_BYTE_FIELD, u"0x21,0x43,0x5,0x0,0x0"},
    {u"Short Answer", FOUR_BYTE_FIELD, MATH_PRESET},
};

const char16_t* CommandNameOf(uint8_t iCommandID)
{
    for (int i = 1; i < COMMAND_TEMPLATE_COUNT; ++i)
    {
        const std::u16string_view text = g_commandTemplates[i].pszTemplate;
        // The third field: after the second comma, "0x" and two hexadecimal digits.
        size_t at = text.find(u',');
        at = at == std::u16string_view::npos ? at : text.find(u',', at + 1);
        if (at == std::u16string_view::npos || text.substr(at + 1, 2) != u"0x")
            continue;
        uint64_t v = 0;
        if (ReadDigits(text.substr(at + 3, 2), 16, 0xFF, v) == EDigits::Read && v == iCommandID)
            return g_commandTemplates[i].pszName;
    }
    return nullptr;
}

std::u16string CleanCommandText(std::u16string_view text)
{
    std::u16string out(text);
    ReplaceAll(out, u"0x", u"");
    std::erase(out, u' ');
    return out;
}

std::optional<TextRange> FindNextPlaceholder(std::u16string_view text, size_t iSelectionEnd)
{
    if (iSelectionEnd > text.size())
        return std::nullopt;
    const size_t open = text.find(u'<', iSelectionEnd);
    if (open != std::u16string_view::npos)
    {
        const size_t close = text.find(u'>', open);
        if (close == std::u16string_view::npos)
            return std::nullopt;
        return TextRange{open, close + 1};
    }
    const size_t run = text.find(u'_', iSelectionEnd);
    if (run == std::u16string_view::npos)
        return std::nullopt;
    size_t end = run;
    while (end < text.size() && text[end] == u'_')
        ++end;
    return TextRange{run, end};
}

int32_t ParseLeadingInt(std::u16string_view text)
{
    size_t i = 0;
    while (i < text.size() &&
           (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r'))
        ++i;
    bool bNegative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        bNegative = text[i++] == u'-';
    int64_t v = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
    {
        v = v * 10 + (text[i] - u'0');
        if (v > INT32_MAX) // saturate like the C runtime's conversion of an out-of-range number
            v = int64_t{INT32_MAX} + (bNegative ? 1 : 0);
    }
    return static_cast<int32_t>(bNegative ? -v : v);
}

std::string ParseCommandText(std::u16string_view text, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    for (size_t start = 0;;)
    {
        const size_t end = std::min(text.find(u',', start), text.size());
        const std::u16string_view field = text.substr(start, end - start);
        const std::string number = std::to_string(bytes.size() + 1);
        uint64_t v = 0;
        switch (field.empty() ? EDigits::NotDigits : ReadDigits(field, 16, 0xFF, v))
        {
        case EDigits::Read:
            bytes.push_back(static_cast<uint8_t>(v));
            break;
        case EDigits::TooLarge:
            return "field " + number + " \"" + ToUtf8(field) + "\" is above ff";
        case EDigits::NotDigits:
            return field.empty()
                       ? "empty field " + number
                       : "field " + number + " \"" + ToUtf8(field) + "\" is not hexadecimal";
        }
        if (end >= text.size())
            break;
        start = end + 1;
    }
    if (bytes.size() < MIN_COMMAND_FIELDS)
        return "too few fields (short address high, low and command identifier are needed)";
    return {};
}

std::string CheckCommandText(std::u16string_view text)
{
    std::vector<uint8_t> bytes;
    const std::string reason = ParseCommandText(text, bytes);
    return reason.empty() ? reason
                          : "the receiver service would refuse \"" + ToUtf8(text) + "\": " + reason;
}

std::string CheckCommandTexts(const std::vector<std::u16string>& texts,
                              const PayloadTestRun& payload)
{
    for (const std::u16string& text : texts)
        if (std::string problem = CheckCommandText(text); !problem.empty())
            return problem;
    return payload.Check();
}

PayloadTestRun BuildPayloadTest(const PayloadTestSettings& settings)
{
    PayloadTestRun run;
    uint32_t iLength = static_cast<uint32_t>(
                           std::count(settings.response.begin(), settings.response.end(), u',')) +
                       3;
    const int t = settings.iQuestionType;
    const bool bOneByte = t == 0 || t == 1 || t == 2 || t == 4 || t == 5;
    const std::u16string field = bOneByte ? ONE_BYTE_FIELD : FOUR_BYTE_FIELD;
    if (!bOneByte)
        iLength += 3;
    run.iLatencyMs = ParseLeadingInt(settings.latency);
    run.iTotal = ParseLeadingInt(settings.totalQuestions);
    const uint32_t iWindow =
        static_cast<uint32_t>(ParseLeadingInt(settings.classResponseWindow)) % 65536;
    run.head = u"ff,ff,26,3," + Hex(iWindow >> 8, false) + u"," + Hex(iWindow & 0xFF, false) +
               u",0,0,0,0," + Hex(iLength, false) + u"," + field + u",";
    run.response = settings.response;
    return run;
}

std::u16string PayloadTestRun::Text(int32_t n) const
{
    return CleanCommandText(head + Hex(static_cast<uint32_t>(n), false) + u"," + response);
}

std::string PayloadTestRun::Check() const
{
    // The texts differ only in the question number, whose field grows with it: the first and
    // the last text stand for the whole run.
    if (iTotal < 1)
        return {};
    const std::string first = CheckCommandText(Text(1));
    return first.empty() ? CheckCommandText(Text(iTotal)) : first;
}

std::u16string LoginRequirementText(bool bTeamRequired, bool bLoginRequired)
{
    static const char16_t* const texts[2][2] = {{u"0,0,06,2", u"0,0,06,3"},
                                                {u"0,0,06,5", u"0,0,06,7"}};
    return texts[bTeamRequired ? 1 : 0][bLoginRequired ? 1 : 0];
}

std::u16string SampleQuizText(uint32_t iCount)
{
    const uint32_t iField = 0x81 | ((iCount % 32) << 2);
    return u"0,0,0A," + Hex(iField, false) +
           u",0A,0A,0,01,0,0,0,0,0,02,0,0,0,0,01,01,0,0,0,0,01,02,0,0,0,0,42,01,0,0,0,0,42,04,0,0,"
           u"0,0,"
           u"92,0,01,0,0,0,04,65,27,BA,0,0,05,51,35,65,0,0,52,0,0,0,0,0";
}

// A unit above ff keeps every digit it needs (the euro sign gives "20AC"): that is the text the
// receivers are defined to get for such a name, and no byte stands for the character, so turning
// it into one would send another name without a word. The service refuses the field; a sender that
// checks first (CheckCommandText, as zelbinctl does) refuses the name before it sends anything.
std::u16string NetworkNameText(std::u16string_view name)
{
    std::u16string text = u"0,0,05";
    bool bEnded = false; // a NUL ends the name: every unit behind it is zero
    for (size_t i = 0; i < NETWORK_NAME_LENGTH; ++i)
    {
        bEnded = bEnded || i >= name.size() || name[i] == u'\0';
        text += u"," + Hex(bEnded ? 0 : name[i], true);
    }
    return text;
}
