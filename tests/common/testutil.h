// SPDX-License-Identifier: MIT
// Test helpers: hex text for byte comparisons, exact-size buffers (the address sanitizer catches a
// read past the end), waits on a condition with a deadline, a recording trace sink.
#pragma once

#include "bytebuffer.h"
#include "trace.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#if !defined(_WIN32)
#include <unistd.h>
#endif

inline std::string Hex(const uint8_t* p, size_t n)
{
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i)
    {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

inline std::string Hex(const CByteBuffer* p)
{
    return p ? Hex(p->Data(), p->GetSize()) : std::string("<null>");
}

inline std::vector<uint8_t> Bytes(const std::string& hex)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < hex.size(); ++i) // two digits a byte; anything else between bytes
        if (std::isxdigit(static_cast<unsigned char>(hex[i])))
            out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i++, 2), nullptr, 16)));
    return out;
}

// A buffer of exactly these bytes, so that any read past its end is a sanitizer error.
inline CRefPtr<CByteBuffer> BufferOf(const std::vector<uint8_t>& bytes)
{
    CRefPtr<CByteBuffer> p;
    MakeByteBufferCopy(p, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return p;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Writes a file's bytes, in place of what it held or after it.
inline void WriteText(const std::string& path, const std::string& bytes, bool bAppend = false)
{
    std::ofstream(path, std::ios::binary | (bAppend ? std::ios::app : std::ios::trunc)) << bytes;
}

// How often a text holds another, overlapping ones counted.
inline size_t CountOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

#if !defined(_WIN32)
// The processor time, user and system, that a process has taken so far, in milliseconds.
inline double CpuMillisecondsOf(int pid)
{
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2)); // from the 3rd field
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        ticks += i >= 14 ? std::stol(field) : 0;
    return ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}
#endif

// Entries of a directory: /proc/self/fd counts open descriptors, /proc/self/task threads.
inline size_t CountEntries(const char* dir)
{
    std::error_code error;
    std::filesystem::directory_iterator it(dir, error);
    return error ? 0 : static_cast<size_t>(std::distance(it, {}));
}

// Polls a condition until it holds or the deadline passes; returns whether it held.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = std::chrono::milliseconds(5000))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        // re-check the condition every millisecond until the deadline
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Records the library's trace lines while it lives.
class CTraceRecorder
{
public:
    CTraceRecorder()
    {
        m_old = SetTraceSink(
            [this](const char* psz)
            {
                std::lock_guard<std::mutex> g(m_mutex);
                m_lines.emplace_back(psz);
            });
    }
    ~CTraceRecorder() { SetTraceSink(m_old); }
    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_lines;
    }
    bool Contains(const std::string& line)
    {
        const std::vector<std::string> lines = Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
    TraceSink m_old;
};

// The system's codes for what the library reports, written out for each platform.
#if defined(_WIN32)
inline constexpr int32_t CODE_MESSAGE_TOO_LONG = 10040;   // WSAEMSGSIZE
inline constexpr int32_t CODE_NO_BUFFERS = 10055;         // WSAENOBUFS
inline constexpr int32_t CODE_CONNECTION_REFUSED = 10061; // WSAECONNREFUSED
#else
inline constexpr int32_t CODE_MESSAGE_TOO_LONG = 90;    // EMSGSIZE
inline constexpr int32_t CODE_NO_BUFFERS = 105;         // ENOBUFS
inline constexpr int32_t CODE_CONNECTION_REFUSED = 111; // ECONNREFUSED
#endif
