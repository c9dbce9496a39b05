// SPDX-License-Identifier: MIT
// An opened log without a window: its line index against a reference split for each line end and
// byte, a file grown, shrunk, replaced or deleted under it, refused files, find and filter.

#include "lineindex.h"
#include "linesearch.h"
#include "standin.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>
#include <unistd.h>

namespace
{
using Lines = std::vector<std::string>;

// The reference rule, written the plain way: lines end at a line feed; the carriage returns at a
// line's end are no text (also on a last line still without its line feed, which counts).
Lines ReferenceLines(const std::string& text)
{
    Lines lines;
    size_t iBegin = 0;
    while (iBegin < text.size())
    {
        size_t iEnd = text.find('\n', iBegin);
        if (iEnd == std::string::npos)
            iEnd = text.size();
        std::string line = text.substr(iBegin, iEnd - iBegin);
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        iBegin = iEnd + 1;
    }
    return lines;
}

Lines IndexedLines(const CLineIndex& index)
{
    Lines lines(static_cast<size_t>(index.GetLineCount()));
    for (size_t i = 0; i < lines.size(); ++i)
        index.ReadLine(static_cast<int64_t>(i), 1 << 24, lines[i]);
    return lines;
}

// What the process has read from files so far (the kernel's count).
int64_t BytesReadByThisProcess()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    int64_t n = 0;
    while (io >> key >> n)
        if (key == "rchar:")
            return n;
    return -1;
}

// A reference count of a regular expression's matches in a line (std::regex, ECMAScript).
std::function<int(const std::string&)> RegexCount(const char* pattern)
{
    return [expression = std::regex(pattern)](const std::string& line)
    {
        return static_cast<int>(std::distance(
            std::sregex_iterator(line.begin(), line.end(), expression), std::sregex_iterator()));
    };
}

std::string Repeat(const std::string& s, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i)
        out += s;
    return out;
}
} // namespace

// Every kind of line end and byte, and lines across the reading pieces and the index's blocks.
TEST(LineIndex, SplitsLikeTheLiveLogForEveryLineEndAndByte)
{
    const std::string piece(CLineWalker::PIECE - 3, 'p'); // a CR LF cut by the piece's end
    const struct
    {
        const char* name;
        std::string text;
    } rows[] = {
        {"empty", ""},
        {"several CRs, then an empty line", "a\r\r\r\n\n"},
        {"CR only: one line", "a\rb\rc\r"},
        {"a CR in the middle stays", "a\rb\r\n"},
        {"mixed, last line open", "x\r\ny\nz\r"},
        {"NUL bytes", std::string("a\0b\n\0\n", 6)},
        {"multi-byte characters",
         "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80\r\n\xc3\xa9"},
        {"CR LF across the reading piece", piece + "\r\nnext\r\n"},
        {"a line of three pieces", std::string(3 * CLineWalker::PIECE + 5, 'l') + "\nend"},
        {"more lines than a block", Repeat("0123\r\n", 70000) + "last"},
    };
    CTempDir dir;
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        WriteText(dir / "f.log", row.text);
        CLineIndex index;
        ASSERT_TRUE(index.Open(dir / "f.log"));
        ASSERT_TRUE(index.WaitUntilComplete(10000));
        EXPECT_EQ(index.GetIndexedBytes(), static_cast<int64_t>(row.text.size()));
        EXPECT_EQ(IndexedLines(index), ReferenceLines(row.text));
    }
}

