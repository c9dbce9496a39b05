// SPDX-License-Identifier: MIT
// main() of the test programs on the fixed multicast group and port: the program runs itself again
// in a private network namespace with only loopback up (netns.h).

#include <gmock/gmock.h>

// Under Wine the whole test stage runs in one namespace of its own: Wine's sockets belong to its
// server process, which a program cannot move into another namespace.
#if !defined(_WIN32)
#include "netns.h"
#endif

int main(int argc, char** argv)
{
#if !defined(_WIN32)
    if (!EnterPrivateNetworkNamespace(argc, argv))
        return 1;
#endif
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
