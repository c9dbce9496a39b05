// SPDX-License-Identifier: MIT
// Log file reading and the append rules.

#include "logreader.h"
#include "utf8path.h"
#include "wire.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>

namespace
{
std::u16string DecodeLenient(const char* p, size_t n)
{
    return ToUtf16(std::string_view(p, n));
}

// The number of UTF-16 units DecodeLenient makes of the same bytes.
size_t LenientLength(std::string_view bytes)
{
    if (IsPlainAscii(bytes))
        return bytes.size();
    size_t iUnits = 0;
    WalkUtf8Lenient(bytes.data(), bytes.size(), [&iUnits](char16_t) { ++iUnits; });
    return iUnits;
}

// How many bytes at the end of an unfinished line belong to a character not yet fully written.
size_t IncompleteTail(const char* p, size_t n)
{
    for (size_t back = 1; back <= 3 && back <= n; ++back)
    {
        const auto b = static_cast<uint8_t>(p[n - back]);
        if ((b & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for its lead
        const size_t len = (b & 0xE0) == 0xC0   ? 2
                           : (b & 0xF0) == 0xE0 ? 3
                           : (b & 0xF8) == 0xF0 ? 4
                                                : 1;
        return len > back ? back : 0;
    }
    return 0;
}
} // namespace

bool IsPlainAscii(std::string_view bytes)
{
    uint64_t any = 0;
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8)
    {
        uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        any |= word;
    }
    for (; i < bytes.size(); ++i)
        any |= static_cast<uint8_t>(bytes[i]);
    return (any & 0x8080808080808080ULL) == 0;
}

std::u16string DecodeLogText(std::string_view bytes)
{
    return DecodeLenient(bytes.data(), bytes.size());
}

size_t LogTextBytes(std::string_view bytes, size_t iUnits)
{
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t i = 0;
    for (size_t iUnit = 0; i < bytes.size() && iUnit < iUnits;)
    {
        uint32_t cp = 0;
        const size_t len = Utf8SequenceAt(p + i, bytes.size() - i, cp);
        iUnit += len != 0 && cp >= 0x10000 ? 2 : 1;
        i += len == 0 ? 1 : len;
    }
    return i;
}

bool CLogFileReader::Open(const std::string& path)
{
    Close();
    m_hFile = OpenFile(path, &m_error);
    if (m_hFile == NO_FILE)
        return false;
    m_error.clear();
    return true;
}

void CLogFileReader::Close()
{
    if (m_hFile != NO_FILE)
        CloseFile(m_hFile);
    m_hFile = NO_FILE;
    m_iBegin = m_iEnd = 0;
    m_iBufferEnd = 0;
}

CLogFileReader::~CLogFileReader()
{
    Close();
}

uint32_t CLogFileReader::GetSize() const
{
    const int64_t iSize = m_hFile == NO_FILE ? -1 : FileSize(m_hFile);
    return iSize < 0 ? 0 : static_cast<uint32_t>(iSize);
}

bool CLogFileReader::IsStillAt(const std::string& path) const
{
    return m_hFile == NO_FILE || IsSameFile(m_hFile, path);
}

std::string CLogFileReader::PeekBefore(long iPosition, size_t n) const
{
    if (m_hFile == NO_FILE || iPosition <= 0)
        return {};
    const long iStart = std::max(0L, iPosition - static_cast<long>(n));
    std::string bytes(static_cast<size_t>(iPosition - iStart), '\0');
    const long r = ReadAt(m_hFile, bytes.data(), bytes.size(), iStart);
    bytes.resize(r > 0 ? static_cast<size_t>(r) : 0);
    return bytes;
}

long CLogFileReader::Tell() const
{
    return m_hFile != NO_FILE ? m_iBufferEnd - static_cast<long>(m_iEnd - m_iBegin) : 0;
}

int CLogFileReader::Seek(long iOffset, int iOrigin)
{
    if (m_hFile == NO_FILE)
        return -1;
    const long iBase = iOrigin == SEEK_CUR   ? Tell()
                       : iOrigin == SEEK_END ? static_cast<long>(GetSize())
                                             : 0;
    if (iBase + iOffset < 0)
        return -1;
    m_iBufferEnd = iBase + iOffset;
    m_iBegin = m_iEnd = 0;
    return 0;
}

bool CLogFileReader::Fill()
{
    if (m_iBegin > 0)
    {
        std::copy(m_buffer.begin() + static_cast<long>(m_iBegin),
                  m_buffer.begin() + static_cast<long>(m_iEnd), m_buffer.begin());
        m_iEnd -= m_iBegin;
        m_iBegin = 0;
    }
    // Room for a whole piece and a read ahead, so that short lines cost one read per many.
    if (m_buffer.size() < 2 * LOG_LINE_CHUNK)
        m_buffer.resize(2 * LOG_LINE_CHUNK);
    const long r =
        ReadAt(m_hFile, m_buffer.data() + m_iEnd, m_buffer.size() - m_iEnd, m_iBufferEnd);
    if (r <= 0)
        return false;
    m_iEnd += static_cast<size_t>(r);
    m_iBufferEnd += r;
    return true;
}

bool CLogFileReader::ReadLineBytes(std::string_view& bytes)
{
    bytes = {};
    if (m_hFile == NO_FILE)
        return false;
    const char* pFeed = nullptr;
    for (;;)
    {
        const size_t iAvailable = m_iEnd - m_iBegin;
        if (iAvailable > 0)
            pFeed =
                FindLogLineFeed(m_buffer.data() + m_iBegin,
                                m_buffer.data() + m_iBegin + std::min(iAvailable, LOG_LINE_CHUNK));
        if (pFeed || iAvailable >= LOG_LINE_CHUNK || !Fill())
            break;
    }
    const char* pBuffer = m_buffer.data() + m_iBegin;
    const bool bWholeLine = pFeed != nullptr;
    size_t iLength = bWholeLine ? static_cast<size_t>(pFeed - pBuffer)
                                : std::min(m_iEnd - m_iBegin, LOG_LINE_CHUNK);
    if (iLength == 0 && !bWholeLine)
        return false; // the end of the file, for now
    size_t iConsumed = bWholeLine ? iLength + 1 : iLength;
    if (!bWholeLine)
    {
        // A line still being written, or a piece of a long one: a character cut at its end is
        // read whole next time.
        const size_t iTail = IncompleteTail(pBuffer, iLength);
        iLength -= iTail;
        iConsumed -= iTail;
    }
    bytes = std::string_view(pBuffer, iLength);
    m_iBegin += iConsumed;
    // Nothing was consumed when the only bytes left belong to an unfinished character.
    return iConsumed > 0;
}

bool CLogFileReader::ReadLine(std::u16string& line)
{
    std::string_view bytes;
    const bool bRead = ReadLineBytes(bytes);
    line = DecodeLenient(bytes.data(), bytes.size());
    return bRead;
}

void AppendLogLine(const std::u16string& line, std::u16string& batch)
{
    const size_t iEnd = line.size() - TrailingCarriageReturns(line);
    batch.append(line, 0, iEnd);
    if (iEnd < line.size())
        batch += u"\r\n";
}

void CLogFollower::SetLogFile(const std::u16string& path, ILogTextTarget& target)
{
    if (SetLogFile(path))
        ReadNewLogData(target);
}

bool CLogFollower::SetLogFile(const std::u16string& path)
{
    if (path == m_path)
        return false;
    m_path = path;
    Reopen();
    return true;
}

void CLogFollower::Reopen()
{
    if (m_file.IsOpen())
        m_file.Close();
    m_bOpen = false;
    m_lastBytes.clear();
    if (!m_path.empty())
    {
        std::string utf8;
        Utf16ToUtf8(m_path, utf8);
        m_bOpen = m_file.Open(utf8);
    }
}

namespace
{
bool FileExists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(PathFromUtf8(path), error);
}

uintmax_t FileSize(const std::string& path)
{
    std::error_code error;
    const uintmax_t iSize = std::filesystem::file_size(PathFromUtf8(path), error);
    return error ? 0 : iSize;
}
} // namespace

