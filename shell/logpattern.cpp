// SPDX-License-Identifier: MIT
// Search patterns on RE2, and the highlighting's first-match rule.

#include "logpattern.h"

#include <re2/re2.h>

#include <algorithm>
#include <utility>

namespace
{
// Every match of one byte or more, left to right; matches of no length are skipped.
void ForEachMatchOf(const re2::RE2& expression, std::string_view text,
                    const std::function<void(size_t, size_t)>& f)
{
    const re2::StringPiece piece(text.data(), text.size());
    for (size_t iFrom = 0; iFrom <= text.size();)
    {
        re2::StringPiece match;
        if (!expression.Match(piece, iFrom, piece.size(), RE2::UNANCHORED, &match, 1))
            return;
        const auto iStart = static_cast<size_t>(match.data() - text.data());
        if (match.empty())
        {
            iFrom = iStart + 1;
            continue;
        }
        f(iStart, match.size());
        iFrom = iStart + match.size();
    }
}

// ASCII letters to lower case, other bytes as they are (a loop the compiler vectorises).
void LowerAscii(const char* pFrom, char* pTo, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        pTo[i] = static_cast<char>(pFrom[i] | ((pFrom[i] >= 'A' && pFrom[i] <= 'Z') ? 0x20 : 0));
}

// Whether lines joined by line feeds match as each line on its own: not for a pattern that names
// the text's start or end (\A, \z), any byte (\C, a line feed too), or turns multi-line mode
// off ("(?-m)"); a literal with a line feed never matches a line. Judged on the text, erring on
// the side of line by line.
bool MatchesLinesJoined(const std::string& text, bool bRegularExpression)
{
    if (!bRegularExpression)
        return text.find('\n') == std::string::npos;
    for (const char* name : {"\\A", "\\z", "\\C"})
        if (text.find(name) != std::string::npos)
            return false;
    for (size_t i = text.find("(?"); i != std::string::npos; i = text.find("(?", i + 2))
    {
        const size_t iEnd = text.find_first_of(":)", i + 2);
        const std::string flags =
            text.substr(i + 2, iEnd == std::string::npos ? iEnd : iEnd - i - 2);
        const size_t iOff = flags.find('-');
        if (iOff != std::string::npos && flags.find('m', iOff) != std::string::npos)
            return false;
    }
    return true;
}
} // namespace

CLogPattern::CLogPattern(std::string_view text, bool bCaseSensitive, bool bRegularExpression)
    : m_text(text), m_bRegex(bRegularExpression), m_bCaseSensitive(bCaseSensitive)
{
    if (m_text.empty())
        return;
    RE2::Options options;
    options.set_log_errors(false);
    options.set_case_sensitive(bCaseSensitive);
    options.set_literal(!bRegularExpression);
    auto pExpression = std::make_shared<const re2::RE2>(m_text, options);
    if (!pExpression->ok())
    {
        m_error = pExpression->error();
        return;
    }
    // Plain text is matched by its literal automaton, whose size costs no speed.
    if (bRegularExpression && pExpression->ProgramSize() > MAX_PROGRAM_SIZE)
    {
        m_bTooComplex = true;
        m_error = "too complex: " + std::to_string(pExpression->ProgramSize()) +
                  " steps where at most " + std::to_string(MAX_PROGRAM_SIZE) +
                  " are taken (a repeat count such as {1000} multiplies what it repeats)";
        return;
    }
    m_pExpression = std::move(pExpression);
    // The engine folds k and s with the Kelvin sign and the long s as well.
    if (!bRegularExpression &&
        (bCaseSensitive || std::all_of(m_text.begin(), m_text.end(),
                                       [](char c) {
                                           return c > 0 && std::string_view("kKsS\n").find(c) ==
                                                               std::string_view::npos;
                                       })))
    {
        m_needle = m_text;
        m_bFoldAscii = !bCaseSensitive;
        if (m_bFoldAscii)
            LowerAscii(m_needle.data(), m_needle.data(), m_needle.size());
    }
    if (MatchesLinesJoined(m_text, bRegularExpression))
    {
        options.set_never_nl(true);
        auto pLines = std::make_shared<const re2::RE2>(
            bRegularExpression ? "(?m)" + m_text : m_text, options);
        if (pLines->ok())
            m_pLinesExpression = std::move(pLines);
    }
}

void CLogPattern::ForEachMatch(std::string_view line,
                               const std::function<void(size_t, size_t)>& f) const
{
    if (m_pExpression)
        ForEachMatchOf(*m_pExpression, line, f);
}

bool CLogPattern::ForEachMatchInLines(std::string_view lines,
                                      const std::function<void(size_t, size_t)>& f) const
{
    if (!m_pLinesExpression)
        return false;
    if (m_needle.empty())
    {
        ForEachMatchOf(*m_pLinesExpression, lines, f);
        return true;
    }
    std::string lower;
    if (m_bFoldAscii)
    {
        lower.resize(lines.size());
        LowerAscii(lines.data(), lower.data(), lines.size());
        lines = lower;
    }
    for (size_t i = lines.find(m_needle); i != std::string_view::npos;
         i = lines.find(m_needle, i + m_needle.size()))
        f(i, m_needle.size());
    return true;
}

bool CLogPattern::Matches(std::string_view line) const
{
    if (!m_pExpression)
        return false;
    // Plain text never matches empty; an expression may, and that does not count.
    if (!m_bRegex)
        return RE2::PartialMatch(re2::StringPiece(line.data(), line.size()), *m_pExpression);
    bool bFound = false;
    ForEachMatch(line, [&bFound](size_t, size_t) { bFound = true; });
    return bFound;
}

int CLogPattern::CountIn(std::string_view line) const
{
    int n = 0;
    ForEachMatch(line, [&n](size_t, size_t) { ++n; });
    return n;
}

bool CLogPattern::operator==(const CLogPattern& other) const
{
    return m_text == other.m_text && m_bRegex == other.m_bRegex &&
           m_bCaseSensitive == other.m_bCaseSensitive;
}

void CFirstMatchRules::SetRules(std::vector<CLogPattern> rules)
{
    m_rules = std::move(rules);
    m_off.assign(m_rules.size(), false);
    m_turnedOff.clear();
}

int CFirstMatchRules::FirstMatch(std::string_view line)
{
    for (size_t i = 0; i < m_rules.size(); ++i)
    {
        if (m_off[i])
            continue;
        // A match over the budget is timed again before its rule is turned off: on a busy machine
        // the thread may have been set aside for a moment during it, which says nothing of the
        // pattern; set aside twice in a row during a match of microseconds, it is not by chance.
        bool bMatch = false;
        if (!TimedMatch(i, line, bMatch) && !TimedMatch(i, line, bMatch))
        {
            m_off[i] = true;
            m_turnedOff.push_back(i);
        }
        if (bMatch)
            return static_cast<int>(i);
    }
    return -1;
}

bool CFirstMatchRules::TimedMatch(size_t i, std::string_view line, bool& bMatch) const
{
    const auto start = m_clock();
    bMatch = m_rules[i].Matches(line);
    return m_clock() - start <= m_budget;
}

std::vector<size_t> CFirstMatchRules::TakeTurnedOff()
{
    return std::exchange(m_turnedOff, {});
}
