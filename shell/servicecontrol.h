// SPDX-License-Identifier: MIT
// Service control: running the two service programs, which lie beside the zelbin executable,
// with one of the switches "-start", "-stop", "-i" or "-u", and telling what became of them.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* HARDWARE_SERVICE_PROGRAM = "VostraHardwareService.exe";
inline constexpr const char* SOFTWARE_SERVICE_PROGRAM = "VostraSoftwareService.exe";

// "\"PATH\" SWITCH"
std::string ServiceCommandLine(const std::string& path, const std::string& sw);

// What became of one service program that the window ran.
struct ServiceProgramOutcome
{
    std::string program;    // its file name
    bool bRan = false;      // the process was created
    bool bFinished = false; // it ended within the time the window waits
    int iExitCode = 0;      // when it ended
    std::string output;     // what it wrote, standard output and error together
    std::string error;      // why it could not be run
};
// Whether it did what its switch asked: it ran and ended with 0 without saying that there was
// nothing to do ("already running", "is not running", "was not installed").
bool ServiceProgramSucceeded(const ServiceProgramOutcome& outcome);
// One line about it, in the program's own words where it said something.
std::string DescribeServiceOutcome(const ServiceProgramOutcome& outcome);
