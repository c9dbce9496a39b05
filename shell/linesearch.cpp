// SPDX-License-Identifier: MIT
// Searching a whole log on a worker thread.

#include "linesearch.h"

#include <chrono>
#include <cstring>
#include <utility>

long CTextSource::Read(char* pBuffer, size_t iSize, int64_t iOffset) const
{
    if (iOffset < 0 || iOffset > GetSize())
        return -1;
    const size_t n = std::min(iSize, m_text.size() - static_cast<size_t>(iOffset));
    std::memcpy(pBuffer, m_text.data() + iOffset, n);
    return static_cast<long>(n);
}

namespace
{
// Results go out at least this often (and whenever a batch is full), so that counts grow
// visibly and the first matches show at once.
constexpr auto REPORT_EVERY = std::chrono::milliseconds(50);
constexpr size_t BATCH = 4096;
// Lines are matched together, joined by line feeds, in pieces of about this size: one call of the
// engine per match rather than per line (a line costs a call even when it has no match).
constexpr size_t JOINED_BYTES = 64 * 1024;

// Counts the matches of each line and hands on those that have any.
class CMatchCounter
{
public:
    CMatchCounter(const CLogPattern& pattern, CSearchProgress& progress,
                  std::vector<CFoundLine>& batch)
        : m_pattern(pattern), m_progress(progress), m_batch(batch)
    {
    }
    // A line, numbered from the last one's.
    void AddLine(std::string_view text)
    {
        if (m_iJoined > 0)
            m_joined += '\n';
        m_joined.append(text);
        ++m_iJoined;
    }
    // Matches the lines added so far.
    void Flush()
    {
        if (m_iJoined == 0)
            return;
        int64_t iLine = m_iLine; // the line that begins at iScanned
        size_t iScanned = 0;
        int64_t iCounting = -1; // the line whose matches are being counted
        int n = 0;
        const char* const pText = m_joined.data();
        const auto count = [&](size_t iStart, size_t)
        {
            for (const char* p; (p = static_cast<const char*>(std::memchr(
                                     pText + iScanned, '\n', iStart - iScanned))) != nullptr;)
            {
                ++iLine;
                iScanned = static_cast<size_t>(p - pText) + 1;
            }
            if (iLine != iCounting)
            {
                Found(iCounting, n);
                iCounting = iLine;
                n = 0;
            }
            ++n;
        };
        if (!m_pattern.ForEachMatchInLines(m_joined, count))
        {
            // Line by line: the pattern needs each line's own start and end.
            size_t iBegin = 0;
            for (int64_t i = 0; i < m_iJoined; ++i)
            {
                const size_t iFeed = std::min(m_joined.find('\n', iBegin), m_joined.size());
                Found(m_iLine + i,
                      m_pattern.CountIn(std::string_view(pText + iBegin, iFeed - iBegin)));
                iBegin = iFeed + 1;
            }
        }
        Found(iCounting, n);
        m_iLine += m_iJoined;
        m_iJoined = 0;
        m_joined.clear();
    }
    void SetFirstLine(int64_t iLine) { m_iLine = iLine; }

private:
    void Found(int64_t iLine, int n)
    {
        if (n <= 0)
            return;
        m_batch.push_back({iLine, n});
        m_progress.iMatches += n;
        ++m_progress.iMatchingLines;
    }

    const CLogPattern& m_pattern;
    CSearchProgress& m_progress;
    std::vector<CFoundLine>& m_batch;
    std::string m_joined; // the lines from m_iLine on, joined by line feeds
    int64_t m_iJoined = 0;
    int64_t m_iLine = 0;
};
} // namespace

