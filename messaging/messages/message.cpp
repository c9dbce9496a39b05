// SPDX-License-Identifier: MIT
// Message classes: headers, bodies, factories and the correlation values of live requests.

#include "message.h"
#include "trace.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <unordered_set>

namespace
{
// Correlation values come from a counter that skips 0 and every value still in use, so a value
// is unique among live requests and fits the 32-bit wire field on any build.
class CCorrelationRegistry
{
public:
    uint32_t Take()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        do
            ++m_iNext;
        while (m_iNext == 0 || m_live.count(m_iNext));
        m_live.insert(m_iNext);
        return m_iNext;
    }
    void Give(uint32_t iValue)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_live.erase(iValue);
    }

private:
    std::mutex m_mutex; // guards the counter and the live values; nothing is called under it
    uint32_t m_iNext = 0;
    std::unordered_set<uint32_t> m_live;
};

CCorrelationRegistry& Correlations()
{
    static CCorrelationRegistry registry;
    return registry;
}

template <class T, class... Args> void MakeInto(CRefPtr<T>& pOut, Args&&... args)
{
    pOut = new (std::nothrow) T(std::forward<Args>(args)...);
}
} // namespace

// --- header ------------------------------------------------------------------------------------

void CMessage::SerialiseWith(CRefPtr<CByteBuffer>& pOut, const uint32_t* piCorrelationID) const
{
    const uint32_t iSize = GetSize();
    MakeByteBuffer(pOut, iSize);
    if (!pOut)
        return;
    CWriteCursor c{pOut->Data(), pOut->Data() + iSize};
    WriteUInt32(c, GetId());
    WriteByte(c, GetKind());
    if (piCorrelationID)
        WriteUInt32(c, *piCorrelationID);
    WriteBody(c);
}

bool CMessage::ReadHeader(CByteBuffer* pIn, CReadCursor& c, uint32_t* piCorrelationID) const
{
    if (!pIn)
        return false;
    c = CReadCursor{pIn->Data(), pIn->Data() + pIn->GetSize()};
    uint32_t iId = 0;
    uint8_t iKind = 0;
    if (!ReadUInt32(c, iId) || !ReadByte(c, iKind) || iId != GetId() || iKind != GetKind())
        return false;
    return !piCorrelationID || ReadUInt32(c, *piCorrelationID);
}

void COneWayMessage::Serialise(CRefPtr<CByteBuffer>& pOut) const
{
    SerialiseWith(pOut, nullptr);
}

bool COneWayMessage::Deserialise(CByteBuffer* pIn)
{
    CRefPtr<CByteBuffer> hold(pIn); // the buffer stays alive while it is read
    CReadCursor c{nullptr, nullptr};
    return ReadHeader(pIn, c, nullptr) && ReadBody(c);
}

void CCorrelatedMessage::Serialise(CRefPtr<CByteBuffer>& pOut) const
{
    SerialiseWith(pOut, &m_iCorrelationID);
}

bool CCorrelatedMessage::Deserialise(CByteBuffer* pIn)
{
    CRefPtr<CByteBuffer> hold(pIn);
    CReadCursor c{nullptr, nullptr};
    uint32_t iCorrelationID = 0;
    if (!ReadHeader(pIn, c, &iCorrelationID) || !ReadBody(c))
        return false;
    m_iCorrelationID = iCorrelationID;
    return true;
}

// --- requests ----------------------------------------------------------------------------------

CRequestMessage::CRequestMessage(uint32_t iMessageID, uint32_t iResponseID)
    : CCorrelatedMessage(iMessageID, 0), m_iResponseID(iResponseID),
      m_pResponseEvent(std::make_unique<CEvent>(false))
{
    m_iCorrelationID = Correlations().Take();
}

CRequestMessage::~CRequestMessage()
{
    Correlations().Give(m_iCorrelationID);
}

void CRequestMessage::SetResponse(CByteBuffer* pResponse)
{
    {
        CAutoLock lock(m_responseLock);
        m_pResponse = pResponse;
    }
    m_pResponseEvent->Set();
}

void CRequestMessage::WaitForResponse(CRefPtr<CByteBuffer>& pOut, int iTimeoutMs)
{
    pOut.Reset();
    CWaitHandle* handles[1] = {m_pResponseEvent.get()};
    if (WaitForHandles(handles, 1, iTimeoutMs) != 0)
        return;
    CAutoLock lock(m_responseLock);
    pOut = m_pResponse;
}

