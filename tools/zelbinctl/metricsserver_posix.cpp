// SPDX-License-Identifier: MIT
// The /metrics page over HTTP/1.1: non-blocking sockets that one thread polls.

#include "metricsserver.h"
#include "threadbase.h"
#include "trace.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// A connection reads no more while this much of its requests waits unanswered.
constexpr size_t INPUT_LIMIT = 2 * CMetricsServer::HEADER_LIMIT;
// Answers a connection gets per turn, so that a pipelining client cannot hold up the others.
constexpr int ANSWERS_PER_TURN = 16;
// Connections taken per listener per turn: a flood of connects leaves room for reading, and a
// backlog of thousands is taken in a few turns.
constexpr int ACCEPTS_PER_TURN = 256;
// Descriptors left to the rest of the program (a look-up, which connects while its own socket,
// events and thread are still open, the connection to the service, new threads, and the
// sanitizers' own pipes in a test build): a connection that takes one of them has the idlest
// connections closed until that many are free again. Eight were too few once the look-up
// connected before closing.
constexpr int SPARE_DESCRIPTORS = 16;

struct SConnection
{
    int fd = -1;
    std::string in;             // received, not yet answered
    std::string out;            // answers not yet sent
    Clock::time_point since;    // the start of what it is waiting for (see Deadline)
    bool bPeerDone = false;     // the peer sent all it will send
    bool bClose = false;        // closed once its answers have left
    bool bMoreToAnswer = false; // complete requests wait for the next turn

    Clock::time_point Deadline(const CMetricsServer::SLimits& limits) const
    {
        if (!out.empty())
            return since + Ms(limits.iWriteTimeoutMs);
        return since + Ms(in.empty() ? limits.iIdleTimeoutMs : limits.iRequestTimeoutMs);
    }
};

struct SRequest
{
    int iStatus = 200; // the answer it gets, when it is not the page
    bool bHead = false;
    bool bClose = false;
    std::string path;
};

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y)
                      {
                          return std::tolower(static_cast<unsigned char>(x)) ==
                                 std::tolower(static_cast<unsigned char>(y));
                      });
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The request line and headers (without the blank line that ends them).
SRequest ParseRequest(std::string_view head)
{
    SRequest r;
    std::vector<std::string_view> lines;
    for (size_t start = 0; start < head.size();)
    {
        const size_t end = std::min(head.find('\n', start), head.size());
        lines.push_back(Trim(head.substr(start, end - start)));
        start = end + 1;
    }
    const std::string_view line = lines.empty() ? std::string_view() : lines[0];
    const size_t space1 = line.find(' ');
    const size_t space2 = line.find(' ', space1 + 1);
    if (space1 == std::string_view::npos || space2 == std::string_view::npos ||
        line.find(' ', space2 + 1) != std::string_view::npos)
        return {400, false, true, {}};
    const std::string_view method = line.substr(0, space1);
    const std::string_view target = line.substr(space1 + 1, space2 - space1 - 1);
    const std::string_view version = line.substr(space2 + 1);
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return {505, false, true, {}};
    r.bClose = version == "HTTP/1.0";
    for (size_t i = 1; i < lines.size(); ++i)
    {
        if (lines[i].empty())
            continue; // the blank line that ends the headers
        const size_t colon = lines[i].find(':');
        if (colon == std::string_view::npos)
            return {400, false, true, {}};
        const std::string_view name = lines[i].substr(0, colon);
        const std::string_view value = Trim(lines[i].substr(colon + 1));
        if (EqualsNoCase(name, "connection"))
            r.bClose =
                EqualsNoCase(value, "close") || (r.bClose && !EqualsNoCase(value, "keep-alive"));
        // A body would have to be read past; this page takes none.
        else if ((EqualsNoCase(name, "content-length") && value != "0") ||
                 EqualsNoCase(name, "transfer-encoding"))
            return {413, false, true, {}};
    }
    r.bHead = method == "HEAD";
    if (method != "GET" && !r.bHead)
        r.iStatus = 405;
    r.path = target.substr(0, target.find('?'));
    if (r.iStatus == 200 && r.path != "/metrics" && r.path != "/")
        r.iStatus = 404;
    return r;
}

const char* Reason(int iStatus)
{
    switch (iStatus)
    {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "HTTP Version Not Supported";
    }
}

std::string Answer(int iStatus, bool bHead, bool bClose, const char* pszType,
                   const std::string& body)
{
    std::string out = "HTTP/1.1 " + std::to_string(iStatus) + " " + Reason(iStatus) +
                      "\r\nContent-Type: " + pszType +
                      "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    if (iStatus == 405)
        out += "Allow: GET, HEAD\r\n";
    if (bClose)
        out += "Connection: close\r\n";
    out += "\r\n";
    if (!bHead)
        out += body;
    return out;
}

