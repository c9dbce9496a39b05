// SPDX-License-Identifier: MIT
// The control console of the stand-in service.

#include "serviceconsole.h"
#include "catalogue.h"
#include "wire.h"

#include <chrono>
#include <cstdio>
#include <sstream>

CServiceConsole::CServiceConsole(CServiceLog& log, CSimulatedReceivers& receivers,
                                 CServiceNetwork& network, CServiceProtocol& protocol)
    : m_log(log), m_receivers(receivers), m_network(network), m_protocol(protocol)
{
}

CServiceConsole::~CServiceConsole()
{
    StopFloods();
}

void CServiceConsole::StopFloods()
{
    std::lock_guard<std::mutex> g(m_floodMutex);
    m_floods.clear();
}

bool CServiceConsole::StartLogFlood(int iPerSecond, int iSeconds)
{
    using Clock = std::chrono::steady_clock;
    std::lock_guard<std::mutex> g(m_floodMutex);
    // Finished floods are let go here, so a looping scenario keeps no threads or events of them.
    std::erase_if(m_floods, [](const auto& p) { return p->HasFinished(); });
    if (m_floods.size() >= MAX_LOG_FLOODS)
        return false;
    auto pTask = std::make_unique<CServiceTask>(
        [this, iPerSecond, iSeconds](CEvent* pStop)
        {
            CWaitHandle* handles[1] = {pStop};
            const auto start = Clock::now();
            const int64_t total = int64_t{iPerSecond} * iSeconds;
            for (int64_t i = 0; i < total; ++i)
            {
                const auto due = start + std::chrono::microseconds(i * 1000000 / iPerSecond);
                const auto wait =
                    std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now())
                        .count();
                // Looked at before every line, also when behind: a flood too fast to keep up
                // with still stops at once.
                if (CThreadBase::WaitForEvents(handles, 1,
                                               static_cast<int>(std::max<int64_t>(wait, 0))) == 0)
                    return;
                m_log.Write(LOG_DEBUG, "Flood line " + std::to_string(i + 1) + " of " +
                                           std::to_string(total) +
                                           ": the quick brown fox jumps over the lazy dog");
            }
        });
    m_floods.push_back(std::move(pTask));
    return true;
}

const char* CServiceConsole::Help()
{
    return "Control commands (one per line):\n"
           "  appear ID NAME...   a receiver appears (state 1) or comes back\n"
           "  state ID N          a receiver changes to state N (2 = gone)\n"
           "  rename ID NAME...   a receiver gets a new name\n"
           "  go ID               a receiver goes (reported with state 2)\n"
           "  log N T             write N log lines a second for T seconds\n"
           "  say TEXT...         write one DEBUG line to the log\n"
           "  list                the receivers and clients\n"
           "  help                this text\n";
}

std::string CServiceConsole::Control(const std::string& line)
{
    std::istringstream in(line);
    std::string verb;
    if (!(in >> verb))
        return {};
    auto rest = [&]
    {
        std::string text;
        std::getline(in >> std::ws, text);
        return text;
    };
    const auto noReceiver = [](uint32_t iId)
    { return "no receiver " + std::to_string(iId) + "\n"; };
    uint32_t iId = 0;
    if (verb == "appear" || verb == "add")
    {
        if (!(in >> iId))
            return "usage: appear ID NAME...\n";
        const std::string name = rest();
        m_receivers.Set(iId, RECEIVER_PRESENT,
                        ToUtf16(name.empty() ? "Receiver " + std::to_string(iId) : name));
        return "ok\n";
    }
    if (verb == "state")
    {
        uint32_t iState = 0;
        if (!(in >> iId >> iState))
            return "usage: state ID N\n";
        return m_receivers.SetState(iId, iState) ? "ok\n" : noReceiver(iId);
    }
    if (verb == "rename")
    {
        if (!(in >> iId))
            return "usage: rename ID NAME...\n";
        return m_receivers.Rename(iId, ToUtf16(rest())) ? "ok\n" : noReceiver(iId);
    }
    if (verb == "go" || verb == "remove")
    {
        if (!(in >> iId))
            return "usage: go ID\n";
        return m_receivers.SetState(iId, RECEIVER_GONE) ? "ok\n" : noReceiver(iId);
    }
    if (verb == "log")
    {
        int iPerSecond = 0, iSeconds = 0;
        if (!(in >> iPerSecond >> iSeconds) || iPerSecond <= 0 || iSeconds <= 0 ||
            iPerSecond > MAX_FLOOD_LINES_PER_SECOND || iSeconds > MAX_FLOOD_SECONDS)
            return "usage: log N T (N from 1 to " + std::to_string(MAX_FLOOD_LINES_PER_SECOND) +
                   " lines a second, T from 1 to " + std::to_string(MAX_FLOOD_SECONDS) +
                   " seconds)\n";
        if (!StartLogFlood(iPerSecond, iSeconds))
            return std::to_string(MAX_LOG_FLOODS) +
                   " log floods run already; nothing started (try again when one has ended)\n";
        return "ok\n";
    }
    if (verb == "say")
    {
        m_log.Write(LOG_DEBUG, rest());
        return "ok\n";
    }
    if (verb == "list")
    {
        char mask[16];
        std::snprintf(mask, sizeof mask, "%02X", m_log.GetMask());
        return m_receivers.Describe() + std::to_string(m_network.GetClientCount()) +
               " client(s); log " + m_log.GetPath() + "; mask 0x" + mask + "; commands received " +
               std::to_string(m_protocol.GetReceiverCommandCount()) + "\n";
    }
    if (verb == "help")
        return Help();
    return "unknown command \"" + verb + "\"; try help\n";
}
