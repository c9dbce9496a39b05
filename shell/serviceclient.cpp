// SPDX-License-Identifier: MIT
// The service client and its implementation object.

#include "serviceclient.h"
#include "clientobject.h"
#include "connectionmanager.h"
#include "exceptions.h"
#include "requestworker.h"
#include "servicelocator.h"

#include <atomic>
#include <deque>
#include <new>
#include <thread>

namespace
{
// Shared by every service client of the process; guarded by ManagerLock().
CConnectionManager* g_pManager = nullptr;
int g_iManagerUsers = 0;

CCriticalSection& ManagerLock()
{
    static CCriticalSection lock;
    return lock;
}
} // namespace

// Threads: the owner's thread (construction, requests, ProcessMessages, teardown); the dispatch
// thread (OnMessage, OnDisconnected and the reconnection it starts); the locator thread
// (OnServicePortFound and the connection it makes). m_queueLock guards the inbound queue only
// and is never held while a handler or the sink runs; m_locatorLock guards m_pLocator.
class CServiceClientImpl : public IClientListener, public IServiceLocatorListener
{
public:
    explicit CServiceClientImpl(CServiceClient::EStart eStart);
    ~CServiceClientImpl() override;
    bool WasConnectedAtStart() const { return m_bConnectedAtStart; }
    bool IsStarting() const { return m_bStarting; }
    std::atomic<int> m_iRequestTimeoutMs{SERVICE_REQUEST_TIMEOUT_MS};
    void CancelRequests()
    {
        if (m_pEndpoint)
            m_pEndpoint->AbandonRequests();
    }
    void SendInBackground()
    {
        if (!m_pSender)
            m_pSender = std::make_unique<CRequestWorker>();
    }

    void SetEventSink(IServiceClientEvents* pSink);
    bool IsConnected() const { return m_pEndpoint && m_pEndpoint->IsConnected(); }
    uint32_t ProcessMessages(int32_t iMaxCount);
    void SendReceiverCommand(uint32_t iReceiverID, const std::u16string& text);
    bool GetLogFilePath(std::u16string& path);
    void SetLogMask(uint32_t iMask);
    bool GetLogMask(uint32_t& iMask);
    void ClearLog();

    // IClientListener
    void OnMessage(CByteBuffer* pBuffer) override;
    void OnConnected() override
    {
        if (m_bStarting)
            m_bConnectedAtStart = true;
        QueueLocalEvent(ConnectedEvent);
    }
    void OnDisconnected() override;
    // IServiceLocatorListener
    void OnServicePortFound(uint16_t iPort) override;
    bool TryServicePort(uint16_t iPort) override { return ConnectTo(iPort); }

private:
    using Handler = void (CServiceClientImpl::*)(uint32_t, CByteBuffer*);

    bool Connect();
    bool ConnectTo(uint16_t iPort);
    void QueueLocalEvent(uint32_t iId);
    // A one-way message, from this thread or from the sender's.
    void SendOneWay(CRefPtr<IMessage> pMessage);
    void SendAndWait(CRequestMessage* pRequest, CRefPtr<CByteBuffer>& pResponse);
    // Whether the buffer is the event iEvent, for which the handler of iId was called.
    static bool ReadsAsEvent(uint32_t iId, uint32_t iEvent, CByteBuffer* pBuffer);
    void OnReceiverStatusMessage(uint32_t iId, CByteBuffer* pBuffer);
    void OnLogUpdatedMessage(uint32_t iId, CByteBuffer* pBuffer);
    void OnConnectedMessage(uint32_t iId, CByteBuffer* pBuffer);
    void OnDisconnectedMessage(uint32_t iId, CByteBuffer* pBuffer);

    CRefPtr<CClientEndpoint> m_pEndpoint;
    std::unique_ptr<CServiceLocator> m_pLocator;
    CCriticalSection m_locatorLock;
    std::atomic<bool> m_bClosing{false};
    CEvent m_closingEvent; // set with m_bClosing: a look-up under way ends at once
    CCriticalSection m_queueLock;
    std::deque<CRefPtr<CByteBuffer>> m_queue;
    Handler m_dispatchTable[SERVICE_DISPATCH_TABLE_SIZE] = {};
    const uint32_t m_iDispatchTableSize = SERVICE_DISPATCH_TABLE_SIZE;
    std::atomic<IServiceClientEvents*> m_pSink{nullptr};
    std::atomic<bool> m_bStarting{true};
    std::atomic<bool> m_bConnectedAtStart{false};
    std::thread m_starter; // the first connection attempt, when it runs in the background
    std::unique_ptr<CRequestWorker> m_pSender; // set once, by the owner, before it sends
};