// The descriptors open below iLimit.
int OpenDescriptors(int iLimit)
{
    int n = 0;
    for (int fd = 0; fd < iLimit; ++fd)
        n += ::fcntl(fd, F_GETFD) != -1;
    return n;
}

// Where the blank line that ends a request's headers ends; npos while it has not come.
size_t HeaderEnd(const std::string& in)
{
    for (size_t i = in.find('\n'); i != std::string::npos; i = in.find('\n', i + 1))
    {
        const size_t next = i + 1;
        if (next < in.size() && in[next] == '\n')
            return next + 1;
        if (next + 1 < in.size() && in[next] == '\r' && in[next + 1] == '\n')
            return next + 2;
    }
    return std::string::npos;
}

sockaddr_storage BoundAddress(int fd)
{
    sockaddr_storage address{};
    socklen_t n = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &n);
    return address;
}

in_port_t& PortOf(sockaddr_storage& address)
{
    return address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                         : reinterpret_cast<sockaddr_in&>(address).sin_port;
}

std::string AddressText(const sockaddr_storage& address)
{
    char host[NI_MAXHOST] = {}, port[NI_MAXSERV] = {};
    ::getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host,
                  port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
    const bool bV6 = address.ss_family == AF_INET6;
    return std::string(bV6 ? "[" : "") + host + (bV6 ? "]:" : ":") + port;
}
} // namespace

struct CMetricsServer::SImpl : CThreadBase
{
    ~SImpl() override
    {
        Stop();
        Join();
        for (const int fd : listeners)
            ::close(fd); // the thread never ran
    }

    // One socket bound to one address: 0, or the system's error code.
    int Listen(const sockaddr* pAddress, socklen_t iLength)
    {
        const int fd = ::socket(pAddress->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int one = 1, zero = 0;
        // Reuse-address only lets a restart take its port back from closing connections; a
        // second listener on a port in use is refused, since no SO_REUSEPORT is set.
        const bool bDone = fd >= 0 &&
                           ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
                           (pAddress->sa_family != AF_INET6 ||
                            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY,
                                         bAllAddresses ? &zero : &one, sizeof one) == 0) &&
                           ::bind(fd, pAddress, iLength) == 0 && ::listen(fd, SOMAXCONN) == 0;
        const int iError = bDone ? 0 : errno;
        if (!bDone && fd >= 0)
            ::close(fd);
        if (bDone)
            listeners.push_back(fd);
        return iError;
    }

    // Every address of the name (or of the machine) for the port; 0 or the first refusal that
    // counts (-1: the name does not resolve). An address the machine does not have (IPv6
    // switched off) is left out.
    int ListenOn(const char* pszName, int iFamily, int iPort, std::string* pProblem)
    {
        addrinfo hints{};
        hints.ai_family = iFamily;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
        addrinfo* pList = nullptr;
        if (const int r = ::getaddrinfo(pszName, std::to_string(iPort).c_str(), &hints, &pList))
        {
            *pProblem = ::gai_strerror(r);
            return -1;
        }
        int iRefusal = 0;
        for (addrinfo* p = pList; p && !iRefusal; p = p->ai_next)
        {
            sockaddr_storage address{};
            std::memcpy(&address, p->ai_addr, p->ai_addrlen);
            // With port 0 every address takes the port the first one got.
            if (!listeners.empty())
            {
                sockaddr_storage first = BoundAddress(listeners.front());
                PortOf(address) = PortOf(first);
            }
            const int iError = Listen(reinterpret_cast<sockaddr*>(&address), p->ai_addrlen);
            if (iError)
                *pProblem = std::strerror(iError);
            if (iError != EADDRNOTAVAIL && iError != EAFNOSUPPORT)
                iRefusal = iError;
        }
        ::freeaddrinfo(pList);
        return iRefusal;
    }

    void Run() override
    {
        std::string problem;
        try
        {
            Serve();
        }
        catch (const std::exception& error)
        {
            problem = error.what();
        }
        catch (...)
        {
            problem = "an unknown exception";
        }
        // Connections and listeners go with the thread: a client is refused, not kept waiting.
        for (const auto& c : connections)
            ::close(c.fd);
        connections.clear();
        for (const int fd : listeners)
            ::close(fd);
        listeners.clear();
        if (problem.empty())
            return;
        Trace("CMetricsServer::Run: %s; no longer serving.\n", problem.c_str());
        {
            std::lock_guard<std::mutex> g(failureMutex);
            failure = problem;
        }
        failed.Set();
    }

