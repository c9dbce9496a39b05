// SPDX-License-Identifier: MIT
// Message dispatch thread: runs queued commands one at a time, each client's in order, the clients
// taking turns. It delivers received messages to their client objects, matches responses to
// waiting requests and detaches lost connections. The pending-request list is touched only by
// this thread and needs no lock.
#pragma once

#include "message.h"
#include "threadbase.h"
#include "transportinterfaces.h"

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <vector>

class CConnectionManager;
class CClientObject;

// What received messages may cost while they wait for this thread: one connection's share and
// the whole process's. A message costs its bytes plus the command that carries it. A connection
// at its share is read no more until half of it has been handled, so that a peer that sends
// faster than it is served backs up in its own socket; a message that would take the process
// over its whole allowance removes its connection.
inline constexpr size_t INBOUND_SHARE_PER_CONNECTION = 1024 * 1024;
inline constexpr size_t MAX_QUEUED_INBOUND_BYTES = 128 * 1024 * 1024;
inline constexpr size_t QUEUED_MESSAGE_OVERHEAD = 128;

class CDispatchCommand
{
public:
    virtual ~CDispatchCommand() = default;
    virtual void Execute() = 0;
};

// Threads: the sink operations run on their callers' threads (I/O threads, client objects, the
// manager's callers) and only queue; Run and every command run on this thread.
// Fairness: each client's commands (its messages, its requests' registrations and removals, its
// detach) wait in a queue of their own, in order, and the clients take turns, one command each,
// so that one client's backlog never delays another's messages. Registrations without a client
// go first of all.
// m_queueLock guards the queues, the turns and the accounting. Under it, QueueInbound and the
// end of a delivery call SetReadingPaused on a socket (which sets an event); nothing else is
// called under it. Commands run without it.
class CMessageDispatchThread : public CThreadBase, public IInboundSink
{
public:
    explicit CMessageDispatchThread(CConnectionManager* pOwner) : m_pOwner(pOwner) {}
    // Stops and joins (the command being run finishes); queued commands are discarded unrun.
    ~CMessageDispatchThread() override;

    // Throws CSystemException(SYSTEM_ERROR_NO_BUFFERS) instead of queueing when the process is
    // over its whole allowance; the I/O thread then removes the connection.
    bool QueueInbound(CClientObject* pClient, CByteBuffer* pBuffer,
                      IMessagingSocket* pFrom = nullptr) override;
    void QueueDisconnect(CClientObject* pClient) override;
    void AddPendingRequest(CRequestMessage* pRequest, CClientObject* pClient) override;
    void RemovePendingRequest(CRequestMessage* pRequest, CClientObject* pClient) override;

    // Also ends a long queue between two commands, not after the last one.
    void Stop() override;

    using PendingList = std::vector<CRefPtr<CRequestMessage>>;

    // Discards every queued command unrun (after the thread has stopped).
    void DropQueued();

    // For tests: what queued messages cost now, for one client and in all.
    size_t GetQueuedInboundBytes(CClientObject* pClient);
    size_t GetQueuedInboundBytes();
    // Called by a delivery when it has run, or been dropped.
    void OnInboundDone(CClientObject* pClient, size_t iCost);

protected:
    void Run() override;

private:
    using CommandQueue = std::deque<std::unique_ptr<CDispatchCommand>>;
    struct ClientQueue
    {
        CommandQueue commands;
        size_t iInboundBytes = 0;
        CRefPtr<IMessagingSocket> pPaused; // the connection told to read no more, if any
    };
    void Queue(CClientObject* pClient, std::unique_ptr<CDispatchCommand> pCommand);
    // The next command to run, or null; under m_queueLock.
    std::unique_ptr<CDispatchCommand> TakeNext();
    // Forgets a client that has nothing queued and nothing counted; under m_queueLock.
    void ForgetIfIdle(CClientObject* pClient);

    CConnectionManager* m_pOwner;
    CCriticalSection m_queueLock;
    CommandQueue m_requests; // registrations and removals of pending requests without a client
    std::map<CClientObject*, ClientQueue> m_clients;
    std::deque<CClientObject*> m_turns; // the clients with commands, next first
    size_t m_iInboundBytes = 0;
    PendingList m_pending; // this thread only
    CEvent m_queueEvent;
    std::atomic<bool> m_bStopping{false};
};
