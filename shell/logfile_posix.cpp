// SPDX-License-Identifier: MIT
// The log reader's file on POSIX.

#include "logreader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CLogFileReader::FileHandle CLogFileReader::OpenFile(const std::string& path, std::string* pError)
{
    // Non-blocking, so that a FIFO under the path cannot hold the caller in open().
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
    {
        *pError = path + ": " + std::strerror(errno);
        return NO_FILE;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        *pError = path + ": not a regular file; not followed";
        ::close(fd);
        return NO_FILE;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void CLogFileReader::CloseFile(FileHandle hFile)
{
    ::close(static_cast<int>(hFile));
}

int64_t CLogFileReader::FileSize(FileHandle hFile)
{
    struct stat st
    {
    };
    return ::fstat(static_cast<int>(hFile), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool CLogFileReader::IsSameFile(FileHandle hFile, const std::string& path)
{
    struct stat open
    {
    }, named{};
    if (::fstat(static_cast<int>(hFile), &open) != 0 || ::stat(path.c_str(), &named) != 0)
        return true;
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

long CLogFileReader::ReadAt(FileHandle hFile, char* pBuffer, size_t iSize, int64_t iOffset)
{
    return static_cast<long>(
        ::pread(static_cast<int>(hFile), pBuffer, iSize, static_cast<off_t>(iOffset)));
}
