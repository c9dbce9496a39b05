// SPDX-License-Identifier: MIT
// The stand-in receiver service: answers look-ups on the multicast group, accepts clients on
// 127.0.0.1 with the 16-byte handshake, serves every message of the protocol, keeps simulated
// receivers, and writes a log file that honours the log mask. Built on the messaging library;
// this class puts its parts together and takes them down in order.
#pragma once

#include "connectionmanager.h"
#include "scenario.h"
#include "serviceconsole.h"
#include "servicelog.h"
#include "servicenetwork.h"
#include "serviceoptions.h"
#include "serviceprotocol.h"
#include "simulatedreceivers.h"

#include <memory>
#include <string>

class CReceiverService
{
public:
    // Opens the log, the listener and the look-up socket and starts serving. Throws
    // std::runtime_error with a message for a person when any of them cannot be set up.
    explicit CReceiverService(ServiceOptions options);
    ~CReceiverService();
    CReceiverService(const CReceiverService&) = delete;
    CReceiverService& operator=(const CReceiverService&) = delete;

    uint16_t GetPort() const { return m_pNetwork->GetPort(); }
    const std::string& GetLogPath() const { return m_log.GetPath(); }

    // One line of the control interface ("appear 7 Room 1", "go 7", "help", ...). Returns the
    // reply for the person or program that typed it.
    std::string Control(const std::string& line) { return m_pConsole->Control(line); }
    static const char* ControlHelp() { return CServiceConsole::Help(); }

private:
    ServiceOptions m_options;
    CServiceLog m_log;
    CConnectionManager m_manager;
    std::unique_ptr<CServiceNetwork> m_pNetwork;
    std::unique_ptr<CSimulatedReceivers> m_pReceivers;
    std::unique_ptr<CServiceProtocol> m_pProtocol;
    std::unique_ptr<CServiceConsole> m_pConsole;
    std::unique_ptr<CScenarioRunner> m_pScenario;
};
