// SPDX-License-Identifier: MIT
// A build without an HTTP server (Windows): metrics --listen says so; --textfile still works.

#include "metricsserver.h"

struct CMetricsServer::SImpl
{
    CEvent failed; // never set: nothing serves
};

CMetricsServer::CMetricsServer() : m_pImpl(std::make_unique<SImpl>()) {}
CMetricsServer::~CMetricsServer() = default;

bool CMetricsServer::Start(const std::string&, int, std::function<std::string()>,
                           std::string* pProblem, const SLimits&)
{
    *pProblem = "this build cannot serve HTTP; use --textfile PATH";
    return false;
}

std::string CMetricsServer::GetUrl() const
{
    return {};
}

CWaitHandle& CMetricsServer::GetFailedEvent()
{
    return m_pImpl->failed;
}

std::string CMetricsServer::GetFailure() const
{
    return {};
}