// --- bodies ------------------------------------------------------------------------------------

CStringResponse::CStringResponse(uint32_t iMessageID, uint32_t iCorrelationID,
                                 const char16_t* pszText)
    : CResponseMessage(iMessageID, iCorrelationID)
{
    if (pszText)
        m_text = std::u16string(pszText);
}

uint32_t CStringResponse::GetBodySize() const
{
    return WStringSize(GetText());
}

void CStringResponse::WriteBody(CWriteCursor& c) const
{
    WriteWString(c, GetText());
}

bool CStringResponse::ReadBody(CReadCursor& c)
{
    std::optional<std::u16string> text;
    if (!ReadWString(c, text))
        return false;
    m_text = std::move(text);
    return true;
}

ReceiverRecord MakeReceiverRecord(uint32_t iReceiverID, uint32_t iState, std::u16string_view name)
{
    ReceiverRecord record{iReceiverID, iState, {}};
    size_t n = std::min<size_t>(name.size(), 31);
    // A record holds 31 UTF-16 units; a high surrogate left alone at the cut would be no character.
    if (n > 0 && n < name.size() && name[n - 1] >= 0xD800 && name[n - 1] <= 0xDBFF)
        --n;
    std::copy_n(name.begin(), n, record.szName);
    return record;
}

CReceiverListMessage::CReceiverListMessage(uint32_t iMessageID, const ReceiverRecord* pRecords,
                                           int32_t iCount)
    : COneWayMessage(iMessageID)
{
    if (pRecords && iCount >= 1)
        m_records.assign(pRecords, pRecords + iCount);
}

int32_t CReceiverListMessage::GetRecords(const ReceiverRecord** ppRecords) const
{
    if (ppRecords)
        *ppRecords = m_records.empty() ? nullptr : m_records.data();
    return static_cast<int32_t>(m_records.size());
}

namespace
{
std::u16string RecordName(const ReceiverRecord& record)
{
    return std::u16string(record.szName, std::find(record.szName, record.szName + 32, u'\0'));
}
} // namespace

uint32_t CReceiverListMessage::GetBodySize() const
{
    uint32_t iSize = 4;
    for (const ReceiverRecord& record : m_records)
        iSize += 8 + WStringSize(RecordName(record).c_str());
    return iSize;
}

void CReceiverListMessage::WriteBody(CWriteCursor& c) const
{
    WriteUInt32(c, static_cast<uint32_t>(m_records.size()));
    for (const ReceiverRecord& record : m_records)
    {
        WriteUInt32(c, record.iReceiverID);
        WriteUInt32(c, record.iState);
        WriteWString(c, RecordName(record).c_str());
    }
}

bool CReceiverListMessage::ReadBody(CReadCursor& c)
{
    uint32_t iRaw = 0;
    if (!ReadUInt32(c, iRaw))
        return false;
    const auto iCount = static_cast<int32_t>(iRaw);
    // A record takes at least 10 bytes on the wire; a count the body cannot hold is refused
    // before the records are allocated.
    if (iCount > 0 && static_cast<size_t>(iCount) > c.Remaining() / 10)
        return false;
    std::vector<ReceiverRecord> records;
    if (iCount > 0)
        records.reserve(static_cast<size_t>(iCount));
    for (int32_t i = 0; i < iCount; ++i)
    {
        uint32_t iId = 0, iState = 0;
        std::optional<std::u16string> name;
        if (!ReadUInt32(c, iId) || !ReadUInt32(c, iState) || !ReadWString(c, name))
            return false;
        records.push_back(MakeReceiverRecord(iId, iState, name ? *name : std::u16string()));
    }
    m_records = std::move(records);
    return true;
}

CIntegerListMessage::CIntegerListMessage(uint32_t iMessageID, int32_t iCount,
                                         const uint32_t* pValues)
    : COneWayMessage(iMessageID)
{
    if (pValues && iCount >= 1)
        m_values.assign(pValues, pValues + iCount);
}

void CIntegerListMessage::WriteBody(CWriteCursor& c) const
{
    for (uint32_t v : m_values)
        WriteUInt32(c, v);
}

