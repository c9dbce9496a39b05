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
} // namespace

bool SearchLines(const ILineSource& source, int64_t iFrom, int64_t iEnd, int64_t iFirstLine,
                 const CLogPattern& pattern, const std::atomic<bool>* pStop, const SearchSink& sink)
{
    CSearchProgress progress;
    progress.iBytesTotal = iEnd - iFrom;
    std::vector<CFoundLine> batch;
    int64_t iLine = iFirstLine;
    auto nextReport = std::chrono::steady_clock::now() + REPORT_EVERY;
    CLineWalker walker(MAX_SEARCHED_LINE);
    walker.SetStopFlag(pStop);
    const bool bWalked =
        walker.Walk(source, iFrom, iEnd,
                    [&](int64_t iOffset, std::string_view text, bool)
                    {
                        if (pStop && pStop->load(std::memory_order_relaxed))
                            return false;
                        if (const int n = pattern.CountIn(text))
                        {
                            batch.push_back({iLine, n});
                            progress.iMatches += n;
                            ++progress.iMatchingLines;
                        }
                        ++iLine;
                        if (batch.size() >= BATCH || std::chrono::steady_clock::now() >= nextReport)
                        {
                            progress.iBytesDone = iOffset - iFrom;
                            sink(std::exchange(batch, {}), progress);
                            nextReport = std::chrono::steady_clock::now() + REPORT_EVERY;
                        }
                        return true;
                    });
    if (!bWalked)
        return false;
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

void CLineSearch::Start(std::shared_ptr<const ILineSource> pSource, int64_t iFrom, int64_t iEnd,
                        int64_t iFirstLine, const CLogPattern& pattern, SearchSink sink)
{
    Cancel();
    m_thread =
        std::thread([this, pSource = std::move(pSource), iFrom, iEnd, iFirstLine, pattern,
                     sink = std::move(sink)]
                    { SearchLines(*pSource, iFrom, iEnd, iFirstLine, pattern, &m_bStop, sink); });
}

void CLineSearch::Cancel()
{
    if (!m_thread.joinable())
        return;
    m_bStop = true;
    m_thread.join();
    m_bStop = false;
}
