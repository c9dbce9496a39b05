// SPDX-License-Identifier: MIT
// Service control: the command line of a service program, and what became of it in words.

#include "servicecontrol.h"
#include "commandline.h"

std::string ServiceCommandLine(const std::string& path, const std::string& sw)
{
    return QuotedArgument(path) + " " + sw;
}

namespace
{
// The programs end with 0 when there was nothing to do; these words say so, and a technician
// who asked for the opposite must see them.
constexpr const char* NOTHING_DONE[] = {"already running", "is not running", "was not installed"};

std::string LastLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    const size_t newline = text.find_last_of('\n');
    return newline == std::string::npos ? text : text.substr(newline + 1);
}
} // namespace

bool ServiceProgramSucceeded(const ServiceProgramOutcome& outcome)
{
    if (!outcome.bRan || !outcome.bFinished || outcome.iExitCode != 0)
        return false;
    for (const char* words : NOTHING_DONE)
        if (outcome.output.find(words) != std::string::npos)
            return false;
    return true;
}

std::string DescribeServiceOutcome(const ServiceProgramOutcome& outcome)
{
    if (!outcome.bRan)
        return outcome.program + " could not be run: " + outcome.error;
    if (!outcome.bFinished)
        return outcome.program + " has not finished; it goes on in the background";
    std::string said = LastLine(outcome.output);
    if (said.size() > 300) // a line, not a page, cut between characters
    {
        size_t iCut = 300;
        while (iCut > 0 && (static_cast<unsigned char>(said[iCut]) & 0xC0) == 0x80)
            --iCut;
        said = said.substr(0, iCut) + "\u2026";
    }
    if (said.empty())
        said = outcome.program + (outcome.iExitCode == 0 ? " finished" : " failed");
    if (outcome.iExitCode != 0)
        said += " (exit status " + std::to_string(outcome.iExitCode) + ")";
    return said;
}
