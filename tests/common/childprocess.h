// SPDX-License-Identifier: MIT
// A program started by a test: its standard input is a pipe the test writes to, its standard
// output goes to a file of its own that the test reads, and it is ended (and reaped) when the
// test is done with it.
#pragma once

#include "testutil.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

class CChildProcess
{
public:
    explicit CChildProcess(const std::vector<std::string>& argv)
    {
        char name[] = "/tmp/zelbin-output-XXXXXX";
        const int out = ::mkostemp(name, O_CLOEXEC);
        m_outputPath = name;
        int in[2];
        if (out < 0 || ::pipe2(in, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out, 1);
        // The program ends with the test even when the test dies first: a test's crash must not
        // leave a service running on the test's ports.
        std::vector<std::string> full = {"/usr/bin/setpriv", "--pdeathsig", "KILL", "--"};
        full.insert(full.end(), argv.begin(), argv.end());
        std::vector<char*> args;
        for (auto& a : full)
            args.push_back(a.data());
        args.push_back(nullptr);
        if (::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out);
        m_stdin = in[1];
    }
    ~CChildProcess()
    {
        Kill(SIGKILL);
        Wait();
        CloseStdin();
        ::unlink(m_outputPath.c_str());
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    void Write(const std::string& text)
    {
        [[maybe_unused]] ssize_t n = ::write(m_stdin, text.data(), text.size());
    }
    void CloseStdin()
    {
        if (m_stdin >= 0)
            ::close(m_stdin);
        m_stdin = -1;
    }
    std::string Output() const { return ReadFile(m_outputPath); }
    bool WaitForOutput(const std::string& text,
                       std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        return WaitUntil([&] { return Output().find(text) != std::string::npos; }, deadline);
    }
    void Kill(int signal)
    {
        if (m_pid > 0 && !m_bReaped)
            ::kill(m_pid, signal);
    }
    // Waits for the process to end (up to the deadline); its exit status, or -1.
    int Wait(std::chrono::milliseconds deadline = std::chrono::seconds(20))
    {
        const auto reaped = [&]
        {
            const pid_t r = ::waitpid(m_pid, &m_iStatus, WNOHANG);
            return m_bReaped = r == m_pid || r < 0;
        };
        if (m_pid <= 0 || (!m_bReaped && !WaitUntil(reaped, deadline)))
            return -1;
        return WIFEXITED(m_iStatus) ? WEXITSTATUS(m_iStatus) : 128 + WTERMSIG(m_iStatus);
    }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_iStatus = 0;
    bool m_bReaped = false;
    std::string m_outputPath;
};

// Runs a program to its end and returns its exit status, with its output in *pOutput.
inline int RunProgram(const std::vector<std::string>& argv, std::string* pOutput = nullptr,
                      std::chrono::milliseconds deadline = std::chrono::seconds(30))
{
    CChildProcess child(argv);
    child.CloseStdin();
    const int status = child.Wait(deadline);
    if (pOutput)
        *pOutput = child.Output();
    return status;
}