// Enough to tell one log line's time stamp and text from another's.
constexpr size_t LAST_BYTES_CHECKED = 64;

uint64_t CLogFollower::GetUnreadSize() const
{
    if (!m_bOpen)
        return 0;
    const auto iSize = static_cast<long>(m_file.GetSize());
    const long iPosition = m_file.Tell();
    return static_cast<uint64_t>(iSize >= iPosition ? iSize - iPosition : iSize);
}

void CLogFollower::ReadNewLogData(ILogTextTarget& target)
{
    if (!m_bOpen)
        return;
    target.MoveCaretToEnd();
    std::u16string batch;
    if (CollectNewLogData(target, batch))
        InsertBatch(batch, target);
}

bool CLogFollower::CollectNewLogData(ILogTextTarget& target, std::u16string& batch)
{
    batch.clear();
    if (!m_bOpen)
        return false;
    std::string utf8Path;
    Utf16ToUtf8(m_path, utf8Path);
    // A file replaced under the same name counts as cleared, whatever its size; so does one that
    // is now shorter than what was read of it, or whose last bytes read are gone (cleared and
    // written again before any notice in between).
    // Another file under the name (a rotation, or the log deleted and made anew): the service may
    // still be writing the open one, so that is read to its end first; the view moves to the
    // new file once there is something in it.
    m_bStale = !m_file.IsStillAt(utf8Path) || !FileExists(utf8Path);
    const bool bReplaced = m_bStale && FileSize(utf8Path) > 0;
    if (m_bStale && !bReplaced)
        m_iLastSize = m_file.GetSize();
    const uint32_t iSize = bReplaced ? 0 : m_file.GetSize();
    const long iPosition = m_file.Tell();
    if (iSize < m_iLastSize || bReplaced || iPosition > static_cast<long>(iSize) ||
        m_file.PeekBefore(iPosition, m_lastBytes.size()) != m_lastBytes)
    {
        // Cleared or replaced by the service: start over from the file's beginning.
        Reopen();
        m_bStale = false;
        target.Empty();
        m_iLastSize = 0;
        m_file.Seek(0, SEEK_SET);
        std::u16string first;
        m_file.ReadLine(first);
        if (!first.empty())
        {
            first.resize(first.size() - TrailingCarriageReturns(first));
            batch += first + u"\r\n";
        }
    }
    else
    {
        m_iLastSize = iSize;
    }
    const size_t iLimit = target.GetTextLimit();
    // A line feed read is at most one unit more (CR LF), so less than the limit cannot empty.
    const long iAdded = static_cast<long>(m_file.GetSize()) - m_file.Tell();
    if (iAdded > 0 && static_cast<size_t>(iAdded) + batch.size() + 1 >= iLimit &&
        !SkipToLastEmptying(target, batch))
    {
        Close();
        return false;
    }
    // One UTF-16 unit per byte at most (CR LF stays two): room for all that was added, so that
    // a large notice does not copy its batch over and over while it grows. A target that takes
    // the text in parts never holds more than a part and a line's piece: a log of gigabytes
    // reserves no gigabytes for it.
    const long iLeft = static_cast<long>(m_file.GetSize()) - m_file.Tell();
    const size_t iStreamChunk = target.GetStreamChunk();
    size_t iRoom = std::min(static_cast<size_t>(std::max(iLeft, 0L)), iLimit);
    if (iStreamChunk < iRoom)
        iRoom = std::min(iRoom, iStreamChunk + LOG_LINE_CHUNK + 2);
    batch.reserve(batch.size() + iRoom);
    std::u16string line;
    while (m_file.ReadLine(line))
    {
        AppendLogLine(line, batch);
        if (batch.size() + 1 >= iLimit)
        {
            batch.clear();
            target.Empty();
        }
        else if (batch.size() >= iStreamChunk)
        {
            target.Insert(batch);
            batch.clear();
        }
    }
    m_lastBytes = m_file.PeekBefore(m_file.Tell(), LAST_BYTES_CHECKED);
    return true;
}

