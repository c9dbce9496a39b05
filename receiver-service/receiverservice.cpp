// SPDX-License-Identifier: MIT
// The stand-in receiver service.

#include "receiverservice.h"
#include "commandtext.h"
#include "daemon.h"
#include "exceptions.h"
#include "trace.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

// A thread of the service: runs a body that watches the stop event.
class CServiceTask : public CThreadBase
{
public:
    explicit CServiceTask(std::function<void(CEvent*)> body) : m_body(std::move(body)) { Start(); }
    ~CServiceTask() override
    {
        Stop();
        Join();
    }
    bool IsFinished() const { return m_bFinished.load(); }

protected:
    void Run() override
    {
        m_body(GetStopEvent());
        m_bFinished = true;
    }

private:
    std::function<void(CEvent*)> m_body;
    std::atomic<bool> m_bFinished{false};
};

// One client connection, served on the connection manager's dispatch thread.
class CServiceConnection : public CClientObject
{
public:
    CServiceConnection(CReceiverService* pService, int iNumber, int iRegistrationTimeoutMs)
        : m_pService(pService), m_iNumber(iNumber),
          m_iRegistrationDeadline(SteadyNowMs() + iRegistrationTimeoutMs)
    {
    }
    void Deliver(CByteBuffer* pBuffer) override { m_pService->OnMessage(this, pBuffer); }
    void OnDisconnected() override { m_pService->OnClientGone(this); }
    int GetNumber() const { return m_iNumber; }
    int64_t GetRegistrationDeadline() const { return m_iRegistrationDeadline; }
    // Whether a complaint about this client's messages may go to the log now: the first few
    // each second do, the rest are counted and summed up in the next one that does.
    bool MayComplain(uint64_t& iSuppressed)
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
    std::atomic<bool> m_bRegistered{false};

private:
    CReceiverService* m_pService;
    int m_iNumber;
    int64_t m_iRegistrationDeadline;
    // Complaints run on the dispatch thread only.
    int64_t m_iComplaintSecond = 0;
    int m_iComplaints = 0;
    uint64_t m_iSuppressed = 0;
};

namespace
{
using Clock = std::chrono::steady_clock;

std::string Utf8(const std::u16string& text)
{
    std::string out;
    Utf16ToUtf8(text, out);
    return out;
}

std::u16string Wide(const std::string& text)
{
    std::u16string out;
    if (!Utf8ToUtf16(text, out))
        out.clear();
    return out;
}

std::string Hex2(unsigned v)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02X", v);
    return buffer;
}

std::string DefaultLogPath(const std::string& program)
{
    return RuntimeDirectory() + "/" + program + ".log";
}