// A growing file shows its new lines, a line written in two parts included; a shrunk, rewritten
// or replaced one is indexed anew; a deleted one keeps what was indexed.
TEST(LineIndex, FollowsAFileThatGrowsShrinksIsReplacedOrDeleted)
{
    CTempDir dir;
    const std::string path = dir / "g.log";
    WriteText(path, "one\r\ntwo\r\n");
    CLineIndex index;
    ASSERT_TRUE(index.Open(path));
    ASSERT_TRUE(index.WaitUntilComplete(5000));
    EXPECT_EQ(index.Refresh(), CLineIndex::EChange::None);
    const auto settle = [&](CLineIndex::EChange expected)
    {
        EXPECT_EQ(index.Refresh(), expected);
        EXPECT_TRUE(index.WaitUntilComplete(5000));
        return IndexedLines(index);
    };
    WriteText(path, "thr", true);
    EXPECT_EQ(settle(CLineIndex::EChange::Grew), (Lines{"one", "two", "thr"}));
    WriteText(path, "ee\r\nfour", true);
    EXPECT_EQ(settle(CLineIndex::EChange::Grew), (Lines{"one", "two", "three", "four"}));
    WriteText(path, "\n", true);
    EXPECT_EQ(settle(CLineIndex::EChange::Grew), (Lines{"one", "two", "three", "four"}));

    WriteText(path, "short\n"); // truncated
    EXPECT_EQ(settle(CLineIndex::EChange::Rebuilt), (Lines{"short"}));
    WriteText(path, "shirt\nand more\n"); // rewritten, and longer than before
    EXPECT_EQ(settle(CLineIndex::EChange::Rebuilt), (Lines{"shirt", "and more"}));
    WriteText(dir / "new.log", "shirt\nand more\n");
    std::filesystem::rename(dir / "new.log", path); // the same bytes, another file
    EXPECT_EQ(settle(CLineIndex::EChange::Rebuilt), (Lines{"shirt", "and more"}));
    std::filesystem::remove(path);
    EXPECT_EQ(settle(CLineIndex::EChange::Deleted), (Lines{"shirt", "and more"}));
}

// The file grows while its index is built, and a reader looks at the index all the while (as the
// view does on each paint): the growth is indexed too, and no more is read than is indexed.
TEST(LineIndex, GrowthWhileIndexingIsIndexedToo)
{
    CTempDir dir;
    const std::string path = dir / "big.log";
    const std::string line = "2026-12-06 10:00:00.000 DEBUG a line of forty-odd bytes\r\n";
    const int iLines = 1 << 20;
    WriteText(path, Repeat(line, iLines));
    CLineIndex index;
    ASSERT_TRUE(index.Open(path));
    std::atomic<bool> bDone{false};
    std::atomic<int> iBadReads{0};
    std::thread reader(
        [&]
        {
            std::string text;
            while (!bDone)
            {
                const int64_t n = index.GetLineCount();
                const std::string expected = n > iLines ? "tail\r\n" : line;
                if (n > 0 && (!index.ReadLine(n - 1, 100, text) || text + "\r\n" != expected))
                    ++iBadReads;
                if (index.GetEstimatedLineCount() < n || index.GetIndexedBytes() < n)
                    ++iBadReads;
            }
        });
    // Appended while the first pass runs: a million lines take longer than starting a thread.
    ASSERT_FALSE(index.IsComplete());
    WriteText(path, "tail\n", true);
    EXPECT_EQ(index.Refresh(), CLineIndex::EChange::Grew);
    EXPECT_TRUE(index.WaitUntilComplete(30000));
    bDone = true;
    reader.join();
    EXPECT_EQ(iBadReads, 0);
    EXPECT_EQ(index.GetLineCount(), iLines + 1);
    std::string last;
    EXPECT_TRUE(index.ReadLine(iLines, 100, last));
    EXPECT_EQ(last, "tail");
    EXPECT_EQ(index.GetIndexedBytes(), static_cast<int64_t>(line.size()) * iLines + 5);
}

