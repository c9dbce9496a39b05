// SPDX-License-Identifier: MIT
// A thread of the stand-in service: runs one body that watches the stop event, and is stopped
// and joined when it is destroyed.
#pragma once

#include "threadbase.h"

#include <functional>
#include <utility>

class CServiceTask : public CThreadBase
{
public:
    explicit CServiceTask(std::function<void(CEvent*)> body) : m_body(std::move(body)) { Start(); }
    ~CServiceTask() override
    {
        Stop();
        Join();
    }

protected:
    void Run() override { m_body(GetStopEvent()); }

private:
    std::function<void(CEvent*)> m_body;
};