// Splits a command text into byte values: comma-separated hexadecimal fields of at most ff.
// Returns the reason when the text is malformed.
std::string ParseCommandText(const std::u16string& text, std::vector<uint8_t>& fields)
{
    fields.clear();
    size_t start = 0;
    for (;;)
    {
        const size_t end = std::min(text.find(u',', start), text.size());
        const std::u16string field = text.substr(start, end - start);
        if (field.empty())
            return "empty field " + std::to_string(fields.size() + 1);
        unsigned value = 0;
        for (char16_t c : field)
        {
            const int d = c >= u'0' && c <= u'9'   ? c - u'0'
                          : c >= u'a' && c <= u'f' ? c - u'a' + 10
                          : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                   : -1;
            if (d < 0)
                return "field " + std::to_string(fields.size() + 1) + " \"" + Utf8(field) +
                       "\" is not hexadecimal";
            value = value * 16 + static_cast<unsigned>(d);
            if (value > 0xFF)
                return "field " + std::to_string(fields.size() + 1) + " \"" + Utf8(field) +
                       "\" is above ff";
        }
        fields.push_back(static_cast<uint8_t>(value));
        if (end >= text.size())
            break;
        start = end + 1;
    }
    if (fields.size() < 3)
        return "too few fields (short address high, low and command identifier are needed)";
    return {};
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
    m_log.SetChangeListener([this] { m_logChanged.Set(); });
    for (const SimulatedReceiver& r : m_options.receivers)
        m_receivers[r.iId] = r;
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
        SetTraceSink({});
        throw std::runtime_error(std::string("cannot listen: ") +
                                 (error.GetErrorText() ? error.GetErrorText() : "?"));
    }
    Log(LOG_VERBOSE, m_options.programName + " started on 127.0.0.1:" + std::to_string(m_iPort));

    m_pNotifier = std::make_unique<CServiceTask>(
        [this](CEvent* pStop)
        {
            CWaitHandle* handles[2] = {pStop, &m_logChanged};
            while (CThreadBase::WaitForEvents(handles, 2, WAIT_INFINITE) == 1)
            {
                // Reset before sending: a write during the send sets it again and is followed by an
                // event of its own. The pause bounds the events of a burst to about 50 a second.
                m_logChanged.Reset();
                NotifyLogUpdated();
                if (CThreadBase::WaitForEvents(handles, 1, 20) == 0)
                    break;
            }
        });
    m_pNetwork = std::make_unique<CServiceTask>(
        [this](CEvent* pStop)
        {
            // The listener comes last, so that it can be left out of the wait while accepting
            // is paused.
            CWaitHandle* handles[3] = {pStop, m_pLookup->GetNetworkEvent(),
                                       m_pListener->GetNetworkEvent()};
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
                        std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now())
                            .count();
                    if (iWake == 0 || iAnnounce < iWake)
                        iWake = iAnnounce;
                }
                const int iTimeout =
                    iWake == 0 ? WAIT_INFINITE
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
        });
    if (!m_options.scenarioPath.empty())
        m_pScenario = std::make_unique<CServiceTask>([this](CEvent* pStop) { RunScenario(pStop); });
}

CReceiverService::~CReceiverService()
{
    m_pScenario.reset();
    {
        std::lock_guard<std::mutex> g(m_floodMutex);
        m_floods.clear();
    }
    // Accept nothing more, stop every thread that sends, drop the messages still waiting to be
    // handled, and only then let the connections go: no handler runs on a service half torn down.
    m_pNetwork.reset();
    m_pNotifier.reset();
    m_manager.StopDispatching();
    std::vector<CRefPtr<CServiceConnection>> clients;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        clients = m_clients;
    }
    for (auto& pClient : clients)
        m_manager.DetachClient(pClient.Get());
    Log(LOG_VERBOSE, m_options.programName + " stopped");
    SetTraceSink({});
}

void CReceiverService::Accept()
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
            Log(LOG_DEBUG, "Cannot accept a connection (" + std::string(pszText ? pszText : "?") +
                               "); accepting again in " + std::to_string(ACCEPT_PAUSE_MS) + " ms");
        }
        return;
    }
    CRefPtr<CMessagingSocket> pSocket(new CMessagingSocket(pAccepted));
    // The handshake goes first, unframed: the service identifier.
    if (!pSocket->WriteFully(SERVICE_IDENTIFIER, 16, 1000))
    {
        Log(LOG_DEBUG, "A connection closed before it took the handshake");
        return;
    }
    CRefPtr<CServiceConnection> pConnection;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        pConnection =
            new CServiceConnection(this, m_iNextClient++, m_options.iRegistrationTimeoutMs);
        m_clients.push_back(pConnection);
    }
    Log(LOG_VERBOSE, "Client " + std::to_string(pConnection->GetNumber()) + " connected");
    if (!m_manager.AttachSocket(pConnection.Get(), pSocket.Get()))
        OnClientGone(pConnection.Get());
}

int64_t CReceiverService::NextRegistrationDeadline()
{
    int64_t iNext = 0;
    std::lock_guard<std::mutex> g(m_mutex);
    for (const auto& pClient : m_clients)
        if (!pClient->m_bRegistered && (iNext == 0 || pClient->GetRegistrationDeadline() < iNext))
            iNext = pClient->GetRegistrationDeadline();
    return iNext;
}