CServiceClientImpl::CServiceClientImpl(CServiceClient::EStart eStart)
{
    MakeClientEndpoint(m_pEndpoint, this);
    const std::pair<uint32_t, Handler> handlers[] = {
        {ReceiverStatusEvent, &CServiceClientImpl::OnReceiverStatusMessage},
        {LogUpdatedEvent, &CServiceClientImpl::OnLogUpdatedMessage},
        {ConnectedEvent, &CServiceClientImpl::OnConnectedMessage},
        {DisconnectedEvent, &CServiceClientImpl::OnDisconnectedMessage},
    };
    for (const auto& [iId, handler] : handlers)
        if (iId < m_iDispatchTableSize)
            m_dispatchTable[iId] = handler;

    CAutoLock lock(ManagerLock());
    if (!g_pManager)
        g_pManager = new (std::nothrow) CConnectionManager();
    if (!g_pManager || !m_pEndpoint)
    {
        m_bStarting = false;
        return;
    }
    ++g_iManagerUsers;
    if (eStart == CServiceClient::EStart::Background)
    {
        // A window must show at once whatever the service does; the manager stays while this
        // client counts as its user, so the attempt needs no process-wide lock.
        m_starter = std::thread(
            [this]
            {
                Connect();
                m_bStarting = false;
            });
        return;
    }
    Connect();
    m_bStarting = false;
}

CServiceClientImpl::~CServiceClientImpl()
{
    m_bClosing = true;
    m_closingEvent.Set();
    m_pSink = nullptr;
    if (m_starter.joinable())
        m_starter.join(); // a look-up under way ends at once
    if (m_pSender)
        m_pSender->Finish(); // what was asked for goes out before the goodbye
    if (m_pEndpoint)
    {
        m_pEndpoint->AllowRequests(); // the goodbye waits for its answer, as it always did
        CRefPtr<CEmptyRequest> pClosing;
        MakeEmptyRequest(pClosing, ClientClosingRequest, ClientClosingResponse);
        CRefPtr<CByteBuffer> pResponse;
        if (pClosing)
            SendAndWait(pClosing.Get(), pResponse);
        CRefPtr<CEmptyResponse> pReader;
        MakeEmptyResponse(pReader, ClientClosingResponse, ClientClosingRequest);
        if (pResponse && pReader)
            pReader->Deserialise(
                pResponse.Get()); // read, as the protocol asks; nothing in it is used
    }
    // The locator goes before the manager: a locator that has just found the service connects
    // on its own thread through the manager, so it must have finished before the manager ends.
    {
        CAutoLock lock(m_locatorLock);
        m_pLocator.reset();
    }
    CAutoLock lock(ManagerLock());
    if (g_pManager && m_pEndpoint)
        g_pManager->DetachClient(m_pEndpoint.Get());
    if (m_pEndpoint)
        m_pEndpoint->SetListener(nullptr);
    {
        CAutoLock queueLock(m_queueLock);
        m_queue.clear();
    }
    if (g_pManager && m_pEndpoint && --g_iManagerUsers < 1)
    {
        delete g_pManager;
        g_pManager = nullptr;
        g_iManagerUsers = 0;
    }
}

bool CServiceClientImpl::Connect()
{
    if (m_bClosing)
        return false;
    // Every service that answers is tried in turn; when none takes the connection, the client
    // goes on waiting for an announcement, as when none answered.
    if (FindServicePort(
            SERVICE_HOST, SERVICE_IDENTIFIER, SERVICE_LOOKUP_TIMEOUT_MS,
            [this](uint16_t iPort) { return ConnectTo(iPort); }, &m_closingEvent))
        return true;
    try
    {
        auto pLocator = std::make_unique<CServiceLocator>(SERVICE_HOST, SERVICE_IDENTIFIER, this);
        CAutoLock lock(m_locatorLock);
        if (m_bClosing)
            return false;
        m_pLocator = std::move(pLocator);
        m_pLocator->Start();
    }
    catch (CExceptionBase& error)
    {
        error.Report();
    }
    return false;
}

bool CServiceClientImpl::ConnectTo(uint16_t iPort)
{
    CConnectionManager* pManager = g_pManager;
    return pManager && !m_bClosing &&
           pManager->ConnectClientObject(m_pEndpoint.Get(), SERVICE_HOST, iPort, SERVICE_IDENTIFIER,
                                         true);
}

// The locator has connected already, through TryServicePort: a port is reported only once a
// connection to it was made.
void CServiceClientImpl::OnServicePortFound(uint16_t) {}

void CServiceClientImpl::OnDisconnected()
{
    QueueLocalEvent(DisconnectedEvent);
    {
        CAutoLock lock(m_locatorLock);
        m_pLocator.reset();
    }
    if (!m_bClosing)
        Connect();
}

