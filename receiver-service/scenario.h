// SPDX-License-Identifier: MIT
// The stand-in's scenario: timed control commands read from a file ("at MS COMMAND", MS counted
// from the start of the scenario), run once or for ever on a thread of their own.
#pragma once

#include "servicelog.h"
#include "servicetask.h"

#include <functional>
#include <memory>
#include <string>

class CScenarioRunner
{
public:
    // Runs one control command and returns its reply.
    using Control = std::function<std::string(const std::string&)>;
    CScenarioRunner(std::string path, bool bLoop, CServiceLog& log, Control control);
    // Stops the run (a step under way finishes first).
    ~CScenarioRunner();

private:
    void Run(CEvent* pStop);

    std::string m_path;
    bool m_bLoop;
    CServiceLog& m_log;
    Control m_control;
    std::unique_ptr<CServiceTask> m_pTask;
};
