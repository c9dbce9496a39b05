// SPDX-License-Identifier: MIT
// Daemon plumbing for the service programs on Windows: the program run again as a detached
// background process, the named stop event, and the registration as a service of the service
// control manager.

#include "commandline.h"
#include "daemon.h"
#include "program.h"
#include "stopsignal.h"
#include "utf8path.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace
{
// The process when it is alive and runs the program, else null. A pid reused by another program,
// or a pid file that was tampered with, is never stopped.
HANDLE OpenProgram(int pid, const std::string& program)
{
    const HANDLE hProcess = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                          static_cast<DWORD>(pid));
    if (!hProcess)
        return nullptr;
    wchar_t image[32768] = {};
    DWORD n = static_cast<DWORD>(std::size(image));
    const bool bAlive = ::WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT;
    const bool bNamed = ::QueryFullProcessImageNameW(hProcess, 0, image, &n) != 0;
    const std::wstring name = fs::path(std::wstring(image, n)).filename().wstring();
    const std::wstring expected = PathFromUtf8(program + ".exe").wstring();
    if (bAlive && bNamed && ::_wcsicmp(name.c_str(), expected.c_str()) == 0)
        return hProcess;
    ::CloseHandle(hProcess);
    return nullptr;
}
} // namespace

std::string RuntimeDirectory()
{
    // The user's local application data is theirs alone; %TEMP% is the fallback.
    const wchar_t* base = ::_wgetenv(L"LOCALAPPDATA");
    if (!base || !*base)
        base = ::_wgetenv(L"TEMP");
    if (!base || !*base)
        throw std::runtime_error("neither LOCALAPPDATA nor TEMP is set");
    const fs::path dir = fs::path(base) / L"zelbin";
    std::error_code error;
    fs::create_directories(dir, error);
    if (!fs::is_directory(fs::symlink_status(dir, error)))
        throw std::runtime_error(Utf8FromPath(dir) + " is not a directory of this user; not used");
    return Utf8FromPath(dir);
}

int RunningPid(const std::string& program)
{
    std::ifstream in(PathFromUtf8(PidFilePath(program)));
    int pid = 0;
    if (!(in >> pid) || pid <= 0)
        return 0;
    const HANDLE hProcess = OpenProgram(pid, program);
    if (!hProcess)
        return 0;
    ::CloseHandle(hProcess);
    return pid;
}

void RecordPid(const std::string& program)
{
    std::ofstream(PathFromUtf8(PidFilePath(program))) << ::GetCurrentProcessId() << "\n";
}

void ForgetPid(const std::string& program)
{
    std::ifstream in(PathFromUtf8(PidFilePath(program)));
    unsigned long pid = 0;
    if (in >> pid && pid == ::GetCurrentProcessId())
    {
        in.close();
        std::error_code ignored;
        fs::remove(PathFromUtf8(PidFilePath(program)), ignored);
    }
}

