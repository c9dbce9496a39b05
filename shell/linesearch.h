// SPDX-License-Identifier: MIT
// Find and filter over a whole log on a worker thread: the lines that match a pattern, counted and
// delivered in batches as they are found, with progress; a new pattern or the user's Escape
// cancels a search within a line's matching time.
#pragma once

#include "linewalker.h"
#include "logpattern.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

struct CFoundLine
{
    int64_t iLine; // from 0
    int iMatches;
    bool operator==(const CFoundLine& other) const = default;
};

struct CSearchProgress
{
    int64_t iBytesDone = 0;
    int64_t iBytesTotal = 0;
    int64_t iMatches = 0;       // matches counted so far
    int64_t iMatchingLines = 0; // lines with a match so far
    bool bDone = false;
};

// A line is searched in its first 16 MiB; the rest of a longer one is only looked through for
// where it ends.
inline constexpr size_t MAX_SEARCHED_LINE = 16 * 1024 * 1024;

// Searches the lines of the source between two offsets (iFrom a line start, line iFirstLine), and
// calls sink with each batch of matching lines and the progress so far; the last call has bDone.
// Stops, returning false, when *pStop is set (looked at after every line and every piece read).
using SearchSink = std::function<void(std::vector<CFoundLine>&&, const CSearchProgress&)>;
bool SearchLines(const ILineSource& source, int64_t iFrom, int64_t iEnd, int64_t iFirstLine,
                 const CLogPattern& pattern, const std::atomic<bool>* pStop,
                 const SearchSink& sink);

// The text between two offsets of a source, its lines (from the line that starts at iLineStart)
// joined by line feeds, their line ends left out as the log view leaves them out.
std::string ReadLogText(const ILineSource& source, int64_t iLineStart, int64_t iFrom, int64_t iTo);

// One search at a time on a thread of its own. Starting another and Cancel stop the one under
// way without waiting for its thread (which may be waiting for a processor on a busy machine):
// its sink is not called again once they return, and the thread ends by itself within a piece of
// the log. The destructor waits for every such thread.
class CLineSearch
{
public:
    CLineSearch() = default;
    ~CLineSearch();
    CLineSearch(const CLineSearch&) = delete;
    CLineSearch& operator=(const CLineSearch&) = delete;

    void Start(std::shared_ptr<const ILineSource> pSource, int64_t iFrom, int64_t iEnd,
               int64_t iFirstLine, const CLogPattern& pattern, SearchSink sink);
    void Cancel();

private:
    // A search's stop request, and the lock under which its sink is called.
    struct CRun
    {
        std::mutex lock;
        std::atomic<bool> bStop{false};
        std::atomic<bool> bEnded{false};
    };
    // Joins the stopped searches' threads that have ended.
    void JoinEnded(bool bAll);

    std::thread m_thread;
    std::shared_ptr<CRun> m_pRun;
    std::vector<std::pair<std::thread, std::shared_ptr<CRun>>> m_stopped;
};
