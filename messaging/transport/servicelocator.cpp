// SPDX-License-Identifier: MIT
// The look-up datagrams, the locator thread and the bounded look-up.

#include "servicelocator.h"
#include "exceptions.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

namespace
{
void PutUInt32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t GetUInt32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// A persistently failing wait would spin; after this many in a row the locator gives up and
// reports 0, which its owner treats as "not found".
constexpr int MAX_WAIT_FAILURES = 100;
} // namespace

void BuildLookupRequest(const uint8_t identifier[16], uint8_t out[SERVICE_LOOKUP_REQUEST_SIZE])
{
    PutUInt32(out, SERVICE_LOOKUP_REQUEST);
    std::memcpy(out + 4, identifier, 16);
}

void BuildLookupReply(const uint8_t identifier[16], uint16_t iPort,
                      uint8_t out[SERVICE_LOOKUP_REPLY_SIZE])
{
    PutUInt32(out, SERVICE_LOOKUP_REPLY);
    std::memcpy(out + 4, identifier, 16);
    out[20] = static_cast<uint8_t>(iPort >> 8);
    out[21] = static_cast<uint8_t>(iPort);
}

uint16_t ParseLookupReply(const uint8_t* pData, int iLength, const uint8_t identifier[16])
{
    if (!pData || iLength != SERVICE_LOOKUP_REPLY_SIZE ||
        GetUInt32(pData) != SERVICE_LOOKUP_REPLY || std::memcmp(pData + 4, identifier, 16) != 0)
        return 0;
    return static_cast<uint16_t>((pData[20] << 8) | pData[21]);
}

bool IsLookupRequest(const uint8_t* pData, int iLength, const uint8_t identifier[16])
{
    return pData && iLength == SERVICE_LOOKUP_REQUEST_SIZE &&
           GetUInt32(pData) == SERVICE_LOOKUP_REQUEST &&
           std::memcmp(pData + 4, identifier, 16) == 0;
}

CServiceLocator::CServiceLocator(const char* pszHost, const uint8_t identifier[16],
                                 IServiceLocatorListener* pListener,
                                 const CLocatorEndpoint& endpoint)
    : m_pSocket(std::make_unique<CMulticastSocket>(endpoint.group.c_str(), endpoint.port,
                                                   SERVICE_LOCATOR_INTERFACE, SERVICE_LOCATOR_TTL)),
      m_host(pszHost ? pszHost : ""), m_pListener(pListener), m_endpoint(endpoint)
{
    m_pSocket->CreateReadNetworkEvent();
    std::memcpy(m_identifier, identifier, 16);
}

CServiceLocator::~CServiceLocator()
{
    Stop();
    Join();
}

void CServiceLocator::SendLookupRequest()
{
    if (!m_pRequest)
    {
        m_pRequest = std::make_unique<uint8_t[]>(SERVICE_LOOKUP_REQUEST_SIZE);
        BuildLookupRequest(m_identifier, m_pRequest.get());
    }
    for (int i = 0; i < 3; ++i)
        if (m_pSocket->SendTo(m_endpoint.group.c_str(), m_endpoint.port, m_pRequest.get(),
                              SERVICE_LOOKUP_REQUEST_SIZE) == SERVICE_LOOKUP_REQUEST_SIZE)
            break;
}

void CServiceLocator::Run()
{
    CWaitHandle* handles[2] = {GetStopEvent(), m_pSocket->GetNetworkEvent()};
    uint16_t iPort = 0;
    int iFailures = 0;
    for (bool bWaiting = true; bWaiting;)
    {
        const int r = WaitForEvents(handles, 2, WAIT_INFINITE);
        if (r == 0)
            break;
        if (r != 1)
        {
            bWaiting = ++iFailures < MAX_WAIT_FAILURES;
            continue;
        }
        iFailures = 0;
        const uint8_t iEvents = m_pSocket->GetNetworkEvent()->Enumerate();
        if (iEvents & (SOCKET_EVENT_ERROR | SOCKET_EVENT_CLOSE))
            break;
        if (iEvents & SOCKET_EVENT_READ)
        {
            uint8_t datagram[1024];
            const int n = m_pSocket->Receive(datagram, sizeof datagram);
            iPort = ParseLookupReply(datagram, n, m_identifier);
            if (iPort != 0 && m_pListener && !m_pListener->TryServicePort(iPort))
                iPort = 0;
            bWaiting = iPort == 0;
        }
    }
    if (m_pListener)
        m_pListener->OnServicePortFound(iPort);
}

namespace
{
// Collects the ports that answer; it takes none, so the locator keeps listening. m_lock guards
// the ports; under it only the found event is set.
class CFoundListener : public IServiceLocatorListener
{
public:
    bool TryServicePort(uint16_t iPort) override
    {
        CAutoLock lock(m_lock);
        if (std::find(m_ports.begin(), m_ports.end(), iPort) == m_ports.end())
            m_ports.push_back(iPort);
        m_found.Set();
        return false;
    }
    void OnServicePortFound(uint16_t) override {}
    std::vector<uint16_t> GetPorts()
    {
        CAutoLock lock(m_lock);
        return m_ports;
    }
    CEvent m_found;

private:
    CCriticalSection m_lock;
    std::vector<uint16_t> m_ports;
};

} // namespace

uint16_t FindServicePort(const char* pszHost, const uint8_t identifier[16], int iTimeoutMs,
                         const std::function<bool(uint16_t)>& tryPort, CEvent* pCancel,
                         const CLocatorEndpoint& endpoint)
{
    try
    {
        CFoundListener listener;
        CServiceLocator locator(pszHost, identifier, &listener, endpoint);
        locator.Start();
        CWaitHandle* handles[2] = {&listener.m_found, pCancel};
        const int iHandles = pCancel ? 2 : 1;
        size_t iOffered = 0;
        for (int i = 0; i < 3; ++i)
        {
            locator.SendLookupRequest();
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs / 3);
            // Answers are offered as they come until the request's wait is over, so that no
            // flood of answers holds the look-up longer; those left wait for the next request.
            for (bool bWaiting = true; bWaiting;)
            {
                const int r =
                    CThreadBase::WaitForEvents(handles, iHandles, RemainingMs(deadline, 0));
                if (r == 1)
                    return 0;
                listener.m_found.Reset(); // before reading: a port added after it sets it again
                const std::vector<uint16_t> ports = listener.GetPorts();
                // The first new answer is tried even when it comes at the very end of the wait.
                for (bWaiting = r == 0; bWaiting && iOffered < ports.size();)
                {
                    const uint16_t iPort = ports[iOffered++];
                    if (tryPort(iPort))
                        return iPort;
                    bWaiting = RemainingMs(deadline, 0) > 0;
                }
                bWaiting = bWaiting && RemainingMs(deadline, 0) > 0;
            }
        }
    }
    catch (CExceptionBase& error)
    {
        error.Report();
    }
    return 0;
}

uint16_t FindServicePort(const char* pszHost, const uint8_t identifier[16], int iTimeoutMs,
                         const CLocatorEndpoint& endpoint)
{
    return FindServicePort(
        pszHost, identifier, iTimeoutMs, [](uint16_t) { return true; }, nullptr, endpoint);
}