// What is refused keeps the reader's reason (the kinds of file it refuses are the reader's own
// test); what is shown however odd is shown; a line of 100 MB is indexed at once and read cut.
TEST(LineIndex, BadFilesAreRefusedOrShownWithoutAStall)
{
    CTempDir dir;
    CLineIndex missing;
    EXPECT_FALSE(missing.Open(dir / "missing"));
    EXPECT_EQ(missing.GetError(), dir / "missing" + ": No such file or directory");
    WriteText(dir / "binary", std::string("\177ELF\0\0\x01\n\xff\xd8\xff\xe0", 13));
    // A line longer than the 16 MiB after which indexing shows its progress.
    WriteText(dir / "huge", std::string(20 * 1000 * 1000, 'x') + "\r\nafter\r\n");
    CLineIndex binary, huge;
    for (const auto& [name, pIndex] : {std::pair{"binary", &binary}, {"huge", &huge}})
    {
        SCOPED_TRACE(name);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(pIndex->Open(dir / name));
        ASSERT_TRUE(pIndex->WaitUntilComplete(10000));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(pIndex->GetLineCount(), 2);
    }
    std::string text;
    int64_t iLength = 0;
    ASSERT_TRUE(huge.ReadLine(0, 10000, text, &iLength));
    EXPECT_EQ(text, std::string(10000, 'x'));
    EXPECT_EQ(iLength, 20 * 1000 * 1000 + 2); // whole, with its CR LF (copied whole)
    ASSERT_TRUE(huge.ReadLine(1, 10000, text, &iLength));
    EXPECT_EQ(text, "after");

    // A 64 GiB line (sparse file) being looked through: closing the file does not wait for its end.
    const std::string sparse = dir / "sparse";
    WriteText(sparse, "");
    ASSERT_EQ(::truncate(sparse.c_str(), int64_t{64} << 30), 0);
    auto pIndex = std::make_unique<CLineIndex>();
    const int64_t iReadBefore = BytesReadByThisProcess();
    ASSERT_TRUE(pIndex->Open(sparse));
    ASSERT_TRUE(WaitUntil([&] { return BytesReadByThisProcess() - iReadBefore > (64 << 20); }));
    const auto start = std::chrono::steady_clock::now();
    pIndex.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    // One that shrinks under the pass ends the pass (the next Refresh reads it anew).
    CLineIndex shrinking;
    const int64_t iReadFirst = BytesReadByThisProcess();
    ASSERT_TRUE(shrinking.Open(sparse));
    ASSERT_TRUE(WaitUntil([&] { return BytesReadByThisProcess() - iReadFirst > (64 << 20); }));
    ASSERT_EQ(::truncate(sparse.c_str(), 0), 0);
    EXPECT_TRUE(shrinking.WaitUntilComplete(10000));
}

// Patterns: plain text, expressions, matches of no length, catastrophic backtracking (linear
// here), and what does not compile. Case and its folding are in the search test below.
TEST(LogPattern, MatchesAsATableSays)
{
    const struct
    {
        const char* pattern;
        bool bCase, bRegex;
        std::string line;
        int iMatches;
    } rows[] = {
        {"a.b", false, false, "axb a.b", 1}, // plain text: the dot is a dot
        {"a.b", false, true, "axb a.b", 2},
        {"x*", false, true, "abc", 0}, // only empty matches
        {"(a+)+$", false, true, std::string(40, 'a') + "!", 0},
        {"err(or", false, true, "error", 0}, // does not compile
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.pattern);
        const CLogPattern pattern(row.pattern, row.bCase, row.bRegex);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(pattern.CountIn(row.line), row.iMatches);
        EXPECT_EQ(pattern.Matches(row.line), row.iMatches > 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
        EXPECT_EQ(pattern.IsValid(), std::string(row.pattern) != "err(or");
    }
    EXPECT_FALSE(CLogPattern("err(or", true, true).GetError().empty());
    // Programs up to 2000 steps are taken, longer ones refused; plain text of any length too.
    const struct
    {
        std::string text;
        bool bRegex;
        bool bValid;
    } sizes[] = {
        {"a{1000}a{995}", true, true},         {"a{1000}a{996}", true, true},
        {"a{1000}a{997}", true, false},        {".{0,1000}Z", true, false},
        {std::string(5000, 'q'), false, true},
    };
    for (const auto& row : sizes)
    {
        SCOPED_TRACE(row.text.substr(0, 20));
        const CLogPattern pattern(row.text, true, row.bRegex);
        EXPECT_EQ(pattern.IsValid(), row.bValid);
        EXPECT_EQ(pattern.GetError().find("too complex: 2001 steps") == 0,
                  row.text == "a{1000}a{997}")
            << pattern.GetError();
    }
    std::vector<std::pair<size_t, size_t>> at;
    CLogPattern("b+", true, true)
        .ForEachMatch("abbcb",
                      [&](size_t i, size_t n) {
                          at.push_back({i, n});
                      });
    EXPECT_EQ(at, (std::vector<std::pair<size_t, size_t>>{{1, 2}, {4, 1}}));

    CFirstMatchRules rules;
    rules.SetRules({CLogPattern("DEBUG", true, false), CLogPattern("(?i)error", true, true)});
    EXPECT_EQ(rules.FirstMatch("DEBUG error"), 0); // the first rule wins
    EXPECT_EQ(rules.FirstMatch("an Error"), 1);
    EXPECT_EQ(rules.FirstMatch("nothing"), -1);
    EXPECT_TRUE(rules.TakeTurnedOff().empty());
    rules.SetBudget(std::chrono::nanoseconds(0)); // every rule is now too slow
    EXPECT_EQ(rules.FirstMatch("DEBUG"), 0);
    EXPECT_EQ(rules.TakeTurnedOff(), std::vector<size_t>{0});
    EXPECT_EQ(rules.FirstMatch("DEBUG error"), 1); // the first is off for good
    EXPECT_EQ(rules.TakeTurnedOff(), std::vector<size_t>{1});
    EXPECT_EQ(rules.FirstMatch("DEBUG error"), -1);
    rules.SetRules({CLogPattern("x", true, false)});
    EXPECT_EQ(rules.FirstMatch("x"), 0); // new rules start on; this one is turned off
    rules.SetRules({CLogPattern("y", true, false)});
    EXPECT_TRUE(rules.TakeTurnedOff().empty()); // what earlier rules turned off is not told
}

