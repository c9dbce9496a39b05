// SPDX-License-Identifier: MIT
// A search pattern over log lines (plain text or a regular expression, with or without case), and
// the first-match rule of the highlighting. The engine is RE2: its matching time grows with the
// line, never exponentially with the pattern, so no pattern can hold up whoever matches it.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace re2
{
class RE2;
}

class CLogPattern
{
public:
    CLogPattern() = default;
    // The text is UTF-8. A regular expression takes RE2's syntax (that of Perl without
    // back-references and look-arounds).
    CLogPattern(std::string_view text, bool bCaseSensitive, bool bRegularExpression);

    // A regular expression is refused as too complex above this many steps of the engine's
    // program: beyond it the engine's automaton no longer fits its memory, and matching slows to
    // microseconds a byte (".{0,1000}Z" took 76 ms on a line of 10 KB).
    static constexpr int MAX_PROGRAM_SIZE = 2000;

    // An empty pattern, or a regular expression that does not compile, matches nothing.
    bool IsEmpty() const { return m_text.empty(); }
    bool IsValid() const { return m_pExpression != nullptr; }
    // A regular expression that compiles but is over MAX_PROGRAM_SIZE.
    bool IsTooComplex() const { return m_bTooComplex; }
    const std::string& GetError() const { return m_error; }
    // Every match in the line of one byte or more, left to right, as byte offsets; matches of no
    // length are skipped (a pattern like "x*" would otherwise match between every two bytes).
    void ForEachMatch(std::string_view line, const std::function<void(size_t, size_t)>& f) const;
    // The same over a text of whole lines joined by line feeds (their line ends left out), as if
    // each line were matched on its own; false, calling nothing, for a pattern that cannot be
    // matched that way (one that names the text's start or end, or turns multi-line mode off).
    // A whole log is searched this way in large pieces instead of line by line.
    bool ForEachMatchInLines(std::string_view lines,
                             const std::function<void(size_t, size_t)>& f) const;
    bool Matches(std::string_view line) const;
    int CountIn(std::string_view line) const;
    bool operator==(const CLogPattern& other) const;

private:
    std::string m_text;
    bool m_bRegex = false;
    bool m_bCaseSensitive = false;
    bool m_bTooComplex = false;
    std::string m_error;
    // Compiled once and shared by copies: matching is const and may run on several threads.
    std::shared_ptr<const re2::RE2> m_pExpression;
    // The same for lines joined by line feeds: ^ and $ at every line's ends, no match across one.
    std::shared_ptr<const re2::RE2> m_pLinesExpression;
    // Plain text that is looked for as bytes instead (several times faster than the engine): with
    // case, or without it when it is ASCII whose letters fold only among themselves.
    std::string m_needle; // lower case when m_bFoldAscii
    bool m_bFoldAscii = false;
};

// Highlight rules: the first rule whose pattern matches a line gives it its colours. A rule whose
// match of one line takes longer than the budget, twice in a row, is turned off, so that a pattern
// that is slow on this log cannot make the window slow.
class CFirstMatchRules
{
public:
    static constexpr std::chrono::milliseconds DEFAULT_BUDGET{20};
    using Clock = std::chrono::steady_clock::time_point (*)();

    void SetRules(std::vector<CLogPattern> rules);
    void SetBudget(std::chrono::nanoseconds budget) { m_budget = budget; }
    // The clock that times matches (tests give their own).
    void SetClock(Clock clock) { m_clock = clock; }
    // The index of the first rule that matches; -1 when none does.
    int FirstMatch(std::string_view line);
    // The rules turned off since the last call, by index.
    std::vector<size_t> TakeTurnedOff();

private:
    std::vector<CLogPattern> m_rules;
    std::vector<bool> m_off;
    std::vector<size_t> m_turnedOff;
    std::chrono::nanoseconds m_budget = DEFAULT_BUDGET;
    Clock m_clock = &std::chrono::steady_clock::now;

    // Matches rule i against the line; false when that took longer than the budget.
    bool TimedMatch(size_t i, std::string_view line, bool& bMatch) const;
};
