// SPDX-License-Identifier: MIT
// A program started by a test: its standard input a pipe the test writes to, its output (and its
// standard error, when asked) a file the test reads; it ends with the test, or when the test is
// done with it, so a crashed test leaves no service on the test's ports.
#pragma once

#include "testutil.h"
#include "utf8path.h"

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>

inline constexpr int SIGKILL = 9; // not in the Windows C library: an outright end

// The messaging library's quoting of one argument (declared here: zelbinctl's tests see a
// commandline.h of zelbinctl's own first).
std::string QuotedArgument(const std::string& word);
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

// On Windows, SIGTERM and SIGINT set the program's stop event ("Local\zelbin-stop-PID"), watched by
// the service programs and zelbinctl as POSIX programs watch stop signals; SIGKILL, or a program
// without the event, is terminated. A job object ends the program with the test (a daemon it starts
// may leave the job, as it leaves its starter), as the parent's death signal does on POSIX.
class CChildProcess
{
public:
    explicit CChildProcess(const std::vector<std::string>& argv, bool bMergeErrors = false)
    {
        Start(argv, bMergeErrors);
    }
    ~CChildProcess()
    {
        Kill(SIGKILL);
        Wait();
        CloseStdin();
#if defined(_WIN32)
        if (m_hProcess)
            ::CloseHandle(m_hProcess);
        if (m_hJob)
            ::CloseHandle(m_hJob);
#endif
        std::error_code ignored;
        std::filesystem::remove(m_outputPath, ignored);
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    int Pid() const
    {
        return m_pid;
    }
    std::string Output() const
    {
        return ReadFile(m_outputPath);
    }
    bool WaitForOutput(const std::string& text,
                       std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        return WaitUntil([&] { return Output().find(text) != std::string::npos; }, deadline);
    }
#if defined(_WIN32)
    void Write(const std::string& text)
    {
        DWORD iWritten = 0;
        ::WriteFile(m_hStdin, text.data(), static_cast<DWORD>(text.size()), &iWritten, nullptr);
    }
    void CloseStdin()
    {
        if (m_hStdin)
            ::CloseHandle(m_hStdin);
        m_hStdin = nullptr;
    }
    void Kill(int signal)
    {
        if (!m_hProcess || ::WaitForSingleObject(m_hProcess, 0) == WAIT_OBJECT_0)
            return;
        const std::wstring name = L"Local\\zelbin-stop-" + std::to_wstring(m_pid);
        const HANDLE hStop =
            signal == SIGKILL ? nullptr : ::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
        if (hStop)
        {
            ::SetEvent(hStop);
            ::CloseHandle(hStop);
        }
        else
            ::TerminateProcess(m_hProcess, 128 + signal);
    }
    // Waits for the process to end (up to the deadline); its exit status, or -1.
    int Wait(std::chrono::milliseconds deadline = std::chrono::seconds(20))
    {
        DWORD iStatus = 0;
        if (!m_hProcess ||
            ::WaitForSingleObject(m_hProcess, static_cast<DWORD>(deadline.count())) !=
                WAIT_OBJECT_0 ||
            !::GetExitCodeProcess(m_hProcess, &iStatus))
            return -1;
        return static_cast<int>(iStatus);
    }

private:
    void Start(const std::vector<std::string>& argv, bool bMergeErrors)
    {
        wchar_t directory[MAX_PATH], name[MAX_PATH];
        ::GetTempPathW(MAX_PATH, directory);
        ::GetTempFileNameW(directory, L"zbo", 0, name);
        m_outputPath = std::filesystem::path(name).string();
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const HANDLE hOut = ::CreateFileW(name, GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE hIn = nullptr;
        if (hOut == INVALID_HANDLE_VALUE || !::CreatePipe(&hIn, &m_hStdin, &inherit, 0))
            return;
        ::SetHandleInformation(m_hStdin, HANDLE_FLAG_INHERIT, 0);
        std::string line; // each argument quoted as the program's start-up code splits it back
        for (const std::string& arg : argv)
            line += (line.empty() ? "" : " ") + QuotedArgument(arg);
        std::wstring wide = PathFromUtf8(line).wstring();
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = hIn;
        startup.hStdOutput = hOut;
        startup.hStdError = bMergeErrors ? hOut : ::GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION process{};
        if (::CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                             nullptr, nullptr, &startup, &process))
        {
            m_hJob = ::CreateJobObjectW(nullptr, nullptr);
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags =
                JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
            ::SetInformationJobObject(m_hJob, JobObjectExtendedLimitInformation, &limits,
                                      sizeof limits);
            ::AssignProcessToJobObject(m_hJob, process.hProcess);
            ::ResumeThread(process.hThread);
            ::CloseHandle(process.hThread);
            m_hProcess = process.hProcess;
            m_pid = static_cast<int>(process.dwProcessId);
        }
        ::CloseHandle(hIn);
        ::CloseHandle(hOut);
    }

    HANDLE m_hProcess = nullptr;
    HANDLE m_hJob = nullptr;
    HANDLE m_hStdin = nullptr;
#else
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
    void Start(const std::vector<std::string>& argv, bool bMergeErrors)
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
        if (bMergeErrors)
            posix_spawn_file_actions_adddup2(&actions, out, 2);
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

    int m_stdin = -1;
    int m_iStatus = 0;
    bool m_bReaped = false;
#endif
    int m_pid = -1;
    std::string m_outputPath;
};

#if defined(_WIN32)
// Whether the process (one this test did not start) is gone.
inline bool ProcessHasEnded(int pid)
{
    const HANDLE hProcess = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!hProcess)
        return true;
    const bool bEnded = ::WaitForSingleObject(hProcess, 0) == WAIT_OBJECT_0;
    ::CloseHandle(hProcess);
    return bEnded;
}

// Sets a variable of this process's environment, which the programs it starts inherit.
inline void SetEnvironment(const char* name, const std::string& value)
{
    ::_putenv_s(name, value.c_str());
}
#else
// Whether a process this test did not start is gone, or ended and awaiting its adopter's reaping.
inline bool ProcessHasEnded(int pid)
{
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return stat.empty() ||
           (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z');
}

inline void SetEnvironment(const char* name, const std::string& value)
{
    ::setenv(name, value.c_str(), 1);
}
#endif

// Runs a program to its end: its exit status; its output (and standard error if asked) in *pOutput.
inline int RunProgram(const std::vector<std::string>& argv, std::string* pOutput = nullptr,
                      std::chrono::milliseconds deadline = std::chrono::seconds(30),
                      bool bMergeErrors = false)
{
    CChildProcess child(argv, bMergeErrors);
    child.CloseStdin();
    const int status = child.Wait(deadline);
    if (pOutput)
        *pOutput = child.Output();
    return status;
}
