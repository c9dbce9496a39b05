// SPDX-License-Identifier: MIT
// Connection manager: the messaging library's entry point for a process. It owns the dispatch
// thread and the I/O threads, connects client objects to a service with the 16-byte handshake,
// and detaches them again, deleting I/O threads that have nothing left to serve.
#pragma once

#include "clientobject.h"
#include "dispatchthread.h"
#include "messagingsocket.h"
#include "socketiothread.h"

#include <map>
#include <memory>
#include <vector>

inline constexpr int HANDSHAKE_TIMEOUT_MS = 10000;
inline constexpr int HANDSHAKE_LENGTH = 16;

// Lock order: m_lock (thread list), then an I/O thread's socket-list and send-queue locks, then
// the dispatch thread's queue lock. Under m_lock the manager calls only its I/O threads
// (AddSocket, RemoveSocket, GetSocketCount, and their deletion, which joins them: I/O threads
// never take m_lock); the client's Attach, with the listener code it runs, and the socket's
// SetClient are called without it.
class CConnectionManager
{
public:
    CConnectionManager();
    virtual ~CConnectionManager();
    CConnectionManager(const CConnectionManager&) = delete;
    CConnectionManager& operator=(const CConnectionManager&) = delete;

    // Opens a TCP connection, reads and compares the handshake (each wait up to 10000 ms) and
    // attaches the socket. With no expected handshake the connection is checked for nothing and
    // not attached: the call returns true and the socket closes.
    bool ConnectClientObject(CClientObject* pClient, const char* pszHost, uint16_t iPort,
                             const uint8_t* pHandshake, bool bNoDelay);
    // Hands a connected socket to an I/O thread with room (creating one when all are full): the
    // client is attached first, then the socket is served. False when the socket is attached
    // already, no thread can serve it, or the client was detached meanwhile.
    bool AttachSocket(CClientObject* pClient, IMessagingSocket* pSocket);
    // Detaches the client's socket (its OnDisconnected runs first, without the manager lock).
    void DetachClient(CClientObject* pClient);

    // Stops the dispatch thread and drops what it had queued: no message is handled and no
    // connection reported from here on. An owner calls this before it tears down what its
    // handlers use; detaching still works afterwards.
    void StopDispatching();

    // For tests: how many I/O threads exist now, and how many sockets they serve in all.
    int GetThreadCount();
    int GetSocketCount();

    static void StartSocketLibrary(bool& bStarted);
    static void StopSocketLibrary(bool& bStarted);

private:
    bool m_bSocketLibraryStarted = false;
    std::unique_ptr<CMessageDispatchThread> m_pDispatchThread;
    CCriticalSection m_lock;
    std::vector<std::unique_ptr<CSocketIOThread>> m_threads;
    // The I/O thread each attached socket's client sends through, until the client is detached.
    // A thread is deleted only when no client can reach it any more: a socket that its thread
    // has already closed still has a client holding the thread until that client's detach runs.
    std::map<IMessagingSocket*, CSocketIOThread*> m_attached;
    // Slots of each thread taken by attaches under way (between their two locked steps).
    std::map<CSocketIOThread*, int> m_reserved;
    // Deletes the threads that serve nothing and that no client or attach can reach; under m_lock.
    void EraseIdleThreads();
};
