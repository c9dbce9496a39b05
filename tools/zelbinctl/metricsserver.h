// SPDX-License-Identifier: MIT
// zelbinctl metrics --listen: serves /metrics over HTTP on a thread of its own.
#pragma once

#include <functional>
#include <memory>
#include <string>

class CMetricsServer
{
public:
    CMetricsServer();
    ~CMetricsServer(); // stops serving and joins the thread
    CMetricsServer(const CMetricsServer&) = delete;
    CMetricsServer& operator=(const CMetricsServer&) = delete;

    // Binds host:port and serves render()'s text at /metrics. False with *pProblem set when the
    // address cannot be taken or this build cannot serve HTTP.
    bool Start(const std::string& host, int iPort, std::function<std::string()> render,
               std::string* pProblem);

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_pImpl;
};
