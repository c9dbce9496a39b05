// SPDX-License-Identifier: MIT
// Command texts: the comma-separated hexadecimal fields that every sender hands to the service,
// the table of command templates, the texts of the payload test and the Extras commands, and the
// one reading of a text into bytes that the service goes by and the senders check against.
// Plain functions, shared by the dialogs, the main frame, zelbinctl and the stand-in service.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CommandTemplate
{
    const char16_t* pszName;
    const char16_t* pszTemplate;
};

// The nineteen command templates, in the order the command list shows them.
inline constexpr int COMMAND_TEMPLATE_COUNT = 19;
extern const CommandTemplate g_commandTemplates[COMMAND_TEMPLATE_COUNT];

// The name of the template whose command identifier is iCommandID (the third field of its
// template), or null for an identifier no template names. "New Command" names none.
const char16_t* CommandNameOf(uint8_t iCommandID);

// What a sender does to typed text: remove every "0x" (lower-case x only), then every blank
// (U+0020 only). A prefix that a blank splits ("0 x1F") therefore survives as "0x1F".
std::u16string CleanCommandText(std::u16string_view text);

// The next placeholder behind the selection end: an angle-bracket placeholder "<...>" first,
// else, when no "<" remains, a run of "_". Returns [start, end) or nothing.
struct TextRange
{
    size_t start;
    size_t end;
};
std::optional<TextRange> FindNextPlaceholder(std::u16string_view text, size_t iSelectionEnd);

// _wtoi: optional blanks and sign, then the leading decimal digits; no digits give 0.
int32_t ParseLeadingInt(std::u16string_view text);

// --- reading a command text ----------------------------------------------------------------

// Short address high and low, then the command identifier.
inline constexpr size_t MIN_COMMAND_FIELDS = 3;

// Splits a command text into its bytes: comma-separated hexadecimal fields, each at most ff, at
// least three of them. Returns why the text is refused (UTF-8, e.g. "field 5 \"20AC\" is above
// ff"), or an empty string when it is taken. The receiver service reads every text by this.
std::string ParseCommandText(std::u16string_view text, std::vector<uint8_t>& bytes);

// For a sender that checks before it sends: empty when the service takes the text, else a
// message for a person that names the text and the reason.
std::string CheckCommandText(std::u16string_view text);

// --- payload test --------------------------------------------------------------------------

struct QuestionType
{
    const char16_t* pszName;
    const char16_t* pszCommandField;
    const char16_t* pszResponsePreset;
};
inline constexpr int QUESTION_TYPE_COUNT = 7;
inline constexpr int DEFAULT_QUESTION_TYPE = 3; // "Math"
extern const QuestionType g_questionTypes[QUESTION_TYPE_COUNT];

struct PayloadTestSettings
{
    std::u16string totalQuestions = u"100";
    int iQuestionType = DEFAULT_QUESTION_TYPE;
    std::u16string response = g_questionTypes[DEFAULT_QUESTION_TYPE].pszResponsePreset;
    std::u16string latency = u"10000";
    std::u16string classResponseWindow = u"6000";
};

// The parsed run: how many questions and the pause after each. Each question's text is built
// when it is sent, so a run of a million questions costs no memory and starts at once.
struct PayloadTestRun
{
    int32_t iTotal = 0; // no text is sent when it is 0 or less
    int32_t iLatencyMs = 0;
    // The text of question n (1 to iTotal), already cleaned.
    std::u16string Text(int32_t n) const;

    // Empty when the service takes every text of the run, else the message of
    // CheckCommandText for the first it would refuse.
    std::string Check() const;

    std::u16string head; // the fields before the question number
    std::u16string response;
};
PayloadTestRun BuildPayloadTest(const PayloadTestSettings& settings);

// --- Extras --------------------------------------------------------------------------------

// "0,0,06,2" / 3 / 5 / 7 for the pair of flags after a toggle.
std::u16string LoginRequirementText(bool bTeamRequired, bool bLoginRequired);
// The "Question and Answer Download" sample quiz; its fourth field carries the count mod 32.
std::u16string SampleQuizText(uint32_t iCount);
// At most 8 characters of the name are kept; the units behind it are zero.
inline constexpr int NETWORK_NAME_LENGTH = 8;
std::u16string NetworkNameText(std::u16string_view name);

// The check of CheckCommandText over several texts and a payload test run (which may have no
// questions): the message for the first text the service would refuse, or empty.
std::string CheckCommandTexts(const std::vector<std::u16string>& texts,
                              const PayloadTestRun& payload = {});
