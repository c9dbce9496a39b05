// SPDX-License-Identifier: MIT
// What the two service programs share: their runtime directory and pid file, starting detached,
// stopping cleanly, and installing or removing their registration (a systemd user unit on POSIX,
// a service of the service control manager on Windows).
#pragma once

#include <functional>
#include <string>
#include <vector>

// The programs' private directory, made if missing: $XDG_RUNTIME_DIR/zelbin, else /tmp/zelbin-UID,
// made 0700 (POSIX); %LOCALAPPDATA%\zelbin (Windows). Throws std::runtime_error when it is not a
// directory of this user's that only they may enter.
std::string RuntimeDirectory();
// A word for a systemd unit line, quoted and escaped so that it stands for itself.
std::string SystemdQuoted(const std::string& word);
std::string PidFilePath(const std::string& program);
// The pid recorded for the program when that process is alive, else 0.
int RunningPid(const std::string& program);
// Records this process as the program's running instance; ForgetPid removes the record if it
// is still this process's.
void RecordPid(const std::string& program);
void ForgetPid(const std::string& program);

using DaemonBody = std::function<int(const std::function<void()>& ready)>;
// Runs body in a detached daemon process and returns once it said it is ready (or failed).
// body gets a callback to call when it is ready to serve; it runs until a stop signal.
// Returns the exit status for the starting program. POSIX forks; Windows, which cannot, runs the
// program again with DAEMON_CHILD_SWITCH, a handle and the options, and that process calls
// RunDaemonChild.
int StartDaemon(const std::string& program, const std::vector<std::string>& options,
                const DaemonBody& body);
inline constexpr const char* DAEMON_CHILD_SWITCH = "--daemon-child";
int RunDaemonChild(const std::string& program, const std::string& readyHandle,
                   const DaemonBody& body);
// Windows: runs body as the service that -i registered, when the service control manager starts
// the program with SERVICE_SWITCH; its stop request ends body's WaitForStopSignal. Elsewhere, or
// when the program was not started as a service, it says so and fails.
inline constexpr const char* SERVICE_SWITCH = "--service";
int RunAsService(const std::string& program, const DaemonBody& body);
// Sends the stop signal to the running daemon and waits up to 10 s for it to end.
int StopDaemon(const std::string& program);

// The unit file path, in unitDir when given, else the user's systemd unit directory.
std::string UnitFilePath(const std::string& program, const std::string& unitDir);
// Registers this program (its own path, GetModulePath) to run as the service; fails with a
// message when the system cannot tell that path.
int InstallUnit(const std::string& program, const std::string& unitDir);
// The registration itself, of one system, for the program at executable.
int InstallUnitFor(const std::string& program, const std::string& executable,
                   const std::string& unitDir);
int UninstallUnit(const std::string& program, const std::string& unitDir);

// Blocks the stop signals (SIGTERM, SIGINT, SIGHUP) in this and every later thread, so that
// WaitForStopSignal receives them; call before starting threads. On Windows the stop requests are
// Ctrl+C and the like, and the program's stop event that StopDaemon sets.
void BlockStopSignals();
void WaitForStopSignal();
// Ends WaitForStopSignal as a stop request from outside would ("quit" on the control input).
void RequestStop();

// Runs a program's main (after SetUpProgram): nothing it meets (an unusable runtime
// directory, say) ends it with an abort; the reason is printed and the status (1) says that it
// failed.
int RunProgramMain(int (*pMain)(int, char**), int argc, char** argv);
