// SPDX-License-Identifier: MIT
// The socket layer's parts that every platform shares: who holds the socket library, and what
// a socket does with its network event.

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

CSocket::~CSocket()
{
    delete m_pNetworkEvent;
    Close();
    ReleaseSocketLibrary();
}

bool CSocket::CreateEventWith(uint8_t iFlags)
{
    if (!m_pNetworkEvent)
        m_pNetworkEvent = new CNetworkEvent(this, iFlags);
    return m_pNetworkEvent->GetHandle() != CWaitHandle::NO_HANDLE;
}

bool CSocket::CreateNetworkEvent()
{
    return CreateEventWith(SOCKET_EVENT_CLOSE | SOCKET_EVENT_READ | SOCKET_EVENT_WRITE);
}

bool CSocket::CreateReadNetworkEvent()
{
    return CreateEventWith(SOCKET_EVENT_CLOSE | SOCKET_EVENT_READ);
}

CStreamSocket* CStreamSocket::Adopt(SOCKET hSocket)
{
    return new CStreamSocket(hSocket);
}