// The program again, detached, with DAEMON_CHILD_SWITCH and an inherited event that it sets once
// it serves; its output goes to PROGRAM.out in the runtime directory.
int StartDaemon(const std::string& program, const std::vector<std::string>& options,
                const DaemonBody& /*body*/)
{
    if (const int pid = RunningPid(program))
    {
        std::printf("%s is already running (pid %d)\n", program.c_str(), pid);
        return 0;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE hReady = ::CreateEventW(&inherit, TRUE, FALSE, nullptr);
    const fs::path out = PathFromUtf8(RuntimeDirectory()) / PathFromUtf8(program + ".out");
    const HANDLE hOut =
        ::CreateFileW(out.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string command = QuotedArgument(GetModulePath()) + " " + DAEMON_CHILD_SWITCH + " " +
                          std::to_string(reinterpret_cast<uintptr_t>(hReady));
    for (const std::string& option : options)
        command += " " + QuotedArgument(option);
    std::wstring line = PathFromUtf8(command).wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = hOut;
    startup.hStdError = hOut;
    PROCESS_INFORMATION process{};
    // The daemon leaves the starter's job where the job allows it, so that it outlives the
    // starter; a job that does not allow it keeps the daemon.
    const DWORD iFlags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP;
    const auto start = [&](DWORD iMore)
    {
        return ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, iFlags | iMore,
                                nullptr, nullptr, &startup, &process) != 0;
    };
    const bool bStarted = hReady && (start(CREATE_BREAKAWAY_FROM_JOB) || start(0));
    bool bReady = false;
    if (bStarted)
    {
        // Ready, or ended without being ready; ten seconds at most.
        const HANDLE waits[2] = {hReady, process.hProcess};
        bReady = ::WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0;
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    if (hOut != INVALID_HANDLE_VALUE)
        ::CloseHandle(hOut);
    if (hReady)
        ::CloseHandle(hReady);
    if (!bReady)
    {
        std::fprintf(stderr, "%s did not start; see %s\n", program.c_str(),
                     Utf8FromPath(out).c_str());
        return 1;
    }
    std::printf("%s started (pid %lu)\n", program.c_str(),
                static_cast<unsigned long>(process.dwProcessId));
    return 0;
}

int RunDaemonChild(const std::string& program, const std::string& readyHandle,
                   const DaemonBody& body)
{
    const auto hReady = reinterpret_cast<HANDLE>(std::stoull(readyHandle));
    BlockStopSignals(); // the stop event exists before the pid file names this process
    RecordPid(program);
    const int status = body(
        [hReady]
        {
            std::fflush(stdout);
            ::SetEvent(hReady);
            ::CloseHandle(hReady);
        });
    ForgetPid(program);
    return status;
}

int StopDaemon(const std::string& program)
{
    const int pid = RunningPid(program);
    const HANDLE hProcess = pid ? OpenProgram(pid, program) : nullptr;
    if (!hProcess)
    {
        std::printf("%s is not running\n", program.c_str());
        return 0;
    }
    // The program makes its stop event before it records its pid; one started by another
    // version may make it later, so it is asked again until it hears; 10 s in all.
    bool bAsked = false;
    bool bEnded = false;
    for (int i = 0; i < 100 && !bEnded; ++i)
    {
        bAsked = bAsked || CStopSignal::RequestStopOf(pid);
        bEnded = ::WaitForSingleObject(hProcess, 100) == WAIT_OBJECT_0;
    }
    ::CloseHandle(hProcess);
    if (!bEnded)
    {
        std::fprintf(stderr, "%s (pid %d) did not stop within 10 s\n", program.c_str(), pid);
        return 1;
    }
    std::error_code ignored;
    fs::remove(PathFromUtf8(PidFilePath(program)), ignored);
    std::printf("%s stopped\n", program.c_str());
    return 0;
}

// On Windows the registration is a service of the service control manager; unitDir names
// nothing here.
std::string UnitFilePath(const std::string& program, const std::string& /*unitDir*/)
{
    return program;
}

int InstallUnitFor(const std::string& program, const std::string& executable,
                   const std::string& /*unitDir*/)
{
    const SC_HANDLE hManager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (!hManager)
    {
        std::fprintf(stderr, "%s: cannot open the service control manager (error %lu)\n",
                     program.c_str(), ::GetLastError());
        return 1;
    }
    const std::wstring name = PathFromUtf8(program).wstring();
    const std::wstring command =
        PathFromUtf8(QuotedArgument(executable) + " " + SERVICE_SWITCH).wstring();
    const SC_HANDLE hService = ::CreateServiceW(
        hManager, name.c_str(), (name + L" (Zelbin stand-in receiver service)").c_str(),
        SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
        command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    const DWORD iError = ::GetLastError();
    ::CloseServiceHandle(hManager);
    if (!hService)
    {
        std::fprintf(stderr, "%s: cannot install the service (error %lu)\n", program.c_str(),
                     iError);
        return 1;
    }
    ::CloseServiceHandle(hService);
    std::printf("installed %s\n", program.c_str());
    return 0;
}

int UninstallUnit(const std::string& program, const std::string& /*unitDir*/)
{
    const SC_HANDLE hManager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!hManager)
    {
        std::fprintf(stderr, "%s: cannot open the service control manager (error %lu)\n",
                     program.c_str(), ::GetLastError());
        return 1;
    }
    const SC_HANDLE hService =
        ::OpenServiceW(hManager, PathFromUtf8(program).wstring().c_str(), DELETE);
    const bool bDeleted = hService && ::DeleteService(hService);
    const DWORD iError = ::GetLastError();
    if (hService)
        ::CloseServiceHandle(hService);
    ::CloseServiceHandle(hManager);
    if (!hService && iError == ERROR_SERVICE_DOES_NOT_EXIST)
    {
        std::printf("%s was not installed\n", program.c_str());
        return 0;
    }
    if (!bDeleted)
    {
        std::fprintf(stderr, "%s: cannot remove the service (error %lu)\n", program.c_str(),
                     iError);
        return 1;
    }
    std::printf("removed %s\n", program.c_str());
    return 0;
}
namespace
{
// The one service this process runs; the service control manager calls back on threads of its own.
struct SService
{
    std::wstring name;
    DaemonBody body;
    SERVICE_STATUS_HANDLE hStatus = nullptr;
    int iExitStatus = 0;
} g_service;

void ReportServiceState(DWORD iState, DWORD iExitCode = NO_ERROR)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = iState;
    status.dwControlsAccepted =
        iState == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = iExitCode;
    status.dwWaitHint = iState == SERVICE_RUNNING || iState == SERVICE_STOPPED ? 0 : 10000;
    ::SetServiceStatus(g_service.hStatus, &status);
}

DWORD WINAPI OnServiceControl(DWORD iControl, DWORD, void*, void*)
{
    switch (iControl)
    {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        ReportServiceState(SERVICE_STOP_PENDING);
        RequestStop();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    g_service.hStatus =
        ::RegisterServiceCtrlHandlerExW(g_service.name.c_str(), OnServiceControl, nullptr);
    if (!g_service.hStatus)
        return;
    ReportServiceState(SERVICE_START_PENDING);
    const std::string program = Utf8FromPath(g_service.name);
    BlockStopSignals();
    RecordPid(program); // -stop and -start see the service as they see a daemon
    g_service.iExitStatus = g_service.body([] { ReportServiceState(SERVICE_RUNNING); });
    ForgetPid(program);
    ReportServiceState(SERVICE_STOPPED,
                       g_service.iExitStatus == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR);
}
} // namespace

int RunAsService(const std::string& program, const DaemonBody& body)
{
    g_service.name = PathFromUtf8(program).wstring();
    g_service.body = body;
    SERVICE_TABLE_ENTRYW table[] = {{g_service.name.data(), ServiceMain}, {nullptr, nullptr}};
    if (!::StartServiceCtrlDispatcherW(table))
    {
        std::fprintf(stderr, "%s: %s is for the service control manager (error %lu)\n",
                     program.c_str(), SERVICE_SWITCH, ::GetLastError());
        return 1;
    }
    return g_service.iExitStatus;
}
