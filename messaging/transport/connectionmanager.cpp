// SPDX-License-Identifier: MIT
// Connection manager: handshake, attaching and detaching, and the lazy pool of I/O threads.

#include "connectionmanager.h"
#include "exceptions.h"
#include "trace.h"

#include <algorithm>
#include <cstring>

CConnectionManager::CConnectionManager()
{
    AcquireRefCountLock();
    StartSocketLibrary(m_bSocketLibraryStarted);
    m_pDispatchThread = std::make_unique<CMessageDispatchThread>(this);
    m_pDispatchThread->Start();
}

CConnectionManager::~CConnectionManager()
{
    m_pDispatchThread->Stop();
    m_pDispatchThread->Join();
    {
        CAutoLock lock(m_lock);
        m_threads.clear(); // each stops, joins and closes the sockets it still serves
    }
    m_pDispatchThread.reset();
    StopSocketLibrary(m_bSocketLibraryStarted);
    ReleaseRefCountLock();
}

// The manager holds the socket library for as long as it lives; a peer that vanishes never kills
// the process (sends on POSIX pass MSG_NOSIGNAL).
void CConnectionManager::StartSocketLibrary(bool& bStarted)
{
    bStarted = AcquireSocketLibrary();
}

void CConnectionManager::StopSocketLibrary(bool& bStarted)
{
    if (bStarted)
        ReleaseSocketLibrary();
    bStarted = false;
}

bool CConnectionManager::ConnectClientObject(CClientObject* pClient, const char* pszHost,
                                             uint16_t iPort, const uint8_t* pHandshake,
                                             bool bNoDelay)
{
    CRefPtr<CClientObject> hold(pClient);
    CRefPtr<CMessagingSocket> pSocket;
    OpenMessagingSocket(pSocket, pszHost, iPort, SOCKET_FAMILY_IPV4, SOCKET_TYPE_STREAM,
                        SOCKET_PROTOCOL_TCP, bNoDelay);
    if (!pSocket)
        return false;
    if (!pHandshake)
        return true;
    uint8_t received[HANDSHAKE_LENGTH];
    if (!pSocket->ReadFully(received, HANDSHAKE_LENGTH, HANDSHAKE_TIMEOUT_MS))
    {
        Trace("CConnectionManager::ConnectClientObject: Client timed out waiting for server "
              "handshake "
              "string.");
        return false;
    }
    if (std::memcmp(received, pHandshake, HANDSHAKE_LENGTH) != 0)
    {
        Trace("CConnectionManager::ConnectClientObject: Handshake strings do not match.");
        return false;
    }
    return AttachSocket(pClient, pSocket.Get());
}

bool CConnectionManager::AttachSocket(CClientObject* pClient, IMessagingSocket* pSocket)
{
    if (!pClient || !pSocket)
        return false;
    CAutoLock lock(m_lock);
    CSocketIOThread* pRoom = nullptr;
    for (auto& pThread : m_threads)
    {
        if (pThread->HasSocket(pSocket))
            return false;
        if (!pRoom && pThread->GetSocketCount() < MAX_SOCKETS_PER_THREAD)
            pRoom = pThread.get();
    }
    pSocket->SetListener(m_pDispatchThread.get());
    pSocket->SetClient(pClient);
    if (!pRoom)
    {
        auto pThread = std::make_unique<CSocketIOThread>();
        try
        {
            pThread->Start();
        }
        catch (CExceptionBase& error)
        {
            error.Report();
            pSocket->SetListener(nullptr);
            pSocket->SetClient(nullptr);
            return false;
        }
        pRoom = pThread.get();
        m_threads.push_back(std::move(pThread));
    }
    m_attached[pSocket] = pRoom;
    pClient->Attach(pRoom, m_pDispatchThread.get(), pSocket);
    const bool bAdded = pRoom->AddSocket(pSocket);
    if (!bAdded)
    {
        m_attached.erase(pSocket);
        pClient->Attach(nullptr, nullptr, nullptr);
        pSocket->SetListener(nullptr);
        pSocket->SetClient(nullptr);
    }
    return bAdded;
}

void CConnectionManager::DetachClient(CClientObject* pClient)
{
    if (!pClient)
        return;
    // A request waiting on this connection ends now, not at its time-out: it holds the client
    // lock that the detach needs.
    pClient->AbandonRequests();
    CRefPtr<IMessagingSocket> pSocket;
    pClient->GetSocket(pSocket);
    if (!pSocket)
        return;
    // The socket lets go of the client first: the client hears of this detach once, here, and
    // the socket's close cannot queue a second one that would find, and detach, the connection
    // the client has made again by then.
    pSocket->SetClient(nullptr);
    // Without the manager lock: the client may connect again from its OnDisconnected.
    pClient->Attach(nullptr, nullptr, nullptr);
    CAutoLock lock(m_lock);
    for (auto& pThread : m_threads)
        if (pThread->RemoveSocket(pSocket.Get()))
            break;
    m_attached.erase(pSocket.Get());
    std::erase_if(m_threads,
                  [this](const auto& pThread)
                  {
                      return pThread->GetSocketCount() == 0 &&
                             std::none_of(m_attached.begin(), m_attached.end(),
                                          [&](const auto& entry)
                                          { return entry.second == pThread.get(); });
                  });
}

void CConnectionManager::StopDispatching()
{
    m_pDispatchThread->Stop();
    m_pDispatchThread->Join();
    m_pDispatchThread->DropQueued();
}

int CConnectionManager::GetThreadCount()
{
    CAutoLock lock(m_lock);
    return static_cast<int>(m_threads.size());
}

int CConnectionManager::GetSocketCount()
{
    CAutoLock lock(m_lock);
    int n = 0;
    for (auto& pThread : m_threads)
        n += pThread->GetSocketCount();
    return n;
}
