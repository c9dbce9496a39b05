// SPDX-License-Identifier: MIT
// Process launching on Windows: CreateProcessW with the quoted command line, which the program
// splits back into the path and the switch.

#include "servicecontrol.h"
#include "utf8path.h"

#include <windows.h>

bool RunServiceCommand(const std::string& path, const std::string& sw)
{
    const std::string command = ServiceCommandLine(path, sw);
    std::wstring line = PathFromUtf8(command).wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // No window of its own, and nothing of ours inherited: nobody waits for the program.
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &process))
        return false;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}