namespace
{
// Times each match as long as a row says, one after the other, in milliseconds.
std::vector<int> g_matchMs;
size_t g_clockCalls = 0;
std::chrono::steady_clock::time_point RowClock()
{
    const size_t iCall = g_clockCalls++;
    const int ms = iCall % 2 && iCall / 2 < g_matchMs.size() ? g_matchMs[iCall / 2] : 0;
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(ms));
}
} // namespace

// A rule is turned off when a match takes over 20 ms twice in a row; once may be a busy machine.
TEST(LogPattern, ARuleSlowTwiceInARowIsTurnedOff)
{
    const struct
    {
        std::vector<int> matchMs;
        bool bOff;
    } rows[] = {
        {{19}, false}, {{20}, false}, {{21, 1}, false}, {{21, 20}, false}, {{21, 21}, true}};
    for (const auto& row : rows)
    {
        CFirstMatchRules rules;
        rules.SetClock(&RowClock);
        rules.SetRules({CLogPattern("DEBUG", true, false)});
        g_matchMs = row.matchMs;
        g_clockCalls = 0;
        EXPECT_EQ(rules.FirstMatch("DEBUG"), 0);
        EXPECT_EQ(g_clockCalls, 2 * row.matchMs.size()) << row.matchMs[0];
        EXPECT_EQ(rules.TakeTurnedOff(), row.bOff ? std::vector<size_t>{0} : std::vector<size_t>{})
            << row.matchMs[0];
        g_matchMs.clear();
        EXPECT_EQ(rules.FirstMatch("DEBUG"), row.bOff ? -1 : 0);
    }
}

