// SPDX-License-Identifier: MIT
// The stand-in's scenario: timed control commands read from a file ("at MS COMMAND", MS counted
// from the start of the scenario), run once or for ever on a thread of their own.
#pragma once

#include "servicelog.h"
#include "serviceoptions.h"
#include "servicetask.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Bounded reading: a line holds at most this many bytes, a scenario at most this many steps, a
// step comes at most a day after the start.
inline constexpr size_t MAX_SCENARIO_LINE = 4096;
inline constexpr size_t MAX_SCENARIO_STEPS = 10000;
inline constexpr int64_t MAX_SCENARIO_MS = 24 * 3600 * 1000;

// Reads a scenario file, which must be a regular file (a FIFO, a device or a folder is refused
// before it is opened). False, with the reason in error, when it cannot be read at all. A line
// that does not read as a step is skipped, with a complaint that names it ("line 3: ...").
bool LoadScenario(const std::string& path, std::vector<ScenarioStep>& steps, std::string& error,
                  std::vector<std::string>& complaints);

class CScenarioRunner
{
public:
    // Runs one control command and returns its reply.
    using Control = std::function<std::string(const std::string&)>;
    CScenarioRunner(std::vector<ScenarioStep> steps, bool bLoop, CServiceLog& log, Control control);
    // Stops the run (a step under way finishes first).
    ~CScenarioRunner();

private:
    void Run(CEvent* pStop);

    std::vector<ScenarioStep> m_steps;
    bool m_bLoop;
    CServiceLog& m_log;
    Control m_control;
    std::unique_ptr<CServiceTask> m_pTask;
};
