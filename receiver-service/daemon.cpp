// SPDX-License-Identifier: MIT
// Daemon plumbing that every platform shares.

#include "daemon.h"
#include "program.h"
#include "stopsignal.h"

#include <cstdio>
#include <exception>
#include <memory>

namespace
{
std::unique_ptr<CStopSignal> g_pStopSignal;
} // namespace

void BlockStopSignals()
{
    if (!g_pStopSignal)
        g_pStopSignal = std::make_unique<CStopSignal>();
}

void WaitForStopSignal()
{
    BlockStopSignals();
    CWaitHandle* handles[1] = {g_pStopSignal.get()};
    WaitForHandles(handles, 1, WAIT_INFINITE);
}

void RequestStop()
{
    CStopSignal::Raise();
}

std::string PidFilePath(const std::string& program)
{
    return RuntimeDirectory() + "/" + program + ".pid";
}

std::string SystemdQuoted(const std::string& word)
{
    // One quoted word in a unit file: C escapes for the quote, the backslash and every control
    // character (a newline would start a new line of the unit), "%%" for a specifier and "$$" for
    // a variable, so that the path means itself and nothing else.
    std::string out = "\"";
    for (const char c : word)
    {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else if (c == '%')
            out += "%%";
        else if (c == '$')
            out += "$$";
        else if (u < 0x20 || u == 0x7F)
        {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", u);
            out += escape;
        }
        else
            out += c;
    }
    return out + "\"";
}

int InstallUnit(const std::string& program, const std::string& unitDir)
{
    const std::string executable = GetModulePath();
    if (executable.empty())
    {
        std::fprintf(stderr, "%s: cannot tell the path of this program\n", program.c_str());
        return 1;
    }
    return InstallUnitFor(program, executable, unitDir);
}

int RunProgramMain(int (*pMain)(int, char**), int argc, char** argv)
{
    SetUpProgram(argc, argv);
    try
    {
        return pMain(argc, argv);
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
        return 1;
    }
}
