// SPDX-License-Identifier: MIT
// Message dispatch thread: runs queued commands one at a time, in order. It delivers received
// messages to their client objects, matches responses to waiting requests and detaches lost
// connections. The pending-request list is touched only by this thread and needs no lock.
#pragma once

#include "message.h"
#include "threadbase.h"
#include "transportinterfaces.h"

#include <deque>
#include <memory>
#include <vector>

class CConnectionManager;
class CClientObject;

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

    void QueueInbound(CClientObject* pClient, CByteBuffer* pBuffer) override;
    void QueueDisconnect(CClientObject* pClient) override;
    void AddPendingRequest(CRequestMessage* pRequest) override;
    void RemovePendingRequest(CRequestMessage* pRequest) override;

    using PendingList = std::vector<CRefPtr<CRequestMessage>>;

protected:
    void Run() override;

private:
    void Queue(std::unique_ptr<CDispatchCommand> pCommand);

    CConnectionManager* m_pOwner;
    CCriticalSection m_queueLock;
    std::deque<std::unique_ptr<CDispatchCommand>> m_commands;
    PendingList m_pending; // this thread only
    CEvent m_queueEvent;
};
