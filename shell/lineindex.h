// SPDX-License-Identifier: MIT
// An opened log file's line index: where every line begins, built on a thread of its own while
// the file is shown, and kept up with a file that grows, shrinks or is replaced. It costs about
// four bytes a line; the lines' text stays in the file and is read when it is shown.
#pragma once

#include "linewalker.h" // ILineSource, CFileSource

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CLineIndex
{
public:
    // What Refresh found.
    enum class EChange
    {
        None,    // nothing new (or the index is still being built)
        Grew,    // more was written: it is being indexed
        Rebuilt, // the file shrank, was rewritten or replaced: indexed anew from its start
        Deleted, // nothing stands under the name now: what was indexed is still shown
    };

    CLineIndex() = default;
    ~CLineIndex();
    CLineIndex(const CLineIndex&) = delete;
    CLineIndex& operator=(const CLineIndex&) = delete;

    // Opens a regular file and starts indexing it. False, with the reason in GetError(), for
    // anything else (a FIFO, a device, a folder, a file that cannot be read).
    bool Open(const std::string& path);
    const std::string& GetError() const { return m_error; }

    // Lines indexed so far; a last line without its line feed counts.
    int64_t GetLineCount() const;
    // While the index is built: the lines the whole file will have at the density seen so far.
    int64_t GetEstimatedLineCount() const;
    bool IsComplete() const;
    // The file's size now (0 before it is opened).
    int64_t GetFileSize() const
    {
        return m_pFile ? std::max<int64_t>(m_pFile->GetFileSize(), 0) : 0;
    }
    // Bytes of the file indexed so far.
    int64_t GetIndexedBytes() const;
    // The line's text (without its line end) as bytes, at most iMaxBytes of them; its whole
    // length in *pLength. False for a line that is not indexed.
    bool ReadLine(int64_t iLine, size_t iMaxBytes, std::string& text,
                  int64_t* pLength = nullptr) const;
    // Where a line begins, and where the next one begins (the end of the indexed bytes for the
    // last line); false for a line that is not indexed.
    bool GetLineRange(int64_t iLine, int64_t& iBegin, int64_t& iEnd) const;
    // The file as it was opened, for searches and copies (valid after a rebuild too).
    std::shared_ptr<const ILineSource> GetSource() const;

    // Looks at the file under the name: grown, shrunk, rewritten, replaced or deleted.
    EChange Refresh();
    // Waits until the index has caught up with what it has seen of the file (tests, benchmarks).
    bool WaitUntilComplete(int iTimeoutMs) const;

private:
    // Lines in blocks: a block's first line's offset and each line's distance from it. A block's
    // room is not cleared when it is made: only what is written to it costs memory.
    struct CBlock
    {
        int64_t iFirstLine;
        int64_t iBase;
        std::unique_ptr<uint32_t[]> offsets; // BLOCK_LINES of them
        size_t iCount = 0;
    };
    static constexpr size_t BLOCK_LINES = 64 * 1024;

    void Start();
    void Stop();
    void Run();
    // Appends line starts (under the lock).
    void Append(const std::vector<int64_t>& starts);
    int64_t LineStart(int64_t iLine) const; // under the lock; -1 for no such line

    std::string m_path;
    std::string m_error;
    std::shared_ptr<CLogFileReader> m_pFile;

    mutable std::mutex m_lock; // guards everything below
    mutable std::condition_variable m_changed;
    std::vector<CBlock> m_blocks;
    int64_t m_iLines = 0;         // line starts recorded
    int64_t m_iIndexed = 0;       // bytes indexed
    int64_t m_iTarget = 0;        // the size to index up to
    bool m_bLastLineOpen = false; // the last line recorded has no line feed yet
    std::string m_lastBytes;      // the last bytes indexed, to tell a rewritten file
    bool m_bStop = false;
    // The same, looked at by the indexing thread after every line and before every piece read.
    std::atomic<bool> m_bQuit{false};
    bool m_bWorking = false;
    std::thread m_thread;
};