void CReceiverService::CloseUnregistered()
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
        Log(LOG_DEBUG, "Client " + std::to_string(pClient->GetNumber()) +
                           " did not register within " +
                           std::to_string(m_options.iRegistrationTimeoutMs) + " ms; closed");
        m_manager.DetachClient(pClient.Get());
    }
}

void CReceiverService::AnswerLookup()
{
    uint8_t datagram[1024];
    const int n = m_pLookup->Receive(datagram, sizeof datagram);
    if (IsLookupRequest(datagram, n, SERVICE_IDENTIFIER))
        Announce();
}

void CReceiverService::Announce()
{
    uint8_t reply[SERVICE_LOOKUP_REPLY_SIZE];
    BuildLookupReply(SERVICE_IDENTIFIER, m_iPort, reply);
    m_pLookup->SendTo(m_options.lookup.group.c_str(), m_options.lookup.port, reply, sizeof reply);
}

size_t CReceiverService::GetClientCount()
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_clients.size();
}

void CReceiverService::Broadcast(IMessage* pMessage)
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

void CReceiverService::NotifyLogUpdated()
{
    CRefPtr<CEmptyMessage> pEvent;
    MakeEmptyMessage(pEvent, LogUpdatedEvent);
    Broadcast(pEvent.Get());
}

void CReceiverService::SendReceiverList(CServiceConnection* pConnection)
{
    std::vector<ReceiverRecord> records;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        for (const auto& [id, r] : m_receivers)
            records.push_back(MakeReceiverRecord(r.iId, r.iState, r.name));
    }
    CRefPtr<CReceiverListMessage> pList;
    MakeReceiverListMessage(pList, ReceiverStatusEvent, records.data(),
                            static_cast<int32_t>(records.size()));
    pConnection->Send(pList.Get());
}

void CReceiverService::OnClientGone(CServiceConnection* pConnection)
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
        Log(LOG_VERBOSE, "Client " + std::to_string(pConnection->GetNumber()) + " disconnected");
}