bool CIntegerListMessage::ReadBody(CReadCursor& c)
{
    std::vector<uint32_t> values(m_values.size());
    for (uint32_t& v : values)
        if (!ReadUInt32(c, v))
            return false;
    m_values = std::move(values);
    return true;
}

CArgumentListMessage::CArgumentListMessage(uint32_t iMessageID, const CArgumentList* pArguments)
    : COneWayMessage(iMessageID)
{
    if (pArguments)
        m_arguments = *pArguments;
}

CArgumentListResponse::CArgumentListResponse(uint32_t iMessageID, uint32_t iCorrelationID,
                                             const CArgumentList* pArguments)
    : CResponseMessage(iMessageID, iCorrelationID)
{
    if (pArguments)
        m_arguments = *pArguments;
}

void CRegistrationMessage::Trace() const
{
    ::Trace("CRegistrationMessage: m_iRegistrationID = %d.\n", m_iRegistrationID);
}

void CRegistrationMessage::WriteBody(CWriteCursor& c) const
{
    WriteUInt32(c, static_cast<uint32_t>(m_iRegistrationID));
}

bool CRegistrationMessage::ReadBody(CReadCursor& c)
{
    uint32_t v = 0;
    if (!ReadUInt32(c, v))
        return false;
    m_iRegistrationID = static_cast<int32_t>(v);
    return true;
}

// --- factories and peeking ---------------------------------------------------------------------

void MakeEmptyMessage(CRefPtr<CEmptyMessage>& pOut, uint32_t iMessageID)
{
    MakeInto(pOut, iMessageID);
}

void MakeEmptyRequest(CRefPtr<CEmptyRequest>& pOut, uint32_t iMessageID, uint32_t iResponseID)
{
    MakeInto(pOut, iMessageID, iResponseID);
}

void MakeEmptyResponse(CRefPtr<CEmptyResponse>& pOut, uint32_t iMessageID, uint32_t iCorrelationID)
{
    MakeInto(pOut, iMessageID, iCorrelationID);
}

void MakeStringResponse(CRefPtr<CStringResponse>& pOut, uint32_t iMessageID,
                        uint32_t iCorrelationID, const char16_t* pszText)
{
    MakeInto(pOut, iMessageID, iCorrelationID, pszText);
}

void MakeReceiverListMessage(CRefPtr<CReceiverListMessage>& pOut, uint32_t iMessageID,
                             const ReceiverRecord* pRecords, int32_t iCount)
{
    MakeInto(pOut, iMessageID, pRecords, iCount);
}

void MakeIntegerListMessage(CRefPtr<CIntegerListMessage>& pOut, uint32_t iMessageID, int32_t iCount,
                            const uint32_t* pValues)
{
    MakeInto(pOut, iMessageID, iCount, pValues);
}

void MakeArgumentListMessage(CRefPtr<CArgumentListMessage>& pOut, uint32_t iMessageID,
                             const CArgumentList* pArguments)
{
    MakeInto(pOut, iMessageID, pArguments);
}

void MakeArgumentListResponse(CRefPtr<CArgumentListResponse>& pOut, uint32_t iMessageID,
                              uint32_t iCorrelationID, const CArgumentList* pArguments)
{
    MakeInto(pOut, iMessageID, iCorrelationID, pArguments);
}

void MakeRegistrationMessage(CRefPtr<CRegistrationMessage>& pOut, int32_t iRegistrationID)
{
    MakeInto(pOut, iRegistrationID);
}

uint32_t PeekMessageID(const CByteBuffer* pBuffer)
{
    if (!pBuffer || pBuffer->GetSize() < 4)
        return 0;
    CReadCursor c{pBuffer->Data(), pBuffer->Data() + 4};
    uint32_t iId = 0;
    ReadUInt32(c, iId);
    return iId;
}

uint32_t PeekCorrelationID(const CByteBuffer* pBuffer)
{
    if (!pBuffer || pBuffer->GetSize() < 9 || pBuffer->Data()[4] != MESSAGE_KIND_RESPONSE)
        return 0;
    CReadCursor c{pBuffer->Data() + 5, pBuffer->Data() + 9};
    uint32_t iCorrelationID = 0;
    ReadUInt32(c, iCorrelationID);
    return iCorrelationID;
}
