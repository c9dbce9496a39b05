// SPDX-License-Identifier: MIT
// Runs the calling test program again inside a private network namespace with only loopback up,
// unless it already runs in one: tests on the fixed multicast group and port then never meet each
// other or a receiver service running on this machine.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

// Returns true to go on (already inside); otherwise replaces the process, or returns false when
// the namespace cannot be made.
inline bool EnterPrivateNetworkNamespace(int argc, char** argv)
{
    if (std::getenv("ZELBIN_TEST_NETNS"))
        return true;
    ::setenv("ZELBIN_TEST_NETNS", "1", 1);
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
