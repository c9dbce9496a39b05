// SPDX-License-Identifier: MIT
// The stand-in receiver service: answers look-ups on the multicast group, accepts clients on
// 127.0.0.1 with the 16-byte handshake, serves every message of the protocol, keeps simulated
// receivers, and writes a log file that honours the log mask. Built on the messaging library.
#pragma once

#include "connectionmanager.h"
#include "servicelocator.h"
#include "servicelog.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A client that has taken the handshake and not registered within this time is closed.
inline constexpr int REGISTRATION_TIMEOUT_MS = 10000;

struct SimulatedReceiver
{
    uint32_t iId;
    uint32_t iState;
    std::u16string name;
};

struct ServiceOptions
{
    std::string programName = "VostraHardwareService";
    std::string logPath;            // empty: <runtime dir>/<program name>.log
    uint32_t iMask = 0x1E;          // every category
    uint16_t iPort = 0;             // 0: an ephemeral port
    CLocatorEndpoint lookup;        // the fixed group and port unless a test says otherwise
    int iAnnounceIntervalMs = 5000; // 0: announce only at start
    std::vector<SimulatedReceiver> receivers;
    std::string scenarioPath;
    bool bLoopScenario = false;
    int iRegistrationTimeoutMs = REGISTRATION_TIMEOUT_MS;
};

// After a failed accept (out of descriptors, say) accepting pauses this long.
inline constexpr int ACCEPT_PAUSE_MS = 100;
// Complaints about one client's messages that reach the log in one second, at most.
inline constexpr int MAX_COMPLAINTS_PER_SECOND = 5;

// A receiver state the protocol gives a meaning: the receiver is gone.
inline constexpr uint32_t RECEIVER_GONE = 2;
inline constexpr uint32_t RECEIVER_PRESENT = 1;

class CServiceConnection;
class CServiceTask;

class CReceiverService
{
public:
    // Opens the log, the listener and the look-up socket and starts serving. Throws
    // std::runtime_error with a message for a person when any of them cannot be set up.
    explicit CReceiverService(ServiceOptions options);
    ~CReceiverService();

    uint16_t GetPort() const { return m_iPort; }
    const std::string& GetLogPath() const { return m_log.GetPath(); }

    // One line of the control interface ("appear 7 Room 1", "go 7", "help", ...). Returns the
    // reply for the person or program that typed it.
    std::string Control(const std::string& line);
    static const char* ControlHelp();

    // Receiver changes; each one is reported to every registered client.
    void SetReceiver(uint32_t iId, uint32_t iState, const std::u16string& name);
    bool SetReceiverState(uint32_t iId, uint32_t iState);
    bool RenameReceiver(uint32_t iId, const std::u16string& name);
    // Writes iPerSecond lines a second for iSeconds seconds, in the background.
    void StartLogFlood(int iPerSecond, int iSeconds);

    uint64_t GetReceiverCommandCount() const { return m_iReceiverCommands.load(); }
    size_t GetClientCount();

    // Called by connections on the dispatch thread.
    void OnMessage(CServiceConnection* pConnection, CByteBuffer* pBuffer);
    void OnClientGone(CServiceConnection* pConnection);

private:
    void Accept();
    // The earliest registration deadline of an unregistered client, 0 when there is none.
    int64_t NextRegistrationDeadline();
    void CloseUnregistered();
    void AnswerLookup();
    void Announce();
    void NotifyLogUpdated();
    void Broadcast(IMessage* pMessage);
    void SendReceiverList(CServiceConnection* pConnection);
    void HandleReceiverCommand(CServiceConnection* pConnection, CByteBuffer* pBuffer);
    void RunScenario(CEvent* pStop);
    void Log(uint32_t iCategory, const std::string& text) { m_log.Write(iCategory, text); }

    ServiceOptions m_options;
    CServiceLog m_log;
    CConnectionManager m_manager;
    uint16_t m_iPort = 0;
    int64_t m_iAcceptPausedUntil = 0; // network thread only
    std::unique_ptr<CSocket> m_pListener;
    std::unique_ptr<CMulticastSocket> m_pLookup;

    std::mutex m_mutex; // guards the receivers, the clients and the next client number
    std::map<uint32_t, SimulatedReceiver> m_receivers;
    std::vector<CRefPtr<CServiceConnection>> m_clients;
    int m_iNextClient = 1;
    std::atomic<uint64_t> m_iReceiverCommands{0};

    CEvent m_logChanged; // set by every log write; the notifier turns it into events
    std::unique_ptr<CServiceTask> m_pNetwork;
    std::unique_ptr<CServiceTask> m_pNotifier;
    std::unique_ptr<CServiceTask> m_pScenario;
    std::mutex m_floodMutex;
    std::vector<std::unique_ptr<CServiceTask>> m_floods;
};