void CReceiverService::OnMessage(CServiceConnection* pConnection, CByteBuffer* pBuffer)
{
    const uint32_t iId = PeekMessageID(pBuffer);
    const std::string client = "Client " + std::to_string(pConnection->GetNumber());
    // A peer that floods bad messages must not flood the log: complaints are rate-limited.
    const auto complain = [&](const std::string& text)
    {
        uint64_t iSuppressed = 0;
        if (!pConnection->MayComplain(iSuppressed))
            return;
        Log(LOG_DEBUG, client + ": " + text +
                           (iSuppressed ? " (" + std::to_string(iSuppressed) +
                                              " similar complaints not logged)"
                                        : std::string()));
    };
    const auto unreadable = [&]
    { complain("message " + std::to_string(iId) + " does not read as its class; ignored"); };
    if (iId != REGISTRATION_MESSAGE && !pConnection->m_bRegistered)
    {
        complain("message " + std::to_string(iId) + " before registration; ignored");
        return;
    }
    switch (iId)
    {
    case REGISTRATION_MESSAGE:
    {
        CRefPtr<CRegistrationMessage> pRegistration;
        MakeRegistrationMessage(pRegistration, 0);
        if (!pRegistration->Deserialise(pBuffer))
            return unreadable();
        pConnection->m_bRegistered = true;
        Log(LOG_VERBOSE, client + " registered (registration identifier " +
                             std::to_string(pRegistration->GetRegistrationID()) + ")");
        SendReceiverList(pConnection);
        return;
    }
    case ClientClosingRequest:
    case GetLogFileRequest:
    case GetLogMaskRequest:
    {
        CRefPtr<CEmptyRequest> pRequest;
        MakeEmptyRequest(pRequest, iId, 0);
        if (!pRequest->Deserialise(pBuffer))
            return unreadable();
        const uint32_t iCorrelation = pRequest->GetCorrelationID();
        if (iId == ClientClosingRequest)
        {
            Log(LOG_VERBOSE, client + " is closing");
            CRefPtr<CEmptyResponse> pResponse;
            MakeEmptyResponse(pResponse, ClientClosingResponse, iCorrelation);
            pConnection->Send(pResponse.Get());
        }
        else if (iId == GetLogFileRequest)
        {
            const std::u16string path = Wide(m_log.GetPath());
            CRefPtr<CStringResponse> pResponse;
            MakeStringResponse(pResponse, GetLogFileResponse, iCorrelation, path.c_str());
            pConnection->Send(pResponse.Get());
        }
        else
        {
            CArgumentList arguments;
            arguments.Pack(1, ARG_UINT32, m_log.GetMask());
            CRefPtr<CArgumentListResponse> pResponse;
            MakeArgumentListResponse(pResponse, GetLogMaskResponse, iCorrelation, &arguments);
            pConnection->Send(pResponse.Get());
        }
        return;
    }
    case ReceiverCommand:
        return HandleReceiverCommand(pConnection, pBuffer);
    case SetLogMaskMessage:
    {
        const uint32_t zero = 0;
        CRefPtr<CIntegerListMessage> pMask;
        MakeIntegerListMessage(pMask, SetLogMaskMessage, 1, &zero);
        if (!pMask->Deserialise(pBuffer))
            return unreadable();
        const uint32_t iMask = pMask->GetValues()[0];
        // Written under the mask in force until now, so that switching logging off is recorded.
        Log(LOG_VERBOSE, client + " set the log mask to 0x" + Hex2(iMask));
        m_log.SetMask(iMask);
        return;
    }
    case ClearLogMessage:
    {
        CRefPtr<CEmptyMessage> pClear;
        MakeEmptyMessage(pClear, ClearLogMessage);
        if (!pClear->Deserialise(pBuffer))
            return unreadable();
        m_log.Clear();
        return;
    }
    default:
        complain("unknown message identifier " + std::to_string(iId) + "; ignored");
    }
}

void CReceiverService::HandleReceiverCommand(CServiceConnection* pConnection, CByteBuffer* pBuffer)
{
    CRefPtr<CArgumentListMessage> pCommand;
    MakeArgumentListMessage(pCommand, ReceiverCommand, nullptr);
    uint32_t iReceiver = 0;
    std::optional<std::u16string> text;
    if (!pCommand->Deserialise(pBuffer) ||
        !pCommand->GetArguments().Unpack(2, ARG_UINT32, &iReceiver, ARG_WSTRING, &text))
    {
        uint64_t iSuppressed = 0;
        if (pConnection->MayComplain(iSuppressed))
            Log(LOG_DEBUG, "Client " + std::to_string(pConnection->GetNumber()) +
                               ": receiver command does not read as (receiver, text); ignored");
        return;
    }
    ++m_iReceiverCommands;
    const std::u16string command = text.value_or(u"");
    const std::string target =
        iReceiver == 0 ? "all receivers" : "receiver " + std::to_string(iReceiver);
    Log(LOG_RAW, "To " + target + ": " + Utf8(command));

    std::vector<uint8_t> fields;
    const std::string error = ParseCommandText(command, fields);
    if (!error.empty())
    {
        Log(LOG_PROCESSED, "Malformed command for " + target + " (" + error + "); nothing sent");
        return;
    }
    const char16_t* pszName = CommandNameOf(fields[2]);
    std::string parameters;
    for (size_t i = 3; i < fields.size(); ++i)
        parameters += (i > 3 ? " " : "") + Hex2(fields[i]);
    Log(LOG_PROCESSED,
        "To " + target + ": " + (pszName ? Utf8(pszName) : std::string("Unknown command")) +
            " (0x" + Hex2(fields[2]) + "), short address " + Hex2(fields[0]) + Hex2(fields[1]) +
            (parameters.empty() ? std::string() : ", parameters " + parameters));

    if (fields[2] == 0x05) // Class Name: the parameters are the characters of the new name
    {
        std::u16string name;
        for (size_t i = 3; i < fields.size() && fields[i] != 0; ++i)
            name += static_cast<char16_t>(fields[i]);
        std::vector<uint32_t> ids;
        {
            std::lock_guard<std::mutex> g(m_mutex);
            for (const auto& [id, r] : m_receivers)
                if (iReceiver == 0 || id == iReceiver)
                    ids.push_back(id);
        }
        for (uint32_t id : ids)
            RenameReceiver(id, name);
    }
}

