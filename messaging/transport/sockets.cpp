// SPDX-License-Identifier: MIT
// The socket layer's parts that every platform shares: who holds the socket library.

#include "sockets.h"

#include <mutex>

// The platform file's start and stop of its socket library; each runs once per 0 -> 1 and 1 -> 0
// change of the count.
bool StartSystemSockets();
void StopSystemSockets();

namespace
{
std::mutex g_libraryMutex;
int g_iLibraryUsers = 0; // guarded by g_libraryMutex
} // namespace

bool AcquireSocketLibrary()
{
    std::lock_guard<std::mutex> g(g_libraryMutex);
    if (g_iLibraryUsers == 0 && !StartSystemSockets())
        return false;
    ++g_iLibraryUsers;
    return true;
}

void ReleaseSocketLibrary()
{
    std::lock_guard<std::mutex> g(g_libraryMutex);
    if (g_iLibraryUsers > 0 && --g_iLibraryUsers == 0)
        StopSystemSockets();
}

int GetSocketLibraryUsers()
{
    std::lock_guard<std::mutex> g(g_libraryMutex);
    return g_iLibraryUsers;
}
