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

// Bounded work: at most this many log floods run at once (each is a thread), and each writes at
// most this many lines a second for at most this long; more is refused with a message.
inline constexpr size_t MAX_LOG_FLOODS = 16;
inline constexpr int MAX_FLOOD_LINES_PER_SECOND = 100000;
inline constexpr int MAX_FLOOD_SECONDS = 3600;

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
    // Writes iPerSecond lines a second for iSeconds seconds, in the background; false when
    // MAX_LOG_FLOODS already run.
    bool StartLogFlood(int iPerSecond, int iSeconds);
    void StopFloods();

private:
    CServiceLog& m_log;
    CSimulatedReceivers& m_receivers;
    CServiceNetwork& m_network;
    CServiceProtocol& m_protocol;
    std::mutex m_floodMutex; // guards m_floods; held while a flood is started or stopped
    std::vector<std::unique_ptr<CServiceTask>> m_floods;
};
