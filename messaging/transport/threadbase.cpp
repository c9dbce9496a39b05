// SPDX-License-Identifier: MIT
// Thread base: start once, stop by event, join on the finished event.

#include "threadbase.h"
#include "exceptions.h"
#include "trace.h"

#include <exception>

#include <system_error>

CThreadBase::~CThreadBase()
{
    // Derived destructors stop and join first; this only catches a body still running.
    if (m_bStarted)
    {
        Stop();
        Join();
    }
    if (m_thread.joinable())
    {
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
}

void CThreadBase::Start()
{
    if (m_bStarted)
        return;
    try
    {
        m_thread = std::thread(
            [this]
            {
                RunCaught();
                m_finishedEvent.Set();
            });
    }
    catch (const std::system_error&)
    {
        m_bStarted = false;
        throw CSocketLibException(0);
    }
    m_bStarted = true;
}

void CThreadBase::RunCaught()
{
    // Whatever escapes a body ends its thread as a stop would, with a trace line, and never the
    // process: the owner joins it as usual.
    try
    {
        Run();
    }
    catch (CExceptionBase& error)
    {
        CExceptionBase copy = error;
        copy.Report();
        Trace("CThreadBase::Run: The exception above escaped the thread's body; the thread ends.");
    }
    catch (const std::exception& error)
    {
        Trace("CThreadBase::Run: \"%s\" escaped the thread's body; the thread ends.", error.what());
    }
    catch (...)
    {
        Trace("CThreadBase::Run: An unknown exception escaped the thread's body; the thread ends.");
    }
}

bool CThreadBase::HasFinished()
{
    return m_finishedEvent.IsSet();
}

void CThreadBase::Stop()
{
    // Set even before Start has returned: a body that stops itself at once must not wait for
    // a stop event that was never set.
    m_stopEvent.Set();
}

void CThreadBase::Join()
{
    // A body cannot wait for its own end.
    if (!m_bStarted || m_thread.get_id() == std::this_thread::get_id())
        return;
    CWaitHandle* handles[1] = {&m_finishedEvent};
    WaitForEvents(handles, 1, WAIT_INFINITE);
    // The body has returned; reap the thread itself unless Join runs on it.
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

int CThreadBase::WaitForEvents(CWaitHandle* const* pHandles, int iCount, int iTimeoutMs)
{
    return WaitForHandles(pHandles, iCount, iTimeoutMs);
}