bool SearchLines(const ILineSource& source, int64_t iFrom, int64_t iEnd, int64_t iFirstLine,
                 const CLogPattern& pattern, const std::atomic<bool>* pStop, const SearchSink& sink)
{
    CSearchProgress progress;
    progress.iBytesTotal = iEnd - iFrom;
    std::vector<CFoundLine> batch;
    CMatchCounter counter(pattern, progress, batch);
    counter.SetFirstLine(iFirstLine);
    auto nextReport = std::chrono::steady_clock::now() + REPORT_EVERY;
    int64_t iUnreported = 0; // bytes walked since the clock was last looked at
    CLineWalker walker(MAX_SEARCHED_LINE);
    walker.SetStopFlag(pStop);
    const bool bWalked = walker.Walk(
        source, iFrom, iEnd,
        [&](int64_t iOffset, std::string_view text, bool)
        {
            if (pStop && pStop->load(std::memory_order_relaxed))
                return false;
            // What came before this line is searched and reported now and then.
            iUnreported += static_cast<int64_t>(text.size()) + 1;
            if (iUnreported >= static_cast<int64_t>(JOINED_BYTES))
            {
                iUnreported = 0;
                counter.Flush();
                if (batch.size() >= BATCH || std::chrono::steady_clock::now() >= nextReport)
                {
                    progress.iBytesDone = iOffset - iFrom;
                    sink(std::exchange(batch, {}), progress);
                    nextReport = std::chrono::steady_clock::now() + REPORT_EVERY;
                }
            }
            counter.AddLine(text);
            return true;
        });
    if (!bWalked)
        return false;
    counter.Flush();
    progress.iBytesDone = progress.iBytesTotal;
    progress.bDone = true;
    sink(std::move(batch), progress);
    return true;
}

std::string ReadLogText(const ILineSource& source, int64_t iLineStart, int64_t iFrom, int64_t iTo)
{
    std::string text;
    bool bFirst = true;
    CLineWalker walker(static_cast<size_t>(std::max<int64_t>(iTo - iLineStart, 1)));
    walker.Walk(source, iLineStart, iTo,
                [&](int64_t iOffset, std::string_view line, bool)
                {
                    const int64_t iBegin = std::max<int64_t>(iFrom - iOffset, 0);
                    if (iBegin > static_cast<int64_t>(line.size()) && bFirst)
                        return true; // the range begins after this line's text
                    if (!std::exchange(bFirst, false))
                        text += '\n';
                    if (iBegin < static_cast<int64_t>(line.size()))
                        text.append(line.substr(static_cast<size_t>(iBegin)));
                    return true;
                });
    return text;
}

CLineSearch::~CLineSearch()
{
    Cancel();
    JoinEnded(true);
}

void CLineSearch::Start(std::shared_ptr<const ILineSource> pSource, int64_t iFrom, int64_t iEnd,
                        int64_t iFirstLine, const CLogPattern& pattern, SearchSink sink)
{
    Cancel();
    auto pRun = m_pRun = std::make_shared<CRun>();
    m_thread = std::thread(
        [pRun, pSource = std::move(pSource), iFrom, iEnd, iFirstLine, pattern,
         sink = std::move(sink)]
        {
            SearchLines(*pSource, iFrom, iEnd, iFirstLine, pattern, &pRun->bStop,
                        [&](std::vector<CFoundLine>&& batch, const CSearchProgress& progress)
                        {
                            std::lock_guard lock(pRun->lock);
                            if (!pRun->bStop)
                                sink(std::move(batch), progress);
                        });
            pRun->bEnded = true;
        });
}

void CLineSearch::Cancel()
{
    if (!m_thread.joinable())
        return;
    {
        // A sink call under way ends first; none begins after this.
        std::lock_guard lock(m_pRun->lock);
        m_pRun->bStop = true;
    }
    m_stopped.emplace_back(std::move(m_thread), std::exchange(m_pRun, nullptr));
    JoinEnded(false);
}

void CLineSearch::JoinEnded(bool bAll)
{
    std::erase_if(m_stopped,
                  [bAll](std::pair<std::thread, std::shared_ptr<CRun>>& stopped)
                  {
                      if (!bAll && !stopped.second->bEnded)
                          return false;
                      stopped.first.join();
                      return true;
                  });
}
