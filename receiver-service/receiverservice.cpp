// SPDX-License-Identifier: MIT
// The stand-in receiver service: its parts, put together and taken down in order.

#include "receiverservice.h"
#include "catalogue.h"
#include "daemon.h"
#include "trace.h"

#include <stdexcept>
#include <utility>

namespace
{
std::string DefaultLogPath(const std::string& program)
{
    return RuntimeDirectory() + "/" + program + ".log";
}
} // namespace

CReceiverService::CReceiverService(ServiceOptions options)
    : m_options(std::move(options)),
      m_log(m_options.logPath.empty() ? DefaultLogPath(m_options.programName) : m_options.logPath,
            m_options.iMask)
{
    // The library's own trace lines (a connection lost to a bad frame, say) belong in the log.
    SetTraceSink(
        [this](const char* pszLine)
        {
            std::string line(pszLine);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            m_log.Write(LOG_DEBUG, line);
        });
    try
    {
        m_pNetwork = std::make_unique<CServiceNetwork>(m_options, m_log, m_manager);
    }
    catch (...)
    {
        SetTraceSink({});
        throw;
    }
    m_log.Write(LOG_VERBOSE, m_options.programName +
                                 " started on 127.0.0.1:" + std::to_string(m_pNetwork->GetPort()));
    m_pReceivers = std::make_unique<CSimulatedReceivers>(m_options.receivers, m_log,
                                                         [this](IMessage* pMessage)
                                                         { m_pNetwork->Broadcast(pMessage); });
    m_pProtocol = std::make_unique<CServiceProtocol>(m_log, *m_pNetwork, *m_pReceivers);
    m_pConsole = std::make_unique<CServiceConsole>(m_log, *m_pReceivers, *m_pNetwork, *m_pProtocol);
    m_pNetwork->Start(m_pProtocol.get());
    if (!m_options.scenario.empty())
        m_pScenario = std::make_unique<CScenarioRunner>(
            m_options.scenario, m_options.bLoopScenario, m_log,
            [this](const std::string& line) { return m_pConsole->Control(line); });
}

CReceiverService::~CReceiverService()
{
    m_pScenario.reset();
    m_pConsole->StopFloods();
    // Accept nothing more, stop every thread that sends, drop the messages still waiting to be
    // handled, and only then let the connections go: no handler runs on a service half torn down.
    m_pNetwork->Stop();
    m_pProtocol->StopNotices();
    m_manager.StopDispatching();
    m_pNetwork->DetachAll();
    m_log.Write(LOG_VERBOSE, m_options.programName + " stopped");
    SetTraceSink({});
}
