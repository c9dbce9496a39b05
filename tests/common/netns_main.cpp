// SPDX-License-Identifier: MIT
// main() of the test programs that use the fixed multicast group and port: the program runs
// itself again in a private network namespace with only loopback up, so that such tests never
// meet each other or a receiver service running on this machine.

#include "netns.h"

#include <gmock/gmock.h>

int main(int argc, char** argv)
{
    if (!EnterPrivateNetworkNamespace(argc, argv))
        return 1;
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
