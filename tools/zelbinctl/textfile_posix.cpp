// SPDX-License-Identifier: MIT
// The figures' text file on POSIX: mkostemp beside the target, then rename.

#include "textfile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string CheckTextFileTarget(const std::string& path)
{
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "" : path + ": " + std::strerror(errno);
    return S_ISREG(st.st_mode) ? "" : path + ": not a regular file; refused";
}

std::string WriteTextFileAtomically(const std::string& path, const std::string& text)
{
    std::string problem = CheckTextFileTarget(path);
    if (!problem.empty())
        return problem;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    // Hidden, and not ending in ".prom": the collector reads no temporary file.
    std::string temporary = folder + "." + path.substr(folder.size()) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return (folder.empty() ? "." : folder) + ": " + std::strerror(errno);
    int iError = ::fchmod(fd, 0644) == 0 ? 0 : errno;
    for (size_t i = 0; !iError && i < text.size();)
    {
        // No signal interrupts it: zelbinctl leaves the stop signals blocked.
        const ssize_t n = ::write(fd, text.data() + i, text.size() - i);
        if (n > 0)
            i += static_cast<size_t>(n);
        else
            iError = n == 0 ? EIO : errno;
    }
    if (::close(fd) != 0 && !iError)
        iError = errno;
    if (!iError && ::rename(temporary.c_str(), path.c_str()) != 0)
        iError = errno;
    if (!iError)
        return "";
    ::unlink(temporary.c_str());
    return path + ": " + std::strerror(iError);
}
