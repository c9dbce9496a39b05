// SPDX-License-Identifier: MIT
// Thread base of the library's threads: a body that runs once, a stop event it watches in wait
// slot 0, and a finished event that Join waits for. An exception that escapes the body ends the
// thread with a trace line ("CThreadBase::Run: ... the thread ends."), as a stop would.
#pragma once

#include "waithandle.h"

#include <thread>

class CThreadBase
{
public:
    CThreadBase() = default;
    virtual ~CThreadBase();
    CThreadBase(const CThreadBase&) = delete;
    CThreadBase& operator=(const CThreadBase&) = delete;

    // Runs Run on a new thread; a second call does nothing (an object runs at most once).
    // Throws CSocketLibException (code 0) when the thread cannot be created.
    virtual void Start();
    // Sets the stop event; does not wait.
    virtual void Stop();
    // Waits until Run has returned.
    virtual void Join();
    // Whether Run has returned (or ended with an exception).
    bool HasFinished();

    // Waits for any of up to 64 handles: the lowest signalled index, -2 on time-out, -1 on failure.
    static int WaitForEvents(CWaitHandle* const* pHandles, int iCount, int iTimeoutMs);

protected:
    virtual void Run() = 0;
    CEvent* GetStopEvent() { return &m_stopEvent; }

private:
    void RunCaught();

    std::thread m_thread;
    CEvent m_stopEvent;
    bool m_bStarted = false;
    CEvent m_finishedEvent;
};
