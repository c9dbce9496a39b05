// SPDX-License-Identifier: MIT
// Reading and running the scenario of the stand-in service.

#include "scenario.h"
#include "catalogue.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <utility>

namespace
{
// One line as a step; false with the reason when it is none. Blank and "#" lines give no step
// and no reason.
bool ReadStep(const std::string& line, std::vector<ScenarioStep>& steps, std::string& reason)
{
    std::istringstream in(line);
    std::string at;
    if (!(in >> at) || at[0] == '#')
        return true;
    int64_t ms = 0;
    std::string rest;
    if (at != "at" || !(in >> ms) || ms < 0 || ms > MAX_SCENARIO_MS ||
        !std::getline(in >> std::ws, rest))
    {
        reason = "\"" + line + "\" does not read as \"at MS COMMAND\" (MS from 0 to " +
                 std::to_string(MAX_SCENARIO_MS) + ")";
        return false;
    }
    steps.push_back({ms, rest});
    return true;
}
} // namespace

bool LoadScenario(const std::string& path, std::vector<ScenarioStep>& steps, std::string& error,
                  std::vector<std::string>& complaints)
{
    steps.clear();
    // Looked at before it is opened: opening a FIFO would wait for a writer, and a device such
    // as /dev/zero never ends.
    std::error_code code;
    const auto status = std::filesystem::status(path, code);
    if (code)
    {
        error = "cannot read the scenario " + path + ": " + code.message();
        return false;
    }
    if (status.type() != std::filesystem::file_type::regular)
    {
        error = "the scenario " + path + " is not a regular file";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file)
    {
        error = "cannot open the scenario " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<char> buffer(MAX_SCENARIO_LINE + 2);
    for (size_t iLine = 1;; ++iLine)
    {
        file.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (file.gcount() == 0 && file.eof())
            break;
        const bool bFull = file.fail() && !file.eof(); // the buffer filled before the line ended
        if (bFull)
        {
            file.clear();
            file.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        }
        std::string line(buffer.data());
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string where = "line " + std::to_string(iLine) + ": ";
        std::string reason;
        if (bFull || line.size() > MAX_SCENARIO_LINE)
            complaints.push_back(where + "longer than " + std::to_string(MAX_SCENARIO_LINE) +
                                 " bytes; skipped");
        else if (steps.size() == MAX_SCENARIO_STEPS && !line.empty() && line[0] != '#')
        {
            complaints.push_back(where + "more than " + std::to_string(MAX_SCENARIO_STEPS) +
                                 " steps; this line and the rest are skipped");
            break;
        }
        else if (!ReadStep(line, steps, reason))
            complaints.push_back(where + reason + "; skipped");
        if (file.eof())
            break;
    }
    return true;
}

CScenarioRunner::CScenarioRunner(std::vector<ScenarioStep> steps, bool bLoop, CServiceLog& log,
                                 Control control)
    : m_steps(std::move(steps)), m_bLoop(bLoop), m_log(log), m_control(std::move(control))
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
    if (m_steps.empty())
        return;
    CWaitHandle* handles[1] = {pStop};
    auto waitUntil = [&](Clock::time_point due)
    {
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
        return wait > 0 && CThreadBase::WaitForEvents(handles, 1, static_cast<int>(wait)) == 0;
    };
    // A looping scenario lasts at least a second, so that one of steps at 0 ms cannot spin.
    int64_t iPeriod = 1000;
    for (const ScenarioStep& step : m_steps)
        iPeriod = std::max(iPeriod, step.iAtMs);
    do
    {
        const auto start = Clock::now();
        for (const ScenarioStep& step : m_steps)
        {
            if (waitUntil(start + std::chrono::milliseconds(step.iAtMs)))
                return;
            // A step that the console refuses is told where a user looks.
            const std::string reply = m_control(step.command);
            if (reply != "ok\n")
                m_log.Write(LOG_VERBOSE, "Scenario step at " + std::to_string(step.iAtMs) +
                                             " ms, \"" + step.command +
                                             "\": " + reply.substr(0, reply.find('\n')));
        }
        if (m_bLoop && waitUntil(start + std::chrono::milliseconds(iPeriod)))
            return;
    } while (m_bLoop);
}
