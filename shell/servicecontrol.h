// SPDX-License-Identifier: MIT
// Service control: running the two service programs, which lie beside the zelbin executable,
// with one of the switches "-start", "-stop", "-i" or "-u". Zelbin neither waits for them nor
// reads their exit codes.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* HARDWARE_SERVICE_PROGRAM = "VostraHardwareService.exe";
inline constexpr const char* SOFTWARE_SERVICE_PROGRAM = "VostraSoftwareService.exe";

// "\"PATH\" SWITCH"
std::string ServiceCommandLine(const std::string& path, const std::string& sw);
// Starts the program with the switch; true when the process was created.
bool RunServiceCommand(const std::string& path, const std::string& sw);
// The hardware service program first; the software one only when the first started.
void RunServiceCommands(const std::string& directory, const std::string& sw);
