// SPDX-License-Identifier: MIT
// A program started by a test: its standard input is a pipe the test writes to, its standard
// output is collected, and it is ended (and reaped) when the test is done with it.
#pragma once

#include "testutil.h"

#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

class CChildProcess
{
public:
    explicit CChildProcess(const std::vector<std::string>& argv)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        // The program ends with the test even when the test dies first: a test's crash must not
        // leave a service running that holds the test runner's output open.
        std::vector<std::string> full = {"/usr/bin/setpriv", "--pdeathsig", "KILL", "--"};
        full.insert(full.end(), argv.begin(), argv.end());
        std::vector<char*> args;
        for (const auto& a : full)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_stdin = in[1];
        m_stdout = out[0];
        m_reader = std::thread(
            [this]
            {
                char buffer[4096];
                for (;;)
                {
                    const ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
                    if (n <= 0)
                        return;
                    std::lock_guard<std::mutex> g(m_mutex);
                    m_output.append(buffer, static_cast<size_t>(n));
                }
            });
    }
    ~CChildProcess()
    {
        Kill(SIGKILL);
        Wait();
        if (m_stdin >= 0)
            ::close(m_stdin);
        if (m_reader.joinable())
            m_reader.join();
        ::close(m_stdout);
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    void Write(const std::string& text)
    {
        [[maybe_unused]] ssize_t n = ::write(m_stdin, text.data(), text.size());
    }
    void CloseStdin()
    {
        ::close(m_stdin);
        m_stdin = -1;
    }
    // All the output, once the process has ended and closed its end of the pipe.
    std::string FinalOutput()
    {
        if (m_reader.joinable())
            m_reader.join();
        return Output();
    }
    std::string Output()
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_output;
    }
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
        if (m_pid <= 0)
            return -1;
        if (!m_bReaped)
        {
            const bool bEnded = WaitUntil(
                [&]
                {
                    const pid_t r = ::waitpid(m_pid, &m_iStatus, WNOHANG);
                    return r == m_pid || r < 0;
                },
                deadline);
            if (!bEnded)
                return -1;
            m_bReaped = true;
        }
        return WIFEXITED(m_iStatus) ? WEXITSTATUS(m_iStatus) : 128 + WTERMSIG(m_iStatus);
    }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    int m_iStatus = 0;
    bool m_bReaped = false;
    std::mutex m_mutex;
    std::string m_output;
    std::thread m_reader;
};

// Runs a program to its end and returns its exit status, with its output in *pOutput.
inline int RunProgram(const std::vector<std::string>& argv, std::string* pOutput = nullptr,
                      std::chrono::milliseconds deadline = std::chrono::seconds(30))
{
    CChildProcess child(argv);
    child.CloseStdin();
    const int status = child.Wait(deadline);
    if (pOutput && status >= 0)
        *pOutput = child.FinalOutput();
    return status;
}
