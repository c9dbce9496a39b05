// SPDX-License-Identifier: MIT
// What the stand-in service is started with, shared by its parts.
#pragma once

#include "servicelocator.h"

#include <cstdint>
#include <string>
#include <vector>

// A client that has taken the handshake and not registered within this time is closed.
inline constexpr int REGISTRATION_TIMEOUT_MS = 10000;

// A receiver state the protocol gives a meaning: the receiver is gone.
inline constexpr uint32_t RECEIVER_GONE = 2;
inline constexpr uint32_t RECEIVER_PRESENT = 1;

struct SimulatedReceiver
{
    uint32_t iId;
    uint32_t iState;
    std::u16string name;
};

// One step of a scenario: a control command, iAtMs after the scenario's start.
struct ScenarioStep
{
    int64_t iAtMs;
    std::string command;
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
    std::vector<ScenarioStep> scenario; // read before the service starts
    bool bLoopScenario = false;
    int iRegistrationTimeoutMs = REGISTRATION_TIMEOUT_MS;
};