void CReceiverService::SetReceiver(uint32_t iId, uint32_t iState, const std::u16string& name)
{
    ReceiverRecord record = MakeReceiverRecord(iId, iState, name);
    {
        std::lock_guard<std::mutex> g(m_mutex);
        if (iState == RECEIVER_GONE)
            m_receivers.erase(iId);
        else
            m_receivers[iId] = SimulatedReceiver{iId, iState, std::u16string(record.szName)};
    }
    Log(LOG_VERBOSE, "Receiver " + std::to_string(iId) + " \"" + Utf8(record.szName) + "\" state " +
                         std::to_string(iState) + (iState == RECEIVER_GONE ? " (gone)" : ""));
    CRefPtr<CReceiverListMessage> pStatus;
    MakeReceiverListMessage(pStatus, ReceiverStatusEvent, &record, 1);
    Broadcast(pStatus.Get());
}

bool CReceiverService::SetReceiverState(uint32_t iId, uint32_t iState)
{
    std::u16string name;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        const auto it = m_receivers.find(iId);
        if (it == m_receivers.end())
            return false;
        name = it->second.name;
    }
    SetReceiver(iId, iState, name);
    return true;
}

bool CReceiverService::RenameReceiver(uint32_t iId, const std::u16string& name)
{
    uint32_t iState = 0;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        const auto it = m_receivers.find(iId);
        if (it == m_receivers.end())
            return false;
        iState = it->second.iState;
    }
    SetReceiver(iId, iState, name);
    return true;
}

void CReceiverService::StartLogFlood(int iPerSecond, int iSeconds)
{
    if (iPerSecond <= 0 || iSeconds <= 0)
        return;
    auto pTask = std::make_unique<CServiceTask>(
        [this, iPerSecond, iSeconds](CEvent* pStop)
        {
            CWaitHandle* handles[1] = {pStop};
            const auto start = Clock::now();
            const int64_t total = int64_t{iPerSecond} * iSeconds;
            for (int64_t i = 0; i < total; ++i)
            {
                const auto due = start + std::chrono::microseconds(i * 1000000 / iPerSecond);
                const auto wait =
                    std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now())
                        .count();
                if (wait > 0 && CThreadBase::WaitForEvents(handles, 1, static_cast<int>(wait)) == 0)
                    return;
                Log(LOG_DEBUG, "Flood line " + std::to_string(i + 1) + " of " +
                                   std::to_string(total) +
                                   ": the quick brown fox jumps over the lazy dog");
            }
        });
    std::lock_guard<std::mutex> g(m_floodMutex);
    // Finished floods are let go here, so a looping scenario keeps no threads or events of them.
    std::erase_if(m_floods, [](const auto& p) { return p->IsFinished(); });
    m_floods.push_back(std::move(pTask));
}

