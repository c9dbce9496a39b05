// SPDX-License-Identifier: MIT
// Service control that every platform shares: the command line of a service program and its
// reading.

#include "servicecontrol.h"

// Quoted by the rules programs use to split their command line: a quote inside is escaped with
// a backslash, and backslashes are doubled where they come before a quote (an escaped one or the
// closing one). Any install folder, quotes and all, comes back as one argument.
std::string QuotedArgument(const std::string& word)
{
    std::string quoted = "\"";
    size_t iBackslashes = 0;
    for (const char c : word)
    {
        if (c == '\\')
        {
            ++iBackslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * iBackslashes + 1 : iBackslashes, '\\');
        iBackslashes = 0;
        quoted += c;
    }
    quoted.append(2 * iBackslashes, '\\');
    return quoted + "\"";
}

std::string ServiceCommandLine(const std::string& path, const std::string& sw)
{
    return QuotedArgument(path) + " " + sw;
}

namespace
{
// The command line split as programs split theirs: blanks separate words outside quotes; 2n
// backslashes before a quote give n and the quote opens or closes, 2n + 1 give n and a quote;
// other backslashes stand for themselves.
std::vector<std::string> SplitCommandLine(const std::string& line)
{
    std::vector<std::string> argv;
    std::string word;
    bool bInWord = false;
    bool bQuoted = false;
    for (size_t i = 0; i < line.size(); ++i)
    {
        const char c = line[i];
        if (c == '\\')
        {
            size_t n = 0;
            while (i < line.size() && line[i] == '\\')
            {
                ++n;
                ++i;
            }
            bInWord = true;
            if (i < line.size() && line[i] == '"')
            {
                word.append(n / 2, '\\');
                if (n % 2)
                    word += '"';
                else
                    bQuoted = !bQuoted;
            }
            else
            {
                word.append(n, '\\');
                --i;
            }
        }
        else if (c == '"')
        {
            bQuoted = !bQuoted;
            bInWord = true;
        }
        else if (c == ' ' && !bQuoted)
        {
            if (bInWord)
                argv.push_back(word);
            word.clear();
            bInWord = false;
        }
        else
        {
            word += c;
            bInWord = true;
        }
    }
    if (bInWord)
        argv.push_back(word);
    return argv;
}
} // namespace

std::vector<std::string> SplitServiceCommandLine(const std::string& line)
{
    return SplitCommandLine(line);
}

void RunServiceCommands(const std::string& directory, const std::string& sw)
{
    if (RunServiceCommand(directory + HARDWARE_SERVICE_PROGRAM, sw))
        RunServiceCommand(directory + SOFTWARE_SERVICE_PROGRAM, sw);
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
