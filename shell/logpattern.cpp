// SPDX-License-Identifier: MIT
// Search patterns on RE2, and the highlighting's first-match rule.

#include "logpattern.h"

#include <re2/re2.h>

#include <utility>

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
    if (pExpression->ok())
        m_pExpression = std::move(pExpression);
    else
        m_error = pExpression->error();
}

void CLogPattern::ForEachMatch(std::string_view line,
                               const std::function<void(size_t, size_t)>& f) const
{
    if (!m_pExpression)
        return;
    const re2::StringPiece text(line.data(), line.size());
    for (size_t iFrom = 0; iFrom <= line.size();)
    {
        re2::StringPiece match;
        if (!m_pExpression->Match(text, iFrom, text.size(), RE2::UNANCHORED, &match, 1))
            return;
        const auto iStart = static_cast<size_t>(match.data() - line.data());
        if (match.empty())
        {
            iFrom = iStart + 1;
            continue;
        }
        f(iStart, match.size());
        iFrom = iStart + match.size();
    }
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
        const auto start = std::chrono::steady_clock::now();
        const bool bMatch = m_rules[i].Matches(line);
        if (std::chrono::steady_clock::now() - start > m_budget)
        {
            m_off[i] = true;
            m_turnedOff.push_back(i);
        }
        if (bMatch)
            return static_cast<int>(i);
    }
    return -1;
}

std::vector<size_t> CFirstMatchRules::TakeTurnedOff()
{
    return std::exchange(m_turnedOff, {});
}
