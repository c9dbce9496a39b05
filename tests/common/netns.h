// SPDX-License-Identifier: MIT
// Moves the calling test program into a private network namespace with only loopback up (unless it
// runs in one): tests on the fixed group and port never meet each other or a real service.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// Returns true to go on inside; false, with the reason, if the namespace cannot be made. Does what
// `unshare -rn` and `ip link set lo up` do (root inside, mapped to the caller) without starting
// them: starting processes is what tests spend most on. Only with one thread: first in main().
inline bool EnterPrivateNetworkNamespace(int, char**)
{
    if (std::getenv("ZELBIN_TEST_NETNS"))
        return true;
    ::setenv("ZELBIN_TEST_NETNS", "1", 1);
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    const auto write = [](const char* pszPath, const std::string& text)
    {
        const int fd = ::open(pszPath, O_WRONLY | O_CLOEXEC);
        const bool bWritten =
            fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        if (fd >= 0)
            ::close(fd);
        return bWritten;
    };
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0 || !write("/proc/self/setgroups", "deny") ||
        !write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
    {
        std::perror("cannot run the test in a private network namespace");
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request = {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool bUp = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    bUp = bUp && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (!bUp)
        std::perror("cannot bring loopback up in the test's network namespace");
    if (fd >= 0)
        ::close(fd);
    return bUp;
}
