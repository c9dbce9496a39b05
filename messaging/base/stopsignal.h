// SPDX-License-Identifier: MIT
// A wait handle that becomes signalled when the user or the system asks the program to stop:
// SIGINT, SIGTERM or SIGHUP on POSIX; on Windows Ctrl+C, Ctrl+Break, closing the console, or the
// event "Local\zelbin-stop-PID" that another program sets (Windows has no signal to send).
#pragma once

#include "waithandle.h"

class CStopSignal : public CWaitHandle
{
public:
    // Create it before any thread starts: on POSIX the signals are blocked here and in every
    // thread started later, so that they reach this handle and nothing else.
    CStopSignal();
    ~CStopSignal() override;
    CStopSignal(const CStopSignal&) = delete;
    CStopSignal& operator=(const CStopSignal&) = delete;

    // Asks this process to stop, as a request from outside would.
    static void Raise();
    // Asks another process of the system to stop: SIGTERM, or its stop event. False when it
    // cannot be asked (gone, or on Windows without its stop event yet).
    static bool RequestStopOf(int pid);
};
