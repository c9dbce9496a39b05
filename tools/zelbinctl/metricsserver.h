// SPDX-License-Identifier: MIT
// zelbinctl metrics --listen: serves /metrics over HTTP/1.1 on a thread of its own. One thread
// polls every connection, so no client, however slow or many, holds up another's scrape:
//   - at most 512 connections; a new one beyond that closes the one idle longest;
//   - a request must arrive whole within 5 s of its first byte, an idle connection is closed
//     after 60 s, a reader that takes nothing for 10 s is closed;
//   - pipelined requests are answered in order, a few per connection per turn, and a connection
//     whose answers wait unread above OUTPUT_LIMIT is not read from until they leave;
//   - headers above HEADER_LIMIT, a request with a body, or not HTTP/1.x end the connection
//     after one error answer.
// Written for this page alone (GET and HEAD of /metrics, and / that points there) because the
// thread pool of cpp-httplib gave every worker to 16 slow clients.
#pragma once

#include "waithandle.h"

#include <functional>
#include <memory>
#include <string>

// The bounds on what any one client may cost; an owner (a test) may choose shorter ones.
struct SServerLimits
{
    int iMaxConnections = 512;
    int iRequestTimeoutMs = 5000;
    int iIdleTimeoutMs = 60000;
    int iWriteTimeoutMs = 10000;
};

class CMetricsServer
{
public:
    using SLimits = SServerLimits;
    static constexpr size_t HEADER_LIMIT = 8192;
    static constexpr size_t OUTPUT_LIMIT = 64 * 1024;

    CMetricsServer();
    ~CMetricsServer(); // stops serving and joins the thread
    CMetricsServer(const CMetricsServer&) = delete;
    CMetricsServer& operator=(const CMetricsServer&) = delete;

    // Binds host:port (an empty host: every address of the machine, IPv6 and IPv4; port 0: any
    // free one) without sharing the port with another program, and serves render()'s text.
    // False with *pProblem set when the address cannot be taken or this build cannot serve HTTP.
    bool Start(const std::string& host, int iPort, std::function<std::string()> render,
               std::string* pProblem, const SLimits& limits = {});
    // Where it listens, as a URL of the page: "http://127.0.0.1:9464/metrics".
    std::string GetUrl() const;
    // Signalled when the serving thread has ended by itself, because something it did failed
    // beyond one connection; GetFailure says what.
    CWaitHandle& GetFailedEvent();
    std::string GetFailure() const;

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_pImpl;
};
