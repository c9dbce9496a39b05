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
    CSocketIOThread* pRoom = nullptr;
    {
        CAutoLock lock(m_lock);
        if (m_attached.count(pSocket))
            return false;
        for (auto& pThread : m_threads)
        {
            const auto reserved = m_reserved.find(pThread.get());
            const int iReserved = reserved == m_reserved.end() ? 0 : reserved->second;
            if (pThread->GetSocketCount() + iReserved < MAX_SOCKETS_PER_THREAD)
            {
                pRoom = pThread.get();
                break;
            }
        }
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
                return false;
            }
            pRoom = pThread.get();
            m_threads.push_back(std::move(pThread));
        }
        // The entry keeps the thread, and the slot reserved, while the client is attached below.
        m_attached[pSocket] = pRoom;
        ++m_reserved[pRoom];
    }
    pSocket->SetListener(m_pDispatchThread.get());
    pSocket->SetClient(pClient);
    // Without the manager lock: Attach runs the client's own code (OnConnected, AfterAttach),
    // which may connect or detach again. The socket is served only once the client knows it.
    pClient->Attach(pRoom, m_pDispatchThread.get(), pSocket);
    bool bAdded = false;
    bool bDetached = false;
    {
        CAutoLock lock(m_lock);
        if (--m_reserved[pRoom] == 0)
            m_reserved.erase(pRoom);
        // A detach that ran meanwhile has let the socket go already: it is not served.
        bDetached = !m_attached.count(pSocket);
        bAdded = !bDetached && pRoom->AddSocket(pSocket);
        if (!bAdded && !bDetached)
            m_attached.erase(pSocket);
        if (!bAdded)
            EraseIdleThreads();
    }
    if (!bAdded && !bDetached)
    {
        pSocket->SetClient(nullptr);
        pClient->Attach(nullptr, nullptr, nullptr);
    }
    if (!bAdded)
        pSocket->SetListener(nullptr);
    return bAdded;
}

void CConnectionManager::EraseIdleThreads()
{
    std::erase_if(m_threads,
                  [this](const auto& pThread)
                  {
                      return pThread->GetSocketCount() == 0 && !m_reserved.count(pThread.get()) &&
                             std::none_of(m_attached.begin(), m_attached.end(),
                                          [&](const auto& entry)
                                          { return entry.second == pThread.get(); });
                  });
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
    EraseIdleThreads();
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
