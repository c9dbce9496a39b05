// SPDX-License-Identifier: MIT
// The opened file's line index and its indexing thread.

#include "lineindex.h"
#include "utf8path.h"

#include <chrono>
#include <filesystem>
#include <utility>

namespace
{
// Enough to tell one log line's time stamp and text from another's.
constexpr size_t LAST_BYTES_CHECKED = 64;
constexpr int64_t FLUSH_BYTES = 16 * 1024 * 1024;

std::string BytesBefore(const CLogFileReader& file, int64_t iEnd)
{
    const int64_t iStart = std::max<int64_t>(0, iEnd - static_cast<int64_t>(LAST_BYTES_CHECKED));
    std::string bytes(static_cast<size_t>(iEnd - iStart), '\0');
    const long r = file.ReadBytesAt(bytes.data(), bytes.size(), iStart);
    bytes.resize(r > 0 ? static_cast<size_t>(r) : 0);
    return bytes;
}
} // namespace

CLineIndex::~CLineIndex()
{
    Stop();
}

bool CLineIndex::Open(const std::string& path)
{
    Stop();
    m_path = path;
    auto pFile = std::make_shared<CLogFileReader>();
    if (!pFile->Open(path))
    {
        m_error = pFile->GetError();
        return false;
    }
    m_error.clear();
    m_pFile = std::move(pFile);
    Start();
    return true;
}

void CLineIndex::Start()
{
    {
        std::lock_guard lock(m_lock);
        m_blocks.clear();
        m_iLines = m_iIndexed = 0;
        m_iTarget = std::max<int64_t>(0, m_pFile->GetFileSize());
        m_bLastLineOpen = false;
        m_lastBytes.clear();
        m_bStop = false;
        m_bWorking = m_iTarget > 0;
    }
    m_bQuit = false;
    m_thread = std::thread([this] { Run(); });
}

void CLineIndex::Stop()
{
    {
        std::lock_guard lock(m_lock);
        m_bStop = true;
    }
    m_bQuit = true;
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CLineIndex::Run()
{
    // Pieces that stay in the processor's cache between the copy out of the file and the scan.
    std::vector<char> buffer(256 * 1024);
    std::vector<int64_t> starts;
    starts.reserve(BLOCK_LINES);
    std::unique_lock lock(m_lock);
    for (;;)
    {
        m_changed.wait(lock, [this] { return m_bStop || m_iIndexed < m_iTarget; });
        if (m_bStop)
            return;
        m_bWorking = true;
        const int64_t iTo = m_iTarget;
        int64_t iPos = m_iIndexed;
        // The line under way: its start, and whether that is recorded already (a last line whose
        // line feed had not come yet).
        bool bRecorded = m_bLastLineOpen;
        int64_t iLineStart = bRecorded ? LineStart(m_iLines - 1) : iPos;
        lock.unlock();
        int64_t iFlushed = iPos;
        while (iPos < iTo && !m_bQuit.load(std::memory_order_relaxed))
        {
            const long r =
                m_pFile->ReadBytesAt(buffer.data(),
                                     static_cast<size_t>(std::min<int64_t>(
                                         static_cast<int64_t>(buffer.size()), iTo - iPos)),
                                     iPos);
            if (r <= 0)
                break; // the file ends before the size seen: it shrank
            const char* const pBegin = buffer.data();
            const char* const pEnd = pBegin + r;
            for (const char* p = pBegin; (p = FindLogLineFeed(p, pEnd)) != nullptr; ++p)
            {
                if (!bRecorded)
                    starts.push_back(iLineStart);
                iLineStart = iPos + (p - pBegin) + 1;
                bRecorded = false;
            }
            iPos += r;
            // What is indexed shows in parts: every block of lines, or every 16 MiB. Only whole
            // lines show until the pass ends.
            if (starts.size() >= BLOCK_LINES || iPos - iFlushed >= FLUSH_BYTES)
            {
                std::lock_guard flush(m_lock);
                Append(starts);
                m_iIndexed = bRecorded ? iPos : iLineStart;
                iFlushed = iPos;
                starts.clear();
            }
        }
        std::string lastBytes = BytesBefore(*m_pFile, iPos);
        lock.lock();
        if (m_bQuit)
            return;
        // The last line counts once it has a byte, its line feed or not.
        if (!bRecorded && iLineStart < iPos)
            starts.push_back(iLineStart);
        Append(starts);
        starts.clear();
        m_iIndexed = iPos;
        m_bLastLineOpen = iLineStart < iPos;
        // A file that ended before the size seen has shrunk: Refresh starts it over. A target
        // that grew during the pass stays, and the next pass indexes the growth.
        if (iPos < iTo)
            m_iTarget = iPos;
        m_lastBytes = std::move(lastBytes);
        m_bWorking = false;
        m_changed.notify_all();
    }
}

void CLineIndex::Append(const std::vector<int64_t>& starts)
{
    for (size_t i = 0; i < starts.size();)
    {
        // A new block when the last is full, or when a distance would not fit 32 bits.
        if (m_blocks.empty() || m_blocks.back().iCount >= BLOCK_LINES ||
            starts[i] - m_blocks.back().iBase > int64_t{UINT32_MAX})
            m_blocks.push_back(
                {m_iLines, starts[i], std::make_unique_for_overwrite<uint32_t[]>(BLOCK_LINES)});
        CBlock& block = m_blocks.back();
        // As many as fit the block, by count and by distance.
        const auto itLast =
            starts.begin() +
            static_cast<ptrdiff_t>(std::min(starts.size(), i + BLOCK_LINES - block.iCount));
        const auto itEnd = std::upper_bound(starts.begin() + static_cast<ptrdiff_t>(i), itLast,
                                            block.iBase + int64_t{UINT32_MAX});
        const size_t n = static_cast<size_t>(itEnd - starts.begin()) - i;
        uint32_t* pOut = block.offsets.get() + block.iCount;
        for (auto it = starts.begin() + static_cast<ptrdiff_t>(i); it != itEnd; ++it)
            *pOut++ = static_cast<uint32_t>(*it - block.iBase);
        block.iCount += n;
        m_iLines += static_cast<int64_t>(n);
        i += n;
    }
}

int64_t CLineIndex::LineStart(int64_t iLine) const
{
    if (iLine < 0 || iLine >= m_iLines)
        return -1;
    // The block that holds the line: the last whose first line is not after it.
    const auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), iLine,
                                     [](int64_t i, const CBlock& b) { return i < b.iFirstLine; });
    const CBlock& block = *(it - 1);
    return block.iBase + block.offsets[static_cast<size_t>(iLine - block.iFirstLine)];
}