void CReceiverService::RunScenario(CEvent* pStop)
{
    // Lines: "at MS VERB ARGS", MS counted from the start of the scenario; "#" starts a comment.
    std::ifstream file(m_options.scenarioPath);
    std::vector<std::pair<int64_t, std::string>> steps;
    std::string line;
    while (std::getline(file, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream in(line);
        std::string at;
        int64_t ms = 0;
        if (!(in >> at) || at[0] == '#')
            continue;
        std::string rest;
        if (at != "at" || !(in >> ms) || !std::getline(in >> std::ws, rest))
        {
            Log(LOG_DEBUG, "Scenario: cannot read \"" + line + "\"");
            continue;
        }
        steps.emplace_back(ms, rest);
    }
    if (steps.empty())
        return;
    CWaitHandle* handles[1] = {pStop};
    auto waitUntil = [&](Clock::time_point due)
    {
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
        return wait > 0 && CThreadBase::WaitForEvents(handles, 1, static_cast<int>(wait)) == 0;
    };
    // A looping scenario lasts at least a second, so that one of steps at 0 ms cannot spin.
    const int64_t iPeriod = std::max<int64_t>(steps.back().first, 1000);
    do
    {
        const auto start = Clock::now();
        for (const auto& [ms, command] : steps)
        {
            if (waitUntil(start + std::chrono::milliseconds(ms)))
                return;
            Control(command);
        }
        if (m_options.bLoopScenario && waitUntil(start + std::chrono::milliseconds(iPeriod)))
            return;
    } while (m_options.bLoopScenario);
}

const char* CReceiverService::ControlHelp()
{
    return "Control commands (one per line):\n"
           "  appear ID NAME...   a receiver appears (state 1) or comes back\n"
           "  state ID N          a receiver changes to state N (2 = gone)\n"
           "  rename ID NAME...   a receiver gets a new name\n"
           "  go ID               a receiver goes (reported with state 2)\n"
           "  log N T             write N log lines a second for T seconds\n"
           "  say TEXT...         write one DEBUG line to the log\n"
           "  list                the receivers and clients\n"
           "  help                this text\n";
}

std::string CReceiverService::Control(const std::string& line)
{
    std::istringstream in(line);
    std::string verb;
    if (!(in >> verb))
        return {};
    auto rest = [&]
    {
        std::string text;
        std::getline(in >> std::ws, text);
        return text;
    };
    uint32_t iId = 0;
    if (verb == "appear" || verb == "add")
    {
        if (!(in >> iId))
            return "usage: appear ID NAME...\n";
        const std::string name = rest();
        SetReceiver(iId, RECEIVER_PRESENT,
                    Wide(name.empty() ? "Receiver " + std::to_string(iId) : name));
        return "ok\n";
    }
    if (verb == "state")
    {
        uint32_t iState = 0;
        if (!(in >> iId >> iState))
            return "usage: state ID N\n";
        return SetReceiverState(iId, iState) ? "ok\n" : "no receiver " + std::to_string(iId) + "\n";
    }
    if (verb == "rename")
    {
        if (!(in >> iId))
            return "usage: rename ID NAME...\n";
        return RenameReceiver(iId, Wide(rest())) ? "ok\n"
                                                 : "no receiver " + std::to_string(iId) + "\n";
    }
    if (verb == "go" || verb == "remove")
    {
        if (!(in >> iId))
            return "usage: go ID\n";
        return SetReceiverState(iId, RECEIVER_GONE) ? "ok\n"
                                                    : "no receiver " + std::to_string(iId) + "\n";
    }
    if (verb == "log")
    {
        int iPerSecond = 0, iSeconds = 0;
        if (!(in >> iPerSecond >> iSeconds) || iPerSecond <= 0 || iSeconds <= 0)
            return "usage: log N T\n";
        StartLogFlood(iPerSecond, iSeconds);
        return "ok\n";
    }
    if (verb == "say")
    {
        Log(LOG_DEBUG, rest());
        return "ok\n";
    }
    if (verb == "list")
    {
        std::string out;
        std::lock_guard<std::mutex> g(m_mutex);
        for (const auto& [id, r] : m_receivers)
            out += "receiver " + std::to_string(id) + "\t" + std::to_string(r.iState) + "\t" +
                   Utf8(r.name) + "\n";
        out += std::to_string(m_clients.size()) + " client(s); log " + m_log.GetPath() +
               "; mask 0x" + Hex2(m_log.GetMask()) + "; commands received " +
               std::to_string(m_iReceiverCommands.load()) + "\n";
        return out;
    }
    if (verb == "help")
        return ControlHelp();
    return "unknown command \"" + verb + "\"; try help\n";
}