    void Serve()
    {
        std::vector<pollfd> fds;
        std::optional<Clock::time_point> acceptPause;
        for (;;)
        {
            fds.clear();
            fds.push_back({static_cast<int>(GetStopEvent()->GetHandle()), POLLIN, 0});
            const bool bAccept = !acceptPause || Clock::now() >= *acceptPause;
            for (const int fd : listeners)
                fds.push_back({fd, static_cast<short>(bAccept ? POLLIN : 0), 0});
            auto wake = acceptPause && !bAccept ? *acceptPause : Clock::time_point::max();
            bool bBusy = false;
            for (const auto& c : connections)
            {
                short iEvents = c.out.empty() ? 0 : POLLOUT;
                if (!c.bPeerDone && c.in.size() < INPUT_LIMIT && c.out.size() < OUTPUT_LIMIT)
                    iEvents |= POLLIN;
                fds.push_back({c.fd, iEvents, 0});
                wake = std::min(wake, c.Deadline(limits));
                bBusy = bBusy || c.bMoreToAnswer;
            }
            int iTimeout = -1;
            if (bBusy)
                iTimeout = 0;
            else if (wake != Clock::time_point::max())
                iTimeout = static_cast<int>(std::clamp<int64_t>(
                    std::chrono::ceil<Ms>(wake - Clock::now()).count(), 0, 60000));
            if (::poll(fds.data(), fds.size(), iTimeout) < 0 && errno != EINTR)
                throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
            if (fds[0].revents)
                return;
            page.reset(); // rendered at most once a turn, however many ask
            // Connections first: a flood of new ones cannot push back an answer that waits.
            const size_t iFirst = 1 + listeners.size();
            for (size_t i = 0; i < connections.size(); ++i)
                Handle(connections[i], fds[iFirst + i].revents);
            const auto now = Clock::now();
            std::erase_if(connections,
                          [&](const SConnection& c)
                          {
                              const bool bGone = c.fd < 0 || now >= c.Deadline(limits) ||
                                                 (c.bClose && c.out.empty()) ||
                                                 (c.bPeerDone && c.in.empty() && c.out.empty());
                              if (bGone && c.fd >= 0)
                                  ::close(c.fd);
                              return bGone;
                          });
            for (size_t i = 0; i < listeners.size(); ++i)
                if (fds[1 + i].revents & POLLIN)
                    Accept(listeners[i], acceptPause);
        }
    }

    void Accept(int listener, std::optional<Clock::time_point>& acceptPause)
    {
        acceptPause.reset();
        for (int i = 0; i < ACCEPTS_PER_TURN; ++i)
        {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0 &&
                (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM))
            {
                // Out of descriptors: the connection idle longest makes room, or, with none,
                // new ones wait a moment rather than wake this thread at once again.
                if (CloseIdlest())
                    continue;
                acceptPause = Clock::now() + Ms(100);
                return;
            }
            if (fd < 0)
                return; // nothing more waiting, or a peer that gave up first
            if (static_cast<int>(connections.size()) >= limits.iMaxConnections)
                CloseIdlest();
            // Descriptors are handed out lowest first: one of the spare ones means that few are
            // left. The idlest connections give back what the rest of the program needs, and the
            // server keeps to the connections it has from then on.
            const int iSpareFrom = iDescriptorLimit - SPARE_DESCRIPTORS;
            if (fd >= iSpareFrom)
            {
                for (int iOpen = OpenDescriptors(iDescriptorLimit); iOpen > iSpareFrom; --iOpen)
                    if (!CloseIdlest())
                        break;
                limits.iMaxConnections = static_cast<int>(connections.size()) + 1;
            }
            SConnection c;
            c.fd = fd;
            c.since = Clock::now();
            connections.push_back(std::move(c));
        }
    }

    bool CloseIdlest()
    {
        if (connections.empty())
            return false;
        const auto idlest = std::min_element(connections.begin(), connections.end(),
                                             [](const SConnection& a, const SConnection& b)
                                             { return a.since < b.since; });
        // The order of connections means nothing: the last one takes its place.
        ::close(idlest->fd);
        *idlest = std::move(connections.back());
        connections.pop_back();
        return true;
    }

    void Handle(SConnection& c, short iEvents)
    {
        if (iEvents & (POLLIN | POLLHUP | POLLERR))
            Receive(c);
        if (c.fd >= 0)
            AnswerRequests(c);
        if (c.fd >= 0 && !c.out.empty())
            Send(c);
    }

    void Receive(SConnection& c)
    {
        char buffer[16 * 1024];
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n > 0)
        {
            if (c.in.empty() && c.out.empty())
                c.since = Clock::now(); // a request begins
            c.in.append(buffer, static_cast<size_t>(n));
        }
        else if (n == 0)
            c.bPeerDone = true;
        else if (errno != EAGAIN && errno != EINTR)
            Close(c);
    }

    void AnswerRequests(SConnection& c)
    {
        int iAnswered = 0;
        c.bMoreToAnswer = false;
        while (!c.bClose && c.out.size() < OUTPUT_LIMIT && !c.in.empty())
        {
            if (iAnswered == ANSWERS_PER_TURN)
            {
                c.bMoreToAnswer = HeaderEnd(c.in) != std::string::npos;
                return;
            }
            const size_t end = HeaderEnd(c.in);
            if (end == std::string::npos && c.in.size() <= HEADER_LIMIT && !c.bPeerDone)
                return; // the rest is on its way
            if (end == std::string::npos || end > HEADER_LIMIT)
            {
                const bool bTooLong = c.in.size() > HEADER_LIMIT;
                c.in.clear();
                c.bClose = true;
                Queue(c, Answer(bTooLong ? 431 : 400, false, true, "text/plain; charset=utf-8",
                                std::string(Reason(bTooLong ? 431 : 400)) + "\n"));
                return;
            }
            const SRequest r = ParseRequest(std::string_view(c.in).substr(0, end));
            c.in.erase(0, end);
            c.bClose = r.bClose;
            ++iAnswered;
            if (r.iStatus != 200)
                Queue(c, Answer(r.iStatus, r.bHead, r.bClose, "text/plain; charset=utf-8",
                                std::string(Reason(r.iStatus)) + "\n"));
            else if (r.path == "/")
                Queue(c, Answer(200, r.bHead, r.bClose, "text/plain; charset=utf-8",
                                "zelbinctl metrics: the figures are at /metrics\n"));
            else
            {
                if (!page)
                    page = render();
                Queue(c, Answer(200, r.bHead, r.bClose, "text/plain; version=0.0.4; charset=utf-8",
                                *page));
            }
        }
    }

    void Queue(SConnection& c, const std::string& answer)
    {
        if (c.out.empty())
            c.since = Clock::now(); // the write time-out counts from here
        c.out += answer;
    }

    void Send(SConnection& c)
    {
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
        {
            c.out.erase(0, static_cast<size_t>(n));
            c.since = Clock::now(); // progress: what remains gets its own time, or it is idle
        }
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            Close(c);
    }

    static void Close(SConnection& c)
    {
        ::close(c.fd);
        c.fd = -1;
    }

    std::function<std::string()> render;
    std::vector<int> listeners; // the serving thread's once it runs
    std::string url;
    bool bAllAddresses = false;
    SLimits limits;
    int iDescriptorLimit = INT_MAX;
    // Used by the serving thread only, once it runs.
    std::vector<SConnection> connections;
    std::optional<std::string> page;
    CEvent failed;
    mutable std::mutex failureMutex;
    std::string failure; // guarded by failureMutex
};