int64_t CLineIndex::GetLineCount() const
{
    std::lock_guard lock(m_lock);
    return m_iLines;
}

int64_t CLineIndex::GetEstimatedLineCount() const
{
    std::lock_guard lock(m_lock);
    if (!m_bWorking || m_iIndexed <= 0)
        return m_iLines;
    return std::max(m_iLines, static_cast<int64_t>(static_cast<double>(m_iLines) *
                                                   static_cast<double>(m_iTarget) /
                                                   static_cast<double>(m_iIndexed)));
}

bool CLineIndex::IsComplete() const
{
    std::lock_guard lock(m_lock);
    return !m_bWorking && m_iIndexed >= m_iTarget;
}

int64_t CLineIndex::GetIndexedBytes() const
{
    std::lock_guard lock(m_lock);
    return m_iIndexed;
}

bool CLineIndex::GetLineRange(int64_t iLine, int64_t& iBegin, int64_t& iEnd) const
{
    std::lock_guard lock(m_lock);
    iBegin = LineStart(iLine);
    if (iBegin < 0)
        return false;
    iEnd = iLine + 1 < m_iLines ? LineStart(iLine + 1) : m_iIndexed;
    return true;
}

bool CLineIndex::ReadLine(int64_t iLine, size_t iMaxBytes, std::string& text,
                          int64_t* pLength) const
{
    text.clear();
    int64_t iBegin = 0, iEnd = 0;
    if (!GetLineRange(iLine, iBegin, iEnd) || !m_pFile)
        return false;
    // The whole line with its line end, unless it is longer than asked for.
    const int64_t iWhole = iEnd - iBegin;
    const bool bCut = iWhole > static_cast<int64_t>(iMaxBytes) + 1;
    text.resize(bCut ? iMaxBytes : static_cast<size_t>(iWhole));
    const long r = m_pFile->ReadBytesAt(text.data(), text.size(), iBegin);
    text.resize(r > 0 ? static_cast<size_t>(r) : 0);
    int64_t iLength = iWhole;
    if (!bCut)
    {
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        text.resize(LogLineText(text).size());
        iLength = static_cast<int64_t>(text.size());
    }
    else if (text.size() > iMaxBytes)
    {
        text.resize(iMaxBytes);
    }
    if (pLength)
        *pLength = iLength;
    return true;
}

std::shared_ptr<const ILineSource> CLineIndex::GetSource() const
{
    return m_pFile ? std::make_shared<CFileSource>(m_pFile) : nullptr;
}

CLineIndex::EChange CLineIndex::Refresh()
{
    if (!m_pFile)
        return EChange::None;
    std::error_code error;
    if (!std::filesystem::exists(PathFromUtf8(m_path), error))
        return EChange::Deleted;
    const int64_t iSize = m_pFile->GetFileSize();
    std::unique_lock lock(m_lock);
    const int64_t iIndexed = m_iIndexed;
    const std::string lastBytes = m_lastBytes;
    const bool bWorking = m_bWorking;
    lock.unlock();
    const bool bReplaced = !m_pFile->IsStillAt(m_path);
    if (bReplaced || iSize < iIndexed ||
        (!bWorking && BytesBefore(*m_pFile, iIndexed) != lastBytes))
    {
        Stop();
        auto pFile = std::make_shared<CLogFileReader>();
        if (pFile->Open(m_path))
            m_pFile = std::move(pFile);
        else
            m_error = pFile->GetError();
        Start();
        return EChange::Rebuilt;
    }
    lock.lock();
    if (iSize <= m_iTarget)
        return EChange::None;
    m_iTarget = iSize;
    lock.unlock();
    m_changed.notify_all();
    return EChange::Grew;
}

bool CLineIndex::WaitUntilComplete(int iTimeoutMs) const
{
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(iTimeoutMs),
                              [this] { return !m_bWorking && m_iIndexed >= m_iTarget; });
}
