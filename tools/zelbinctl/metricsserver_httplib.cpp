// SPDX-License-Identifier: MIT
// The /metrics page through cpp-httplib.

#include "metricsserver.h"

#include <httplib.h>

#include <thread>

struct CMetricsServer::SImpl
{
    httplib::Server server;
    std::thread serving;
};

CMetricsServer::CMetricsServer() : m_pImpl(std::make_unique<SImpl>()) {}

CMetricsServer::~CMetricsServer()
{
    if (m_pImpl->serving.joinable())
    {
        m_pImpl->server.stop();
        m_pImpl->serving.join();
    }
}

bool CMetricsServer::Start(const std::string& host, int iPort, std::function<std::string()> render,
                           std::string* pProblem)
{
    m_pImpl->server.Get(
        "/metrics", [render](const httplib::Request&, httplib::Response& response)
        { response.set_content(render(), "text/plain; version=0.0.4; charset=utf-8"); });
    if (!m_pImpl->server.bind_to_port(host, iPort))
    {
        *pProblem = "cannot listen on " + host + ":" + std::to_string(iPort);
        return false;
    }
    m_pImpl->serving = std::thread([this] { m_pImpl->server.listen_after_bind(); });
    return true;
}
