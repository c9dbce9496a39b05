// SPDX-License-Identifier: MIT
// Connections and look-up of the stand-in service.

#include "servicenetwork.h"
#include "catalogue.h"
#include "exceptions.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <utility>

CServiceConnection::CServiceConnection(CServiceNetwork* pNetwork, IServiceMessageHandler* pHandler,
                                       int iNumber, int iRegistrationTimeoutMs)
    : m_pNetwork(pNetwork), m_pHandler(pHandler), m_iNumber(iNumber),
      m_iRegistrationDeadline(SteadyNowMs() + iRegistrationTimeoutMs)
{
}

void CServiceConnection::OnDisconnected()
{
    m_pNetwork->OnClientGone(this);
}

bool CServiceConnection::MayComplain(uint64_t& iSuppressed)
{
    const int64_t iSecond = SteadyNowMs() / 1000;
    if (iSecond != m_iComplaintSecond)
    {
        m_iComplaintSecond = iSecond;
        m_iComplaints = 0;
    }
    if (++m_iComplaints > MAX_COMPLAINTS_PER_SECOND)
    {
        ++m_iSuppressed;
        return false;
    }
    iSuppressed = std::exchange(m_iSuppressed, 0);
    return true;
}

CServiceNetwork::CServiceNetwork(const ServiceOptions& options, CServiceLog& log,
                                 CConnectionManager& manager)
    : m_options(options), m_log(log), m_manager(manager)
{
    try
    {
        auto pListener = std::make_unique<CListenSocket>(m_options.iPort);
        m_iPort = pListener->GetPort();
        m_pListener = std::move(pListener);
        m_pLookup = std::make_unique<CMulticastSocket>(
            m_options.lookup.group.c_str(), m_options.lookup.port, SERVICE_LOCATOR_INTERFACE,
            SERVICE_LOCATOR_TTL);
        m_pLookup->CreateReadNetworkEvent();
    }
    catch (CExceptionBase& error)
    {
        throw std::runtime_error(std::string("cannot listen: ") +
                                 (error.GetErrorText() ? error.GetErrorText() : "?"));
    }
}

CServiceNetwork::~CServiceNetwork()
{
    Stop();
}

void CServiceNetwork::Start(IServiceMessageHandler* pHandler)
{
    m_pHandler = pHandler;
    m_pTask = std::make_unique<CServiceTask>([this](CEvent* pStop) { Serve(pStop); });
}

void CServiceNetwork::Stop()
{
    m_pTask.reset();
}

void CServiceNetwork::Serve(CEvent* pStop)
{
    using Clock = std::chrono::steady_clock;
    // The listener comes last, so that it can be left out of the wait while accepting is paused.
    CWaitHandle* handles[3] = {pStop, m_pLookup->GetNetworkEvent(), m_pListener->GetNetworkEvent()};
    Announce(); // clients that wait for us connect at once
    auto next = Clock::now() + std::chrono::milliseconds(m_options.iAnnounceIntervalMs);
    for (;;)
    {
        const int64_t iNow = SteadyNowMs();
        const bool bAccepting = iNow >= m_iAcceptPausedUntil;
        int64_t iWake = NextRegistrationDeadline();
        if (!bAccepting && (iWake == 0 || m_iAcceptPausedUntil < iWake))
            iWake = m_iAcceptPausedUntil;
        if (m_options.iAnnounceIntervalMs > 0)
        {
            const int64_t iAnnounce =
                iNow +
                std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
            if (iWake == 0 || iAnnounce < iWake)
                iWake = iAnnounce;
        }
        const int iTimeout = iWake == 0
                                 ? WAIT_INFINITE
                                 : static_cast<int>(std::max<int64_t>(0, iWake - SteadyNowMs()));
        const int r = CThreadBase::WaitForEvents(handles, bAccepting ? 3 : 2, iTimeout);
        if (r == 0 || r == WAIT_FAILED_RESULT)
            break;
        if (r == 2 && (m_pListener->GetNetworkEvent()->Enumerate() & SOCKET_EVENT_ACCEPT))
            Accept();
        if (r == 1 && (m_pLookup->GetNetworkEvent()->Enumerate() & SOCKET_EVENT_READ))
            AnswerLookup();
        CloseUnregistered();
        if (m_options.iAnnounceIntervalMs > 0 && Clock::now() >= next)
        {
            Announce();
            next = Clock::now() + std::chrono::milliseconds(m_options.iAnnounceIntervalMs);
        }
    }
}

