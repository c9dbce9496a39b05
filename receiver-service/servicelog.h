// SPDX-License-Identifier: MIT
// The stand-in service's log file: UTF-8 lines ended by CR LF, each with a millisecond time stamp
// and its category, written only when the category is in the log mask. Readers may open the file
// at any time; clearing truncates it, so it becomes shorter.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

// A line's text holds at most this many bytes: a receiver command of 60 000 characters is logged
// cut, with a mark, so that a client cannot fill the disk through the log.
inline constexpr size_t MAX_LOG_TEXT = 2000;

// The text as a log line holds it: every control character (C0, DEL, C1, and the line and
// paragraph separators) written as \xNN or \uNNNN, so that no text a client sends can end a line
// and begin one that looks like the service's own; cut after iMax bytes, between two characters,
// with the mark " [cut at N of M bytes]".
std::string LogText(std::string_view text, size_t iMax = MAX_LOG_TEXT);

class CServiceLog
{
public:
    // Opens (creating the directory and the file when needed) for appending. Throws
    // std::runtime_error when the file cannot be opened.
    CServiceLog(std::string path, uint32_t iMask);
    ~CServiceLog();
    CServiceLog(const CServiceLog&) = delete;
    CServiceLog& operator=(const CServiceLog&) = delete;

    const std::string& GetPath() const { return m_path; }
    uint32_t GetMask() const;
    void SetMask(uint32_t iMask);

    // Writes one line when iCategory is in the mask; returns whether it wrote. Text is UTF-8, and
    // goes in as LogText has it.
    bool Write(uint32_t iCategory, const std::string& text);
    void Clear();

    // Called (outside the log's lock) after every write and every clear.
    void SetChangeListener(std::function<void()> listener) { m_onChange = std::move(listener); }

    static const char* CategoryName(uint32_t iCategory);

private:
    // The platform file's side: a descriptor (POSIX) or a HANDLE (Windows) opened for appending,
    // shared with readers; OpenFile throws std::runtime_error with the reason.
    using FileHandle = intptr_t;
    static FileHandle OpenFile(const std::string& path);
    static void AppendToFile(FileHandle hFile, const std::string& bytes);
    static void TruncateFile(FileHandle hFile);
    static void CloseFile(FileHandle hFile);
    static std::tm LocalTime(std::time_t seconds);

    std::string m_path;
    mutable std::mutex m_mutex; // guards the mask and the file; under it only the file is written
    FileHandle m_hFile = -1;
    uint32_t m_iMask;
    std::function<void()> m_onChange;
};
