// SPDX-License-Identifier: MIT
// Walking the lines of a log held in a file or in memory, piece by piece, with the live log's
// line-end rule: every search over a whole log, and a copy out of an opened file, read their lines
// here.
#pragma once

#include "logreader.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Where the lines are read from, by offset. Reads may come from several threads at once.
class ILineSource
{
public:
    virtual ~ILineSource() = default;
    // The count read, 0 at the end, -1 on failure.
    virtual long Read(char* pBuffer, size_t iSize, int64_t iOffset) const = 0;
};

// A text in memory (a snapshot of the live log's view, or a test's text).
class CTextSource : public ILineSource
{
public:
    explicit CTextSource(std::string text) : m_text(std::move(text)) {}
    long Read(char* pBuffer, size_t iSize, int64_t iOffset) const override;
    int64_t GetSize() const { return static_cast<int64_t>(m_text.size()); }

private:
    std::string m_text;
};

// An open log file, shared with whoever else reads it (its index, other searches).
class CFileSource : public ILineSource
{
public:
    explicit CFileSource(std::shared_ptr<const CLogFileReader> pFile) : m_pFile(std::move(pFile)) {}
    long Read(char* pBuffer, size_t iSize, int64_t iOffset) const override
    {
        return m_pFile->ReadBytesAt(pBuffer, iSize, iOffset);
    }

private:
    std::shared_ptr<const CLogFileReader> m_pFile;
};

class CLineWalker
{
public:
    // Lines are read in pieces of this size; a longer line grows the buffer up to the line limit.
    static constexpr size_t PIECE = 1024 * 1024;

    // A line longer than iMaxLineBytes is given as its first iMaxLineBytes bytes: the rest is
    // read only to find where the line ends.
    explicit CLineWalker(size_t iMaxLineBytes) : m_iMaxLine(std::max<size_t>(iMaxLineBytes, 1)) {}
    // A walk stops, returning false, once the flag is set: it is looked at before every piece
    // read, so that a line of gigabytes without a line feed does not hold up whoever waits.
    void SetStopFlag(const std::atomic<bool>* pStop) { m_pStop = pStop; }

    // Calls f(iOffset, text, bEnded) for each line that starts at or after iFrom (a line start)
    // and before iEnd: its offset, its text without the line end (see LogLineText), and whether
    // its line feed came before iEnd. False when f returned false (or the stop flag was set);
    // otherwise the walk ended at iEnd, or where the source ended.
    template <class F> bool Walk(const ILineSource& source, int64_t iFrom, int64_t iEnd, F&& f);

private:
    size_t m_iMaxLine;
    const std::atomic<bool>* m_pStop = nullptr;
    std::vector<char> m_buffer;
    int64_t m_iSkipped = 0; // bytes of an oversized line that were looked through and dropped
};

template <class F>
bool CLineWalker::Walk(const ILineSource& source, int64_t iFrom, int64_t iEnd, F&& f)
{
    if (m_buffer.size() < PIECE)
        m_buffer.resize(PIECE);
    size_t iHave = 0;        // bytes in the buffer, the current line's first
    int64_t iLine = iFrom;   // the offset of the buffer's first byte: the current line's start
    int64_t iRead = iFrom;   // where the next read begins
    bool bOversized = false; // the current line passed the limit: only its line feed is sought
    size_t iScanned = 0;     // bytes of the buffer known to hold no line feed
    m_iSkipped = 0;
    for (;;)
    {
        // Every whole line in the buffer.
        size_t iBegin = 0;
        const char* pEnd = m_buffer.data() + iHave;
        for (const char* pFeed;
             (pFeed = FindLogLineFeed(m_buffer.data() + std::max(iBegin, iScanned), pEnd)) !=
             nullptr;)
        {
            const size_t iFeed = static_cast<size_t>(pFeed - m_buffer.data());
            const std::string_view text(m_buffer.data() + iBegin,
                                        bOversized ? m_iMaxLine : iFeed - iBegin);
            if (!f(iLine, bOversized ? text : LogLineText(text), true))
                return false;
            iLine += static_cast<int64_t>(iFeed + 1 - iBegin) + (bOversized ? m_iSkipped : 0);
            iBegin = iFeed + 1;
            iScanned = 0;
            bOversized = false;
            m_iSkipped = 0;
        }
        // What is left starts the next line; it moves to the front.
        std::memmove(m_buffer.data(), m_buffer.data() + iBegin, iHave - iBegin);
        iHave -= iBegin;
        iScanned = iHave; // none of it holds a line feed
        // A line at the limit keeps its prefix; what follows is only looked through.
        bOversized = bOversized || iHave >= m_iMaxLine;
        if (bOversized && iHave > m_iMaxLine)
        {
            m_iSkipped += static_cast<int64_t>(iHave - m_iMaxLine);
            iHave = iScanned = m_iMaxLine;
        }
        if (m_pStop && m_pStop->load(std::memory_order_relaxed))
            return false;
        if (m_buffer.size() < iHave + PIECE)
            m_buffer.resize(iHave + PIECE);
        const int64_t iWant =
            std::min<int64_t>(static_cast<int64_t>(m_buffer.size() - iHave), iEnd - iRead);
        const long r =
            iWant > 0 ? source.Read(m_buffer.data() + iHave, static_cast<size_t>(iWant), iRead) : 0;
        if (r <= 0)
            break;
        iRead += r;
        iHave += static_cast<size_t>(r);
    }
    // The last line, its line feed not yet written.
    if (iHave > 0 || bOversized)
    {
        const std::string_view text(m_buffer.data(), bOversized ? m_iMaxLine : iHave);
        if (!f(iLine, bOversized ? text : LogLineText(text), false))
            return false;
    }
    return true;
}
