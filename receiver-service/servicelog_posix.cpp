// SPDX-License-Identifier: MIT
// The service log's file on POSIX.

#include "servicelog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

CServiceLog::FileHandle CServiceLog::OpenFile(const std::string& path)
{
    // A link under the log's name is not followed: a clear-log must never truncate whatever
    // file the link points at. Only its owner reads the log.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot open log file " + path + ": " + std::strerror(errno));
    return fd;
}

void CServiceLog::AppendToFile(FileHandle hFile, const std::string& bytes)
{
    [[maybe_unused]] const ssize_t n = ::write(static_cast<int>(hFile), bytes.data(), bytes.size());
}

void CServiceLog::TruncateFile(FileHandle hFile)
{
    [[maybe_unused]] const int r = ::ftruncate(static_cast<int>(hFile), 0);
}

void CServiceLog::CloseFile(FileHandle hFile)
{
    if (hFile >= 0)
        ::close(static_cast<int>(hFile));
}

std::tm CServiceLog::LocalTime(std::time_t seconds)
{
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return local;
}
