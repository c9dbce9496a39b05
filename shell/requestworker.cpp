// SPDX-License-Identifier: MIT
// The request worker's thread.

#include "requestworker.h"
#include "trace.h"

CRequestWorker::CRequestWorker() : m_thread([this] { Run(); }) {}

CRequestWorker::~CRequestWorker()
{
    Stop();
}

void CRequestWorker::Post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bStopping || m_bFinishing)
            return;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void CRequestWorker::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopping = true;
        m_jobs.clear();
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    m_idle.notify_all();
}

void CRequestWorker::Finish()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bFinishing = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    Stop();
}

void CRequestWorker::WaitIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return (m_jobs.empty() && !m_bBusy) || m_bStopping; });
}

void CRequestWorker::Run()
{
    for (;;)
    {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_bBusy = false;
            if (m_jobs.empty())
                m_idle.notify_all();
            m_wake.wait(lock, [this] { return m_bStopping || m_bFinishing || !m_jobs.empty(); });
            if (m_bStopping || m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_bBusy = true;
        }
        try
        {
            job();
        }
        catch (...)
        {
            // Whatever escapes a job ends the worker as a stop would, with a trace line, and
            // never the process: later posts are dropped, the owner joins as usual.
            Trace("CRequestWorker::Run: An exception escaped a job; the worker ends.");
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bStopping = true;
            m_jobs.clear();
            return;
        }
    }
}
