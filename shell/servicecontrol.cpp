// SPDX-License-Identifier: MIT
// Service control that every platform shares: the command line of a service program.

#include "servicecontrol.h"
#include "commandline.h"

std::string ServiceCommandLine(const std::string& path, const std::string& sw)
{
    return QuotedArgument(path) + " " + sw;
}

void RunServiceCommands(const std::string& directory, const std::string& sw)
{
    if (RunServiceCommand(directory + HARDWARE_SERVICE_PROGRAM, sw))
        RunServiceCommand(directory + SOFTWARE_SERVICE_PROGRAM, sw);
}