CMetricsServer::CMetricsServer() : m_pImpl(std::make_unique<SImpl>()) {}

CMetricsServer::~CMetricsServer() = default;

bool CMetricsServer::Start(const std::string& host, int iPort, std::function<std::string()> render,
                           std::string* pProblem, const SLimits& limits)
{
    SImpl& s = *m_pImpl;
    s.render = std::move(render);
    s.limits = limits;
    std::string name = host;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    s.bAllAddresses = name.empty();
    std::string problem;
    // Every address: "::" takes IPv4 as well where the system has IPv6, else "0.0.0.0".
    bool bRefused = false;
    if (!s.bAllAddresses)
        bRefused = s.ListenOn(name.c_str(), AF_UNSPEC, iPort, &problem) != 0;
    else if (s.ListenOn(nullptr, AF_INET6, iPort, &problem) > 0)
        bRefused = true;
    else if (s.listeners.empty())
        bRefused = s.ListenOn(nullptr, AF_INET, iPort, &problem) != 0;
    if (bRefused || s.listeners.empty())
    {
        *pProblem = "cannot listen on " + host + ":" + std::to_string(iPort) + ": " + problem;
        return false;
    }
    // Descriptors for the connections, beside those the rest of the program holds.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < INT_MAX)
    {
        s.limits.iMaxConnections = static_cast<int>(
            std::clamp<rlim_t>(limit.rlim_cur / 2, 1, static_cast<rlim_t>(limits.iMaxConnections)));
        s.iDescriptorLimit = static_cast<int>(limit.rlim_cur);
    }
    s.url = "http://" + AddressText(BoundAddress(s.listeners.front())) + "/metrics";
    try
    {
        s.Start();
    }
    catch (...)
    {
        *pProblem = "cannot start the HTTP server's thread";
        return false;
    }
    return true;
}

std::string CMetricsServer::GetUrl() const
{
    return m_pImpl->url;
}

CWaitHandle& CMetricsServer::GetFailedEvent()
{
    return m_pImpl->failed;
}

std::string CMetricsServer::GetFailure() const
{
    std::lock_guard<std::mutex> g(m_pImpl->failureMutex);
    return m_pImpl->failure;
}
