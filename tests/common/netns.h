// SPDX-License-Identifier: MIT
// Runs the calling test program again inside a private network namespace with only loopback up,
// unless it already runs in one: tests on the fixed multicast group and port then never meet each
// other or a receiver service running on this machine.
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
#include <vector>

// Moves this process into a new user and network namespace (root inside, mapped to the caller)
// and brings loopback up, as `unshare -rn` and `ip link set lo up` do, without starting either:
// starting processes is what the tests spend most on. Only while the process has one thread.
inline bool EnterNetworkNamespaceHere()
{
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        return false;
    const auto write = [](const char* pszPath, const std::string& text)
    {
        const int fd = ::open(pszPath, O_WRONLY | O_CLOEXEC);
        const bool bWritten =
            fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        if (fd >= 0)
            ::close(fd);
        return bWritten;
    };
    if (!write("/proc/self/setgroups", "deny") ||
        !write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request = {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool bUp = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    bUp = bUp && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return bUp;
}

// Returns true to go on (already inside); otherwise replaces the process, or returns false when
// the namespace cannot be made.
inline bool EnterPrivateNetworkNamespace(int argc, char** argv)
{
    if (std::getenv("ZELBIN_TEST_NETNS"))
        return true;
    ::setenv("ZELBIN_TEST_NETNS", "1", 1);
    if (EnterNetworkNamespaceHere())
        return true;
    char self[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::vector<std::string> args = {"unshare",
                                     "-rn",
                                     "sh",
                                     "-c",
                                     "ip link set lo up && exec \"$0\" \"$@\"",
                                     n > 0 ? std::string(self) : std::string(argv[0])};
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    std::vector<char*> raw;
    for (auto& a : args)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    ::execvp("unshare", raw.data());
    std::perror("cannot run the test in a private network namespace (unshare)");
    return false;
}
