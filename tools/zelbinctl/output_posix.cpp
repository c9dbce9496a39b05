// SPDX-License-Identifier: MIT
// Standard output on POSIX. A regular file takes any write at once; a pipe, a terminal or a
// socket may not, so there each write waits for room beside the stop signal and is at most
// PIPE_BUF bytes, which a pipe that polls writable takes without blocking.

#include "output.h"
#include "waithandle.h"

#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
bool IsRegularFile(int fd)
{
    struct stat st
    {
    };
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Whether the stop signal is there: a zero-time look that leaves it for the owner's wait.
bool IsStopRequested(CWaitHandle* pStop)
{
    CWaitHandle* handles[1] = {pStop};
    return pStop && WaitForHandles(handles, 1, 0) == 0;
}
} // namespace

EWriteResult WriteStandardOutput(std::string_view bytes, CWaitHandle* pStop)
{
    static const bool bRegular = IsRegularFile(STDOUT_FILENO);
    if (IsStopRequested(pStop))
        return EWriteResult::Stopped;
    while (!bytes.empty())
    {
        size_t iChunk = bytes.size();
        if (!bRegular)
        {
            pollfd fds[2] = {{STDOUT_FILENO, POLLOUT, 0}, {-1, 0, 0}};
            if (pStop)
                fds[1] = {static_cast<int>(pStop->GetHandle()), pStop->GetWaitEvents(), 0};
            if (::poll(fds, pStop ? 2 : 1, -1) < 0 && errno != EINTR)
                return EWriteResult::Failed;
            if (fds[1].revents)
                return EWriteResult::Stopped;
            if (!fds[0].revents)
                continue;
            iChunk = std::min<size_t>(iChunk, PIPE_BUF);
        }
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), iChunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return EWriteResult::Failed;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return EWriteResult::Written;
}