// Find and filter over generated files, against a plain reference: the same lines with the same
// counts from a file as from memory, whatever the pattern.
TEST(LineSearch, FindsWhatAPlainReferenceFinds)
{
    std::mt19937 random(7);
    const char* words[] = {"alpha",       "Beta", "error", "ERROR",
                           "caf\xc3\xa9", "aaaa", "x",     "\u212Aelvin"}; // the Kelvin sign
    std::string text;
    for (int i = 0; i < 20000; ++i)
    {
        for (int w = random() % 6; w >= 0; --w)
            text += std::string(words[random() % 8]) + (random() % 4 ? " " : "");
        text += i % 3 ? "\r\n" : "\n";
    }
    text += std::string(300, 'a');
    CTempDir dir;
    WriteText(dir / "s.log", text);
    const auto lines = ReferenceLines(text);
    const struct
    {
        const char* pattern;
        bool bCase, bRegex;
        std::function<int(const std::string&)> reference;
    } rows[] = {
        // Without case, every spelling: k and s fold with the Kelvin sign and long s; É with é.
        {"error", true, false, RegexCount("error")},
        {"ERROR", false, false, RegexCount("error|ERROR")},
        {"KELVIN", false, false, RegexCount("\u212Aelvin")},
        {"CAF\xc3\x89", false, false, RegexCount("caf\xc3\xa9")},
        {"(a+)+$", true, true,
         [](const std::string& l) { return !l.empty() && l.back() == 'a' ? 1 : 0; }},
        {"^x", true, true, [](const std::string& l) { return l.rfind('x', 0) == 0 ? 1 : 0; }},
        // A match never runs from one line into the next, and the text's start is each line's.
        {"x\\s*a", true, true, RegexCount("x\\s*a")},
        {"\\Aalpha", true, true, RegexCount("^alpha")},
        {"(?-m:^)Beta|r$", true, true, RegexCount("^Beta|r$")},
    };
    CLineIndex index;
    ASSERT_TRUE(index.Open(dir / "s.log"));
    const std::shared_ptr<const ILineSource> pFile = index.GetSource();
    const CTextSource memory(text);
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.pattern);
        std::vector<CFoundLine> expected;
        for (size_t i = 0; i < lines.size(); ++i)
            if (const int n = row.reference(lines[i]))
                expected.push_back({static_cast<int64_t>(i), n});
        ASSERT_FALSE(expected.empty());
        const CLogPattern pattern(row.pattern, row.bCase, row.bRegex);
        for (const ILineSource* pSource : {pFile.get(), static_cast<const ILineSource*>(&memory)})
        {
            std::vector<CFoundLine> found;
            CSearchProgress last;
            EXPECT_TRUE(
                SearchLines(*pSource, 0, static_cast<int64_t>(text.size()), 0, pattern, nullptr,
                            [&](std::vector<CFoundLine>&& batch, const CSearchProgress& p)
                            {
                                EXPECT_GE(p.iBytesDone, last.iBytesDone);
                                found.insert(found.end(), batch.begin(), batch.end());
                                EXPECT_EQ(p.iMatchingLines, static_cast<int64_t>(found.size()));
                                last = p;
                            }));
            EXPECT_EQ(found, expected);
            EXPECT_TRUE(last.bDone);
            EXPECT_EQ(last.iBytesDone, static_cast<int64_t>(text.size()));
        }
    }
    // Searched in pieces of many lines unless the pattern names the text's start or end, any
    // byte, or turns multi-line mode off; plain text with a line feed never matches a line.
    for (const auto& [text, bRegex, bInPieces] : {std::tuple{"x\\s*a", true, true},
                                                  {"\\Aalpha", true, false},
                                                  {"r\\z", true, false},
                                                  {"a\\Cb", true, false},
                                                  {"(?-m:^)Beta", true, false},
                                                  {"(?i)beta", true, true},
                                                  {"a\nb", false, false},
                                                  {"a b", false, true}})
        EXPECT_EQ(CLogPattern(text, true, bRegex).ForEachMatchInLines("a", [](size_t, size_t) {}),
                  bInPieces)
            << text;
}

namespace
{
// A log that never ends: lines of a's of the given length, or one line without end (0).
class CEndlessSource : public ILineSource
{
public:
    explicit CEndlessSource(size_t iLineLength) : m_iLineLength(iLineLength) {}
    long Read(char* pBuffer, size_t iSize, int64_t) const override
    {
        for (size_t i = 0; i < iSize; ++i)
            pBuffer[i] = m_iLineLength && i % m_iLineLength == m_iLineLength - 1 ? '\n' : 'a';
        ++m_iReads;
        return static_cast<long>(iSize);
    }
    mutable std::atomic<int> m_iReads{0};

private:
    size_t m_iLineLength;
};
} // namespace

// A search reports matches as it goes, and is cancelled at once, also inside a line that never
// ends; the destructor cancels too.
TEST(LineSearch, ReportsAsItGoesAndIsCancelledAtOnce)
{
    const struct
    {
        const char* name;
        size_t iLineLength;
        int iReports; // at least this many before the cancel
    } rows[] = {
        {"lines of 41 bytes", 41, 3},
        {"one endless line", 0, 0},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        std::atomic<int64_t> iSoFar{0};
        std::atomic<int> iReports{0};
        auto pSource = std::make_shared<CEndlessSource>(row.iLineLength);
        CLineSearch search;
        search.Start(pSource, 0, INT64_MAX, 0, CLogPattern("(a+)+$", true, true),
                     [&](std::vector<CFoundLine>&&, const CSearchProgress& p)
                     {
                         EXPECT_FALSE(p.bDone);
                         iSoFar = p.iMatches;
                         ++iReports;
                     });
        ASSERT_TRUE(WaitUntil([&] { return iReports >= row.iReports && pSource->m_iReads >= 3; }));
        EXPECT_EQ(iSoFar > 0, row.iReports > 0);
        const auto start = std::chrono::steady_clock::now();
        search.Cancel();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        search.Start(std::make_shared<CEndlessSource>(row.iLineLength), 0, INT64_MAX, 0,
                     CLogPattern("a", true, false),
                     [](std::vector<CFoundLine>&&, const CSearchProgress&) {});
    } // the destructor ends the endless one, or the test times out
}
