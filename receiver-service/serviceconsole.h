// SPDX-License-Identifier: MIT
// The stand-in's control console: one line a command ("appear 7 Room 1", "go 7", "log 20 5",
// "help", ...), typed on its standard input or run from a scenario, and the log floods that
// "log" starts.
#pragma once

#include "servicelog.h"
#include "servicenetwork.h"
#include "serviceprotocol.h"
#include "servicetask.h"
#include "simulatedreceivers.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CServiceConsole
{
public:
    CServiceConsole(CServiceLog& log, CSimulatedReceivers& receivers, CServiceNetwork& network,
                    CServiceProtocol& protocol);
    // Stops the floods.
    ~CServiceConsole();

    // Runs one line; returns the reply for the person or program that typed it.
    std::string Control(const std::string& line);
    static const char* Help();
    // Writes iPerSecond lines a second for iSeconds seconds, in the background.
    void StartLogFlood(int iPerSecond, int iSeconds);
    void StopFloods();

private:
    CServiceLog& m_log;
    CSimulatedReceivers& m_receivers;
    CServiceNetwork& m_network;
    CServiceProtocol& m_protocol;
    std::mutex m_floodMutex; // guards m_floods
    std::vector<std::unique_ptr<CServiceTask>> m_floods;
};