void CServiceNetwork::Accept()
{
    int iError = 0;
    CStreamSocket* pAccepted = static_cast<CListenSocket*>(m_pListener.get())->Accept(&iError);
    if (!pAccepted)
    {
        // Out of descriptors (or memory), the listener stays readable: pause accepting for a
        // while instead of spinning on it. A peer that merely gave up needs no pause.
        if (!CListenSocket::IsTransientAcceptError(iError))
        {
            m_iAcceptPausedUntil = SteadyNowMs() + ACCEPT_PAUSE_MS;
            CSystemException error(iError);
            const char* pszText = error.GetErrorText();
            m_log.Write(LOG_DEBUG,
                        "Cannot accept a connection (" + std::string(pszText ? pszText : "?") +
                            "); accepting again in " + std::to_string(ACCEPT_PAUSE_MS) + " ms");
        }
        return;
    }
    CRefPtr<CMessagingSocket> pSocket(new CMessagingSocket(pAccepted));
    // The handshake goes first, unframed: the service identifier.
    if (!pSocket->WriteFully(SERVICE_IDENTIFIER, 16, 1000))
    {
        m_log.Write(LOG_DEBUG, "A connection closed before it took the handshake");
        return;
    }
    CRefPtr<CServiceConnection> pConnection;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        pConnection = new CServiceConnection(this, m_pHandler, m_iNextClient++,
                                             m_options.iRegistrationTimeoutMs);
        m_clients.push_back(pConnection);
    }
    m_log.Write(LOG_VERBOSE, "Client " + std::to_string(pConnection->GetNumber()) + " connected");
    if (!m_manager.AttachSocket(pConnection.Get(), pSocket.Get()))
        OnClientGone(pConnection.Get());
}

int64_t CServiceNetwork::NextRegistrationDeadline()
{
    int64_t iNext = 0;
    std::lock_guard<std::mutex> g(m_mutex);
    for (const auto& pClient : m_clients)
        if (!pClient->m_bRegistered && (iNext == 0 || pClient->GetRegistrationDeadline() < iNext))
            iNext = pClient->GetRegistrationDeadline();
    return iNext;
}

void CServiceNetwork::CloseUnregistered()
{
    const int64_t iNow = SteadyNowMs();
    std::vector<CRefPtr<CServiceConnection>> late;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        for (const auto& pClient : m_clients)
            if (!pClient->m_bRegistered && pClient->GetRegistrationDeadline() <= iNow)
                late.push_back(pClient);
    }
    for (auto& pClient : late)
    {
        m_log.Write(LOG_DEBUG,
                    "Client " + std::to_string(pClient->GetNumber()) + " did not register within " +
                        std::to_string(m_options.iRegistrationTimeoutMs) + " ms; closed");
        m_manager.DetachClient(pClient.Get());
    }
}

void CServiceNetwork::AnswerLookup()
{
    uint8_t datagram[1024];
    const int n = m_pLookup->Receive(datagram, sizeof datagram);
    if (IsLookupRequest(datagram, n, SERVICE_IDENTIFIER))
        Announce();
}

void CServiceNetwork::Announce()
{
    uint8_t reply[SERVICE_LOOKUP_REPLY_SIZE];
    BuildLookupReply(SERVICE_IDENTIFIER, m_iPort, reply);
    m_pLookup->SendTo(m_options.lookup.group.c_str(), m_options.lookup.port, reply, sizeof reply);
}

void CServiceNetwork::DetachAll()
{
    std::vector<CRefPtr<CServiceConnection>> clients;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        clients = m_clients;
    }
    for (auto& pClient : clients)
        m_manager.DetachClient(pClient.Get());
}

void CServiceNetwork::Broadcast(IMessage* pMessage)
{
    std::vector<CRefPtr<CServiceConnection>> clients;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        clients = m_clients;
    }
    for (auto& pClient : clients)
        if (pClient->m_bRegistered)
            pClient->Send(pMessage);
}

size_t CServiceNetwork::GetClientCount()
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_clients.size();
}

void CServiceNetwork::OnClientGone(CServiceConnection* pConnection)
{
    bool bFound = false;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                     [&](const auto& p) { return p.Get() == pConnection; });
        if (it != m_clients.end())
        {
            bFound = true;
            m_clients.erase(it);
        }
    }
    if (bFound)
        m_log.Write(LOG_VERBOSE,
                    "Client " + std::to_string(pConnection->GetNumber()) + " disconnected");
}
