// SPDX-License-Identifier: MIT
// The protocol handlers of the stand-in service.

#include "serviceprotocol.h"
#include "catalogue.h"
#include "commandtext.h"
#include "wire.h"

#include <cstdio>

namespace
{
std::string Hex2(unsigned v)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02X", v);
    return buffer;
}
} // namespace

CServiceProtocol::CServiceProtocol(CServiceLog& log, CServiceNetwork& network,
                                   CSimulatedReceivers& receivers)
    : m_log(log), m_network(network), m_receivers(receivers)
{
    m_log.SetChangeListener([this] { m_logChanged.Set(); });
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
}

CServiceProtocol::~CServiceProtocol()
{
    StopNotices();
}

void CServiceProtocol::StopNotices()
{
    m_pNotifier.reset();
}

void CServiceProtocol::NotifyLogUpdated()
{
    CRefPtr<CEmptyMessage> pEvent;
    MakeEmptyMessage(pEvent, LogUpdatedEvent);
    m_network.Broadcast(pEvent.Get());
}

void CServiceProtocol::OnMessage(CServiceConnection* pConnection, CByteBuffer* pBuffer)
{
    const uint32_t iId = PeekMessageID(pBuffer);
    const std::string client = "Client " + std::to_string(pConnection->GetNumber());
    // A peer that floods bad messages must not flood the log: complaints are rate-limited.
    const auto complain = [&](const std::string& text)
    {
        uint64_t iSuppressed = 0;
        if (!pConnection->MayComplain(iSuppressed))
            return;
        m_log.Write(LOG_DEBUG, client + ": " + text +
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
        m_log.Write(LOG_VERBOSE, client + " registered (registration identifier " +
                                     std::to_string(pRegistration->GetRegistrationID()) + ")");
        // Registered and sent the list in one step with respect to receiver changes: each
        // change reaches the client either in the list or as an event after it.
        m_receivers.SendList(
            [pConnection](IMessage* pList)
            {
                pConnection->m_bRegistered = true;
                pConnection->Send(pList);
            });
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
            m_log.Write(LOG_VERBOSE, client + " is closing");
            CRefPtr<CEmptyResponse> pResponse;
            MakeEmptyResponse(pResponse, ClientClosingResponse, iCorrelation);
            pConnection->Send(pResponse.Get());
        }
        else if (iId == GetLogFileRequest)
        {
            const std::u16string path = ToUtf16(m_log.GetPath());
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
        m_log.Write(LOG_VERBOSE, client + " set the log mask to 0x" + Hex2(iMask));
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

void CServiceProtocol::HandleReceiverCommand(CServiceConnection* pConnection, CByteBuffer* pBuffer)
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
            m_log.Write(LOG_DEBUG,
                        "Client " + std::to_string(pConnection->GetNumber()) +
                            ": receiver command does not read as (receiver, text); ignored");
        return;
    }
    ++m_iReceiverCommands;
    const std::u16string command = text.value_or(u"");
    const std::string target =
        iReceiver == 0 ? "all receivers" : "receiver " + std::to_string(iReceiver);
    m_log.Write(LOG_RAW, "To " + target + ": " + ToUtf8(command));

    std::vector<uint8_t> fields;
    const std::string error = ParseCommandText(command, fields);
    if (!error.empty())
    {
        m_log.Write(LOG_PROCESSED,
                    "Malformed command for " + target + " (" + error + "); nothing sent");
        return;
    }
    const char16_t* pszName = CommandNameOf(fields[2]);
    std::string parameters;
    for (size_t i = 3; i < fields.size(); ++i)
        parameters += (i > 3 ? " " : "") + Hex2(fields[i]);
    m_log.Write(LOG_PROCESSED,
                "To " + target + ": " +
                    (pszName ? ToUtf8(pszName) : std::string("Unknown command")) + " (0x" +
                    Hex2(fields[2]) + "), short address " + Hex2(fields[0]) + Hex2(fields[1]) +
                    (parameters.empty() ? std::string() : ", parameters " + parameters));

    if (fields[2] == 0x05) // Class Name: the parameters are the characters of the new name
    {
        std::u16string name;
        for (size_t i = 3; i < fields.size() && fields[i] != 0; ++i)
            name += static_cast<char16_t>(fields[i]);
        m_receivers.RenameAll(iReceiver, name);
    }
}
