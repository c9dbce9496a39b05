// SPDX-License-Identifier: MIT
// Log file writing for the stand-in service.

#include "servicelog.h"
#include "catalogue.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

std::string LogText(std::string_view text, size_t iMax)
{
    std::string out;
    out.reserve(std::min(text.size(), iMax) + 32);
    char escape[8];
    for (size_t i = 0; i < text.size();)
    {
        const auto c = static_cast<unsigned char>(text[i]);
        // One character at a time: an escape or a whole UTF-8 sequence, never half of one. A
        // byte that begins no whole sequence is escaped as well.
        size_t n = c < 0x80 ? 1 : c >= 0xF8 ? 0 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        for (size_t k = 1; k < n; ++k)
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                n = 0;
        const bool bStray = n == 0;
        n = std::max<size_t>(n, 1);
        const std::string_view one = text.substr(i, n);
        std::string_view piece = one;
        const auto second = n > 1 ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c < 0x20 || c == 0x7F || bStray)
        {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            piece = escape;
        }
        else if (n == 2 && c == 0xC2 && second >= 0x80 && second <= 0x9F) // C1: U+0080 to U+009F
        {
            std::snprintf(escape, sizeof escape, "\\u%04X", second);
            piece = escape;
        }
        else if (one == "\xE2\x80\xA8" || one == "\xE2\x80\xA9") // line, paragraph separator
        {
            std::snprintf(escape, sizeof escape, "\\u%04X",
                          0x2000 + static_cast<unsigned char>(one[2]) - 0x80);
            piece = escape;
        }
        if (out.size() + piece.size() > iMax)
            return out + " [cut at " + std::to_string(i) + " of " + std::to_string(text.size()) +
                   " bytes]";
        out += piece;
        i += n;
    }
    return out;
}

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
            std::string(stamp) + " " + CategoryName(iCategory) + " " + LogText(text) + "\r\n";
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
