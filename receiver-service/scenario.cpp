// SPDX-License-Identifier: MIT
// The scenario runner of the stand-in service.

#include "scenario.h"
#include "catalogue.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

CScenarioRunner::CScenarioRunner(std::string path, bool bLoop, CServiceLog& log, Control control)
    : m_path(std::move(path)), m_bLoop(bLoop), m_log(log), m_control(std::move(control))
{
    m_pTask = std::make_unique<CServiceTask>([this](CEvent* pStop) { Run(pStop); });
}

CScenarioRunner::~CScenarioRunner()
{
    m_pTask.reset();
}

void CScenarioRunner::Run(CEvent* pStop)
{
    using Clock = std::chrono::steady_clock;
    // Lines: "at MS VERB ARGS", MS counted from the start of the scenario; "#" starts a comment.
    std::ifstream file(m_path);
    std::vector<std::pair<int64_t, std::string>> steps;
    std::string line;
    while (std::getline(file, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream in(line);
        std::string at;
        int64_t ms = 0;
        if (!(in >> at) || at[0] == '#')
            continue;
        std::string rest;
        if (at != "at" || !(in >> ms) || !std::getline(in >> std::ws, rest))
        {
            m_log.Write(LOG_DEBUG, "Scenario: cannot read \"" + line + "\"");
            continue;
        }
        steps.emplace_back(ms, rest);
    }
    if (steps.empty())
        return;
    CWaitHandle* handles[1] = {pStop};
    auto waitUntil = [&](Clock::time_point due)
    {
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
        return wait > 0 && CThreadBase::WaitForEvents(handles, 1, static_cast<int>(wait)) == 0;
    };
    // A looping scenario lasts at least a second, so that one of steps at 0 ms cannot spin.
    const int64_t iPeriod = std::max<int64_t>(steps.back().first, 1000);
    do
    {
        const auto start = Clock::now();
        for (const auto& [ms, command] : steps)
        {
            if (waitUntil(start + std::chrono::milliseconds(ms)))
                return;
            m_control(command);
        }
        if (m_bLoop && waitUntil(start + std::chrono::milliseconds(iPeriod)))
            return;
    } while (m_bLoop);
}