void CServiceClientImpl::QueueLocalEvent(uint32_t iId)
{
    CRefPtr<CEmptyMessage> pEvent;
    MakeEmptyMessage(pEvent, iId);
    CRefPtr<CByteBuffer> pBuffer;
    if (pEvent)
        pEvent->Serialise(pBuffer);
    if (pBuffer)
        OnMessage(pBuffer.Get());
}

void CServiceClientImpl::OnMessage(CByteBuffer* pBuffer)
{
    {
        CAutoLock lock(m_queueLock);
        m_queue.emplace_back(pBuffer);
    }
    // Without a sink the message waits for one: what the service sends while the owner is
    // still being built (the receiver list right after registration) is not lost.
    IServiceClientEvents* pSink = m_pSink;
    if (!pSink || pSink->OnMessagesPending())
        return;
    ProcessMessages(-1);
}

void CServiceClientImpl::SetEventSink(IServiceClientEvents* pSink)
{
    m_pSink = pSink;
    if (!pSink || m_bClosing)
        return;
    {
        CAutoLock lock(m_queueLock);
        if (m_queue.empty())
            return;
    }
    // Messages that came before the sink: handed over now, as if they had just arrived.
    if (!pSink->OnMessagesPending())
        ProcessMessages(-1);
}

uint32_t CServiceClientImpl::ProcessMessages(int32_t iMaxCount)
{
    size_t iLeft = 0;
    while (iMaxCount != 0)
    {
        CRefPtr<CByteBuffer> pBuffer;
        {
            CAutoLock lock(m_queueLock);
            if (m_queue.empty())
                return 0;
            pBuffer = m_queue.front();
            m_queue.pop_front();
            iLeft = m_queue.size();
            if (iMaxCount > 0)
                --iMaxCount;
        }
        const uint32_t iId = PeekMessageID(pBuffer.Get());
        if (iId < m_iDispatchTableSize && m_dispatchTable[iId])
            (this->*m_dispatchTable[iId])(iId, pBuffer.Get());
    }
    return static_cast<uint32_t>(iLeft);
}

void CServiceClientImpl::OnReceiverStatusMessage(uint32_t iId, CByteBuffer* pBuffer)
{
    if (iId != ReceiverStatusEvent)
        return;
    CRefPtr<CReceiverListMessage> pList;
    MakeReceiverListMessage(pList, ReceiverStatusEvent, nullptr, 0);
    IServiceClientEvents* pSink = m_pSink;
    if (!pList || !pList->Deserialise(pBuffer) || !pSink)
        return;
    const ReceiverRecord* pRecords = nullptr;
    const int32_t iCount = pList->GetRecords(&pRecords);
    for (int32_t i = 0; i < iCount; ++i)
        pSink->OnReceiverStatus(pRecords[i].iReceiverID, pRecords[i].iState, pRecords[i].szName);
}

bool CServiceClientImpl::ReadsAsEvent(uint32_t iId, uint32_t iEvent, CByteBuffer* pBuffer)
{
    CRefPtr<CEmptyMessage> pEvent;
    MakeEmptyMessage(pEvent, iEvent);
    return iId == iEvent && pEvent && pEvent->Deserialise(pBuffer);
}

void CServiceClientImpl::OnLogUpdatedMessage(uint32_t iId, CByteBuffer* pBuffer)
{
    IServiceClientEvents* pSink = m_pSink;
    if (ReadsAsEvent(iId, LogUpdatedEvent, pBuffer) && pSink)
        pSink->OnLogUpdated();
}

void CServiceClientImpl::OnConnectedMessage(uint32_t iId, CByteBuffer* pBuffer)
{
    IServiceClientEvents* pSink = m_pSink;
    if (ReadsAsEvent(iId, ConnectedEvent, pBuffer) && pSink)
        pSink->OnConnected();
}

void CServiceClientImpl::OnDisconnectedMessage(uint32_t iId, CByteBuffer* pBuffer)
{
    IServiceClientEvents* pSink = m_pSink;
    if (ReadsAsEvent(iId, DisconnectedEvent, pBuffer) && pSink)
        pSink->OnDisconnected();
}

void CServiceClientImpl::SendOneWay(CRefPtr<IMessage> pMessage)
{
    if (!pMessage || !m_pEndpoint)
        return;
    if (!m_pSender)
        return m_pEndpoint->Send(pMessage.Get());
    m_pSender->Post([this, pMessage] { m_pEndpoint->Send(pMessage.Get()); });
}

void CServiceClientImpl::SendAndWait(CRequestMessage* pRequest, CRefPtr<CByteBuffer>& pResponse)
{
    if (m_pSender)
        m_pSender->WaitIdle(); // the one-way messages asked for before go first
    if (m_pEndpoint)
        m_pEndpoint->SendRequest(pRequest, pResponse, m_iRequestTimeoutMs);
}