namespace
{
// The units a line's bytes add to a batch (see AppendLogLine).
size_t AppendedLength(std::string_view bytes)
{
    const size_t iCarriageReturns = TrailingCarriageReturns(bytes);
    const size_t iUnits = LenientLength(bytes) - iCarriageReturns;
    return iCarriageReturns ? iUnits + 2 : iUnits;
}

// How often a long read reports its progress.
constexpr uint64_t PROGRESS_STEP = 16 * 1024 * 1024;
} // namespace

bool CLogFollower::SkipToLastEmptying(ILogTextTarget& target, std::u16string& batch)
{
    // Each time the batch reaches the limit it is emptied, so only what follows the last time
    // can survive: that point is found by counting what each line adds, without building text.
    const size_t iLimit = target.GetTextLimit();
    const long iFrom = m_file.Tell();
    const auto iTotal = static_cast<uint64_t>(m_file.GetSize()) - static_cast<uint64_t>(iFrom);
    long iResume = -1;
    size_t iUnits = batch.size();
    uint64_t iNextReport = PROGRESS_STEP;
    std::string_view bytes;
    while (m_file.ReadLineBytes(bytes))
    {
        iUnits += AppendedLength(bytes);
        if (iUnits + 1 >= iLimit)
        {
            iUnits = 0;
            iResume = m_file.Tell();
        }
        const auto iDone = static_cast<uint64_t>(m_file.Tell() - iFrom);
        if (iDone >= iNextReport)
        {
            if (!target.OnReadProgress(iDone, std::max(iDone, iTotal)))
                return false;
            iNextReport = iDone + PROGRESS_STEP;
        }
    }
    if (iResume >= 0)
    {
        batch.clear();
        target.Empty();
    }
    m_file.Seek(iResume >= 0 ? iResume : iFrom, SEEK_SET);
    return true;
}

void CLogFollower::Close()
{
    m_file.Close();
    m_bOpen = false;
}

void CLogFollower::InsertBatch(const std::u16string& batch, ILogTextTarget& target)
{
    // Measured just before the insertion: a control emptied above and given exactly as many
    // characters as it held before has taken them, not refused them.
    const size_t iLengthBefore = target.GetTextLength();
    target.Insert(batch);
    const size_t iLengthAfter = target.GetTextLength();
    if (iLengthAfter != 0 && iLengthAfter == iLengthBefore && !batch.empty())
        target.ReplaceAll(batch);
}
