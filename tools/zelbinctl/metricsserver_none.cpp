// SPDX-License-Identifier: MIT
// A build without an HTTP server (Windows): metrics --listen says so; --textfile still works.

#include "metricsserver.h"

struct CMetricsServer::SImpl
{
};

CMetricsServer::CMetricsServer() = default;
CMetricsServer::~CMetricsServer() = default;

bool CMetricsServer::Start(const std::string&, int, std::function<std::string()>,
                           std::string* pProblem)
{
    *pProblem = "this build cannot serve HTTP; use --textfile PATH";
    return false;
}