void CServiceClientImpl::SendReceiverCommand(uint32_t iReceiverID, const std::u16string& text)
{
    CArgumentList arguments;
    arguments.Pack(2, ARG_UINT32, iReceiverID, ARG_WSTRING, text.c_str());
    CRefPtr<CArgumentListMessage> pCommand;
    MakeArgumentListMessage(pCommand, ReceiverCommand, &arguments);
    SendOneWay(CRefPtr<IMessage>(pCommand.Get()));
}

bool CServiceClientImpl::GetLogFilePath(std::u16string& path)
{
    CRefPtr<CEmptyRequest> pRequest;
    MakeEmptyRequest(pRequest, GetLogFileRequest, GetLogFileResponse);
    CRefPtr<CByteBuffer> pResponse;
    if (pRequest)
        SendAndWait(pRequest.Get(), pResponse);
    if (!pResponse)
        return false;
    CRefPtr<CStringResponse> pPath;
    MakeStringResponse(pPath, GetLogFileResponse, GetLogFileRequest, nullptr);
    if (pPath)
        pPath->Deserialise(pResponse.Get());
    path = pPath && pPath->GetText() ? pPath->GetText() : u"";
    return true;
}

void CServiceClientImpl::SetLogMask(uint32_t iMask)
{
    CRefPtr<CIntegerListMessage> pMask;
    MakeIntegerListMessage(pMask, SetLogMaskMessage, 1, &iMask);
    SendOneWay(CRefPtr<IMessage>(pMask.Get()));
}

bool CServiceClientImpl::GetLogMask(uint32_t& iMask)
{
    iMask = 0;
    CRefPtr<CEmptyRequest> pRequest;
    MakeEmptyRequest(pRequest, GetLogMaskRequest, GetLogMaskResponse);
    CRefPtr<CByteBuffer> pResponse;
    if (pRequest)
        SendAndWait(pRequest.Get(), pResponse);
    CRefPtr<CArgumentListResponse> pMask;
    MakeArgumentListResponse(pMask, GetLogMaskResponse, GetLogMaskRequest, nullptr);
    // A failed read leaves the list empty: Unpack fails.
    if (!pResponse || !pMask || !pMask->Deserialise(pResponse.Get()) ||
        !pMask->GetArguments().Unpack(1, ARG_UINT32, &iMask))
    {
        iMask = 0;
        return false;
    }
    return true;
}

void CServiceClientImpl::ClearLog()
{
    CRefPtr<CEmptyMessage> pClear;
    MakeEmptyMessage(pClear, ClearLogMessage);
    SendOneWay(CRefPtr<IMessage>(pClear.Get()));
}

// --- the handle --------------------------------------------------------------------------------

CServiceClient::CServiceClient(EStart eStart)
    : m_pImpl(std::make_unique<CServiceClientImpl>(eStart))
{
}
bool CServiceClient::WasConnectedAtStart() const
{
    return m_pImpl->WasConnectedAtStart();
}
void CServiceClient::SetRequestTimeout(int iMilliseconds)
{
    m_pImpl->m_iRequestTimeoutMs = iMilliseconds;
}
int CServiceClient::GetRequestTimeout() const
{
    return m_pImpl->m_iRequestTimeoutMs;
}
bool CServiceClient::IsStarting() const
{
    return m_pImpl->IsStarting();
}
void CServiceClient::CancelRequests()
{
    m_pImpl->CancelRequests();
}
void CServiceClient::SendInBackground()
{
    m_pImpl->SendInBackground();
}
CServiceClient::~CServiceClient() = default;
void CServiceClient::SetEventSink(IServiceClientEvents* pSink)
{
    m_pImpl->SetEventSink(pSink);
}
bool CServiceClient::IsConnected() const
{
    return m_pImpl->IsConnected();
}
uint32_t CServiceClient::ProcessMessages(int32_t iMaxCount)
{
    return m_pImpl->ProcessMessages(iMaxCount);
}
void CServiceClient::SendReceiverCommand(uint32_t iReceiverID, const std::u16string& text)
{
    m_pImpl->SendReceiverCommand(iReceiverID, text);
}
bool CServiceClient::GetLogFilePath(std::u16string& path)
{
    return m_pImpl->GetLogFilePath(path);
}
void CServiceClient::SetLogMask(uint32_t iMask)
{
    m_pImpl->SetLogMask(iMask);
}
uint32_t CServiceClient::GetLogMask()
{
    uint32_t iMask = 0;
    m_pImpl->GetLogMask(iMask);
    return iMask;
}
bool CServiceClient::GetLogMask(uint32_t& iMask)
{
    return m_pImpl->GetLogMask(iMask);
}
void CServiceClient::ClearLog()
{
    m_pImpl->ClearLog();
}
