// SPDX-License-Identifier: MIT
// The stand-in's connections and look-up: it answers look-ups on the multicast group and
// announces its port, accepts clients on 127.0.0.1 with the 16-byte handshake, keeps the list of
// clients and closes those that do not register in time. What clients send goes to a handler.
#pragma once

#include "connectionmanager.h"
#include "servicelog.h"
#include "serviceoptions.h"
#include "servicetask.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// After a failed accept (out of descriptors, say) accepting pauses this long.
inline constexpr int ACCEPT_PAUSE_MS = 100;
// Complaints about one client's messages that reach the log in one second, at most.
inline constexpr int MAX_COMPLAINTS_PER_SECOND = 5;

class CServiceConnection;
class CServiceNetwork;

// Called on the dispatch thread for every message a client sends.
class IServiceMessageHandler
{
public:
    virtual ~IServiceMessageHandler() = default;
    virtual void OnMessage(CServiceConnection* pConnection, CByteBuffer* pBuffer) = 0;
};

// One client connection, served on the connection manager's dispatch thread.
class CServiceConnection : public CClientObject
{
public:
    CServiceConnection(CServiceNetwork* pNetwork, IServiceMessageHandler* pHandler, int iNumber,
                       int iRegistrationTimeoutMs);
    void Deliver(CByteBuffer* pBuffer) override { m_pHandler->OnMessage(this, pBuffer); }
    void OnDisconnected() override;
    int GetNumber() const { return m_iNumber; }
    int64_t GetRegistrationDeadline() const { return m_iRegistrationDeadline; }
    // Whether a complaint about this client's messages may go to the log now: the first few
    // each second do, the rest are counted and summed up in the next one that does.
    bool MayComplain(uint64_t& iSuppressed);
    std::atomic<bool> m_bRegistered{false};

private:
    CServiceNetwork* m_pNetwork;
    IServiceMessageHandler* m_pHandler;
    int m_iNumber;
    int64_t m_iRegistrationDeadline;
    // Complaints run on the dispatch thread only.
    int64_t m_iComplaintSecond = 0;
    int m_iComplaints = 0;
    uint64_t m_iSuppressed = 0;
};

class CServiceNetwork
{
public:
    // Opens the listener and the look-up socket. Throws std::runtime_error with a message for a
    // person when either cannot be set up.
    CServiceNetwork(const ServiceOptions& options, CServiceLog& log, CConnectionManager& manager);
    ~CServiceNetwork();
    CServiceNetwork(const CServiceNetwork&) = delete;
    CServiceNetwork& operator=(const CServiceNetwork&) = delete;

    uint16_t GetPort() const { return m_iPort; }
    // Announces the port and starts accepting; what clients send goes to pHandler.
    void Start(IServiceMessageHandler* pHandler);
    // Accepts and announces no more.
    void Stop();
    // Lets every client go (once nothing is dispatched any more).
    void DetachAll();

    // Sends the message to every registered client.
    void Broadcast(IMessage* pMessage);
    size_t GetClientCount();
    // Called when a client's connection has ended.
    void OnClientGone(CServiceConnection* pConnection);

private:
    void Serve(CEvent* pStop);
    void Accept();
    // The earliest registration deadline of an unregistered client, 0 when there is none.
    int64_t NextRegistrationDeadline();
    void CloseUnregistered();
    void AnswerLookup();
    void Announce();

    const ServiceOptions& m_options;
    CServiceLog& m_log;
    CConnectionManager& m_manager;
    IServiceMessageHandler* m_pHandler = nullptr;
    uint16_t m_iPort = 0;
    int64_t m_iAcceptPausedUntil = 0; // network thread only
    std::unique_ptr<CSocket> m_pListener;
    std::unique_ptr<CMulticastSocket> m_pLookup;

    // Guards the clients and the next client number; nothing is called under it (a broadcast
    // copies the list and sends after).
    std::mutex m_mutex;
    std::vector<CRefPtr<CServiceConnection>> m_clients;
    int m_iNextClient = 1;
    std::unique_ptr<CServiceTask> m_pTask;
};
