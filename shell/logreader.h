// SPDX-License-Identifier: MIT
// Following the service's log file: the reader that reads it line by line while it grows, and
// the rules that turn each change notice into one batch of text for a view (the window's log
// view and zelbinctl's "log --follow" both use them).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

// A line longer than this is read in pieces of at most this many bytes: a file without line
// feeds (a device, a corrupt log) costs bounded memory, and the text limit applies per piece.
inline constexpr size_t LOG_LINE_CHUNK = 64 * 1024;

// The line-end rule that the live log, zelbinctl and an opened file's index share: a line ends
// with its line feed; the carriage returns just before it belong to its line end, not to its text.
inline const char* FindLogLineFeed(const char* p, const char* pEnd)
{
    return static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(pEnd - p)));
}
// How many carriage returns end the text (of bytes or of UTF-16 units).
template <class Text> size_t TrailingCarriageReturns(const Text& text)
{
    size_t n = 0;
    while (n < text.size() && text[text.size() - 1 - n] == '\r')
        ++n;
    return n;
}
// A line's text: its bytes up to the line feed, without the carriage returns before it.
inline std::string_view LogLineText(std::string_view line)
{
    line.remove_suffix(TrailingCarriageReturns(line));
    return line;
}
// Whether the bytes are plain ASCII, told eight at a time (the usual log line is).
bool IsPlainAscii(std::string_view bytes);
// The bytes as text, as the log view reads them: a byte that starts no UTF-8 character is U+FFFD.
std::u16string DecodeLogText(std::string_view bytes);
// How many of the bytes make the first iUnits UTF-16 units of DecodeLogText(bytes).
size_t LogTextBytes(std::string_view bytes, size_t iUnits);

// The service's log file, opened for reading in binary mode. The position is the reader's own.
class CLogFileReader
{
public:
    CLogFileReader() = default;
    ~CLogFileReader();
    CLogFileReader(const CLogFileReader&) = delete;
    CLogFileReader& operator=(const CLogFileReader&) = delete;

    // Only a regular file is opened, and the open never waits (a FIFO or a device under the
    // path is refused, with the reason in GetError()).
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_hFile != NO_FILE; }
    const std::string& GetError() const { return m_error; }
    // The file's current size; 0 when closed or when it cannot be read.
    uint32_t GetSize() const;
    // Non-zero when closed or on failure (fseek semantics).
    int Seek(long iOffset, int iOrigin);
    // The reading position; 0 when closed.
    long Tell() const;
    // The next line up to and including its line feed, or up to the end of the file, or its next
    // LOG_LINE_CHUNK bytes; the line feed is removed (a carriage return before it stays). False,
    // with empty text, at the end of the file, which stays readable for what is appended later.
    // A character whose bytes are not all written yet is left for the next read; bytes that are
    // no UTF-8 read as U+FFFD.
    bool ReadLine(std::u16string& line);
    // The same line as its bytes, valid until the next read.
    bool ReadLineBytes(std::string_view& bytes);
    // False when another file now stands under the path (the service replaced its log); true
    // when it is still the open one, or when nothing stands there.
    bool IsStillAt(const std::string& path) const;
    // Up to n bytes of the file that end at the position (fewer near its start), read without
    // moving the reading position; empty when closed or unreadable.
    std::string PeekBefore(long iPosition, size_t n) const;
    // The file's size in bytes, also above 4 GiB; -1 when closed or unreadable.
    int64_t GetFileSize() const { return m_hFile == NO_FILE ? -1 : FileSize(m_hFile); }
    // Reads at the offset without moving the reading position: the count read, 0 at the end,
    // -1 on failure or when closed. Threads may read at once (no shared position). The offset may
    // be past 4 GiB on every system (a long has 32 bits on Windows).
    long ReadBytesAt(char* pBuffer, size_t iSize, int64_t iOffset) const
    {
        return m_hFile == NO_FILE ? -1 : ReadAt(m_hFile, pBuffer, iSize, iOffset);
    }

