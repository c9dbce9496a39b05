// SPDX-License-Identifier: MIT
// Process launching on POSIX: posix_spawn of the quoted program path with its switch. There is no
// application-path registry here, so the environment passes unchanged.

#include "servicecontrol.h"

#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

std::string GetModuleDirectory()
{
    char path[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string directory(path, static_cast<size_t>(n));
    const size_t slash = directory.rfind('/');
    if (slash != std::string::npos)
        directory.resize(slash + 1);
    return directory;
}

// Quoted by the rules programs use to split their command line: a quote inside is escaped with
// a backslash, and backslashes are doubled where they come before a quote (an escaped one or the
// closing one). Any install folder, quotes and all, comes back as one argument.
std::string ServiceCommandLine(const std::string& path, const std::string& sw)
{
    std::string line = "\"";
    size_t iBackslashes = 0;
    for (const char c : path)
    {
        if (c == '\\')
        {
            ++iBackslashes;
            continue;
        }
        line.append(c == '"' ? 2 * iBackslashes + 1 : iBackslashes, '\\');
        iBackslashes = 0;
        line += c;
    }
    line.append(2 * iBackslashes, '\\');
    return line + "\" " + sw;
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

bool RunServiceCommand(const std::string& path, const std::string& sw)
{
    std::vector<std::string> args = SplitCommandLine(ServiceCommandLine(path, sw));
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (argv.size() < 2 ||
        ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    // Nobody waits for the program; a thread of its own reaps it so it leaves no zombie.
    std::thread(
        [pid]
        {
            int status = 0;
            ::waitpid(pid, &status, 0);
        })
        .detach();
    return true;
}

void RunServiceCommands(const std::string& directory, const std::string& sw)
{
    if (RunServiceCommand(directory + HARDWARE_SERVICE_PROGRAM, sw))
        RunServiceCommand(directory + SOFTWARE_SERVICE_PROGRAM, sw);
}
