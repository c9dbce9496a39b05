// SPDX-License-Identifier: MIT
// Standard output on Windows: written through the C library in binary mode; the stop event is
// looked at before each write.

#include "output.h"
#include "waithandle.h"

#include <cstdio>

EWriteResult WriteStandardOutput(std::string_view bytes, CWaitHandle* pStop)
{
    CWaitHandle* handles[1] = {pStop};
    if (pStop && WaitForHandles(handles, 1, 0) == 0)
        return EWriteResult::Stopped;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
        std::fflush(stdout) != 0)
        return EWriteResult::Failed;
    return EWriteResult::Written;
}