private:
    // The platform file's side: a descriptor (POSIX) or a HANDLE (Windows).
    using FileHandle = intptr_t;
    static constexpr FileHandle NO_FILE = -1;
    // A regular file opened for reading, shared with its writer and with whoever deletes or
    // renames it; NO_FILE with *pError set otherwise.
    static FileHandle OpenFile(const std::string& path, std::string* pError);
    static void CloseFile(FileHandle hFile);
    // The size, or -1.
    static int64_t FileSize(FileHandle hFile);
    // Whether the file under the path is the open one (true when nothing stands there).
    static bool IsSameFile(FileHandle hFile, const std::string& path);
    // Reads at the offset without moving anything; the count read, 0 at the end, -1 on failure.
    static long ReadAt(FileHandle hFile, char* pBuffer, size_t iSize, int64_t iOffset);

    // Reads more of the file behind what is buffered; false when nothing more came.
    bool Fill();

    FileHandle m_hFile = NO_FILE;
    std::string m_error;
    std::vector<char> m_buffer; // read ahead, kept from line to line
    size_t m_iBegin = 0;        // the first unread byte in m_buffer
    size_t m_iEnd = 0;          // behind the last byte read into m_buffer
    long m_iBufferEnd = 0;      // the file position of m_iEnd
};

// Where the log text goes: an edit control of limited size, or a terminal.
class ILogTextTarget
{
public:
    virtual ~ILogTextTarget() = default;
    virtual size_t GetTextLength() = 0;
    virtual size_t GetTextLimit() = 0;
    // Caret to the end of the text, scrolled into view; any selection is lost.
    virtual void MoveCaretToEnd() = 0;
    // Removes all text (the file was cleared or the text reached its limit).
    virtual void Empty() = 0;
    // Inserts at the caret, in one operation.
    virtual void Insert(const std::u16string& batch) = 0;
    // Replaces the whole text (the control was full and refused the insertion).
    virtual void ReplaceAll(const std::u16string& batch) = 0;
    // A target without a text limit (a terminal) takes the text in parts of about this many
    // units as they are read, so that a large file streams through bounded memory. A control
    // takes each notice's text in one batch.
    virtual size_t GetStreamChunk() { return std::numeric_limits<size_t>::max(); }
    // A read that brings more than the limit reports how far it has come (bytes of the file);
    // false stops it, and the file is closed.
    virtual bool OnReadProgress(uint64_t /*iDone*/, uint64_t /*iTotal*/) { return true; }
};

// The log view's state and its reading rules, without any widget.
class CLogFollower
{
public:
    // A path equal to the current one changes nothing; another reopens and reads.
    void SetLogFile(const std::u16string& path, ILogTextTarget& target);
    // The same without reading; false when the path is the current one.
    bool SetLogFile(const std::u16string& path);
    const std::u16string& GetLogFilePath() const { return m_path; }
    void Reopen();
    // Appends what was added to the file since the last read, as one batch.
    void ReadNewLogData(ILogTextTarget& target);
    // ReadNewLogData in two steps, for a reader on another thread: the first reads the batch,
    // emptying the target (or streaming into it) as the text limit demands, and is false when
    // the target stopped it; the second inserts it, replacing the text when the control refuses.
    bool CollectNewLogData(ILogTextTarget& target, std::u16string& batch);
    static void InsertBatch(const std::u16string& batch, ILogTextTarget& target);
    // Bytes added to the file since the last read.
    uint64_t GetUnreadSize() const;
    bool IsLogFileOpen() const { return m_bOpen; }
    // The open file is no longer the one under its name (rotated, or deleted): its owner should
    // ask the service where it logs now.
    bool IsFollowingAStaleFile() const { return m_bStale; }
    // Why the file is not followed (not a regular file, cannot be opened); empty when it is.
    const std::string& GetError() const { return m_file.GetError(); }

private:
    // Moves the reading position past the last point at which the limit empties the batch.
    bool SkipToLastEmptying(ILogTextTarget& target, std::u16string& batch);
    void Close();

    CLogFileReader m_file;
    bool m_bOpen = false;
    uint32_t m_iLastSize = 0;
    // The last bytes read: if they are no longer there, the file was cleared and written again
    // between two notices, even when it has grown past the old size since.
    std::string m_lastBytes;
    std::u16string m_path;
    bool m_bStale = false;
};

// Lines end in CR LF in the view; a line without CR stays open for its rest.
void AppendLogLine(const std::u16string& line, std::u16string& batch);
