// SPDX-License-Identifier: MIT
// Log file writing for the stand-in service.

#include "servicelog.h"
#include "catalogue.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

CServiceLog::CServiceLog(std::string path, uint32_t iMask) : m_path(std::move(path)), m_iMask(iMask)
{
    const std::filesystem::path file(m_path);
    std::error_code ignored;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), ignored);
    m_hFile = OpenFile(m_path);
}

CServiceLog::~CServiceLog()
{
    CloseFile(m_hFile);
}

uint32_t CServiceLog::GetMask() const
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_iMask;
}

void CServiceLog::SetMask(uint32_t iMask)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_iMask = iMask;
}

const char* CServiceLog::CategoryName(uint32_t iCategory)
{
    switch (iCategory)
    {
    case LOG_VERBOSE:
        return "VERBOSE";
    case LOG_PROCESSED:
        return "PROCESSED";
    case LOG_RAW:
        return "RAW";
    case LOG_DEBUG:
        return "DEBUG";
    default:
        return "OTHER";
    }
}

bool CServiceLog::Write(uint32_t iCategory, const std::string& text)
{
    {
        std::lock_guard<std::mutex> g(m_mutex);
        if (!(m_iMask & iCategory))
            return false;
        const auto now = std::chrono::system_clock::now();
        const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
            1000;
        const std::tm local = LocalTime(seconds);
        char stamp[64];
        const size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        std::snprintf(stamp + n, sizeof stamp - n, ".%03d", static_cast<int>(ms));
        // One write per line, so a reader never sees two lines interleaved.
        const std::string line =
            std::string(stamp) + " " + CategoryName(iCategory) + " " + text + "\r\n";
        AppendToFile(m_hFile, line);
    }
    if (m_onChange)
        m_onChange();
    return true;
}

void CServiceLog::Clear()
{
    {
        std::lock_guard<std::mutex> g(m_mutex);
        TruncateFile(m_hFile);
    }
    if (m_onChange)
        m_onChange();
}
