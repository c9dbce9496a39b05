// SPDX-License-Identifier: MIT
// Message dispatch thread: runs queued commands one at a time, in order. It delivers received
// messages to their client objects, matches responses to waiting requests and detaches lost
// connections. The pending-request list is touched only by this thread and needs no lock.
#pragma once

#include "message.h"
#include "threadbase.h"
#include "transportinterfaces.h"

#include <deque>
#include <map>
#include <memory>
#include <vector>

class CConnectionManager;
class CClientObject;

// What received messages may cost while they wait for this thread: one connection's share and
// the whole process's. A message costs its bytes plus the command that carries it. A peer that
// sends faster than its messages are handled loses its connection once it is over its share;
// the others are served on.
inline constexpr size_t MAX_QUEUED_INBOUND_BYTES_PER_CONNECTION = 32 * 1024 * 1024;
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
// m_queueLock guards m_commands only.
class CMessageDispatchThread : public CThreadBase, public IInboundSink
{
public:
    explicit CMessageDispatchThread(CConnectionManager* pOwner) : m_pOwner(pOwner) {}
    // Stops and joins (the command being run finishes); queued commands are discarded unrun.
    ~CMessageDispatchThread() override;

    // Throws CSystemException(SYSTEM_ERROR_NO_BUFFERS) instead of queueing when the client, or the
    // process, is over its share; the I/O thread then removes the connection.
    void QueueInbound(CClientObject* pClient, CByteBuffer* pBuffer) override;
    void QueueDisconnect(CClientObject* pClient) override;
    void AddPendingRequest(CRequestMessage* pRequest) override;
    void RemovePendingRequest(CRequestMessage* pRequest) override;

    using PendingList = std::vector<CRefPtr<CRequestMessage>>;

    // Discards every queued command unrun (after the thread has stopped).
    void DropQueued();

    // For tests: what queued messages cost now, for one client and in all.
    size_t GetQueuedInboundBytes(CClientObject* pClient);
    size_t GetQueuedInboundBytes();
    // Called by a delivery when it has run.
    void OnInboundDone(CClientObject* pClient, size_t iCost);

protected:
    void Run() override;

private:
    void Queue(std::unique_ptr<CDispatchCommand> pCommand);

    CConnectionManager* m_pOwner;
    CCriticalSection m_queueLock;
    std::deque<std::unique_ptr<CDispatchCommand>> m_commands;
    PendingList m_pending; // this thread only
    CEvent m_queueEvent;
    std::map<CClientObject*, size_t> m_inboundBytes; // under m_queueLock
    size_t m_iInboundBytes = 0;                      // under m_queueLock
};
