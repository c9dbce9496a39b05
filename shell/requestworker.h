// SPDX-License-Identifier: MIT
// Runs work that waits for the service (requests of up to 10 s) on a thread of its own, one job
// at a time and in the order posted, so that the thread that posts it (the window's) never
// waits for the service. Each job hands its result back however its poster wants.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// m_mutex guards the jobs and the stop flag; nothing is called under it (a job runs without it).
class CRequestWorker
{
public:
    CRequestWorker();
    // Stop, then join.
    ~CRequestWorker();
    CRequestWorker(const CRequestWorker&) = delete;
    CRequestWorker& operator=(const CRequestWorker&) = delete;

    void Post(std::function<void()> job);
    // Drops what was not started and waits for the job that runs; later posts are dropped.
    void Stop();
    // Runs what was posted, then stops; later posts are dropped.
    void Finish();
    // Returns once every job posted before the call has run (never call it from a job).
    void WaitIdle();

private:
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    bool m_bBusy = false; // a job runs
    bool m_bStopping = false;
    bool m_bFinishing = false;
    std::thread m_thread;
};
