// SPDX-License-Identifier: MIT
// Message objects: the class tree, their factories, and peeking into received buffers.
// A message knows its identifier and kind and writes itself into, and reads itself back from,
// a CByteBuffer: header (identifier, kind, correlation for requests and responses), then body.
#pragma once

#include "argumentlist.h"
#include "bytebuffer.h"
#include "catalogue.h"
#include "refcounted.h"
#include "waithandle.h"
#include "wire.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class IMessage : public virtual CRefCounted
{
public:
    virtual uint32_t GetId() const = 0;
    virtual uint8_t GetKind() const = 0;
    virtual uint32_t GetSize() const = 0;
    virtual void Serialise(CRefPtr<CByteBuffer>& pOut) const = 0;
    // False, with the object untouched, for a null buffer, another identifier or kind, or a
    // body that does not read as this class (truncated, or counts that the bytes cannot hold).
    virtual bool Deserialise(CByteBuffer* pIn) = 0;
    virtual void Trace() const = 0;
};

class CMessage : public IMessage
{
public:
    uint32_t GetId() const override { return m_iMessageID; }
    void Trace() const override {}

    virtual uint32_t GetBodySize() const = 0;
    virtual void WriteBody(CWriteCursor& c) const = 0;
    // Reads the whole body or nothing: on failure the object keeps its previous content.
    virtual bool ReadBody(CReadCursor& c) = 0;

protected:
    explicit CMessage(uint32_t iMessageID) : m_iMessageID(iMessageID) {}
    // Serialises header and body into a new buffer of exactly GetSize() bytes.
    void SerialiseWith(CRefPtr<CByteBuffer>& pOut, const uint32_t* piCorrelationID) const;
    // Checks identifier and kind and positions a cursor after the header; reads the correlation
    // value when one is expected.
    bool ReadHeader(CByteBuffer* pIn, CReadCursor& c, uint32_t* piCorrelationID) const;

    const uint32_t m_iMessageID;
};

class COneWayMessage : public CMessage
{
public:
    uint8_t GetKind() const override { return MESSAGE_KIND_ONE_WAY; }
    uint32_t GetSize() const override { return GetBodySize() + 5; }
    void Serialise(CRefPtr<CByteBuffer>& pOut) const override;
    bool Deserialise(CByteBuffer* pIn) override;

protected:
    using CMessage::CMessage;
};

class CCorrelatedMessage : public CMessage
{
public:
    uint32_t GetSize() const override { return GetBodySize() + 9; }
    void Serialise(CRefPtr<CByteBuffer>& pOut) const override;
    bool Deserialise(CByteBuffer* pIn) override;
    uint32_t GetCorrelationID() const { return m_iCorrelationID; }

protected:
    CCorrelatedMessage(uint32_t iMessageID, uint32_t iCorrelationID)
        : CMessage(iMessageID), m_iCorrelationID(iCorrelationID)
    {
    }
    uint32_t m_iCorrelationID;
};

// A request waits for the response whose identifier is m_iResponseID and whose correlation
// value is its own. Its correlation value is unique among the requests alive in the process and
// never 0 (0 marks an unsolicited message).
class CRequestMessage : public CCorrelatedMessage
{
public:
    ~CRequestMessage() override;
    uint8_t GetKind() const override { return MESSAGE_KIND_REQUEST; }
    uint32_t GetResponseID() const { return m_iResponseID; }

    // Called on the dispatch thread: stores the response, then signals the waiter.
    void SetResponse(CByteBuffer* pResponse);
    // Empties pOut, waits up to iTimeoutMs for the response and copies it into pOut when it came.
    void WaitForResponse(CRefPtr<CByteBuffer>& pOut, int iTimeoutMs);
    // Ends the wait at once, without a response (the connection is gone).
    void Abandon() { m_pResponseEvent->Set(); }

protected:
    CRequestMessage(uint32_t iMessageID, uint32_t iResponseID);

private:
    const uint32_t m_iResponseID;
    std::unique_ptr<CEvent> m_pResponseEvent;
    CCriticalSection m_responseLock; // guards m_pResponse (a second response may replace the
                                     // first); nothing is called under it
    CRefPtr<CByteBuffer> m_pResponse;
};

class CResponseMessage : public CCorrelatedMessage
{
public:
    uint8_t GetKind() const override { return MESSAGE_KIND_RESPONSE; }

protected:
    CResponseMessage(uint32_t iMessageID, uint32_t iCorrelationID)
        : CCorrelatedMessage(iMessageID, iCorrelationID)
    {
    }
};

class CEmptyMessage : public COneWayMessage
{
public:
    explicit CEmptyMessage(uint32_t iMessageID) : COneWayMessage(iMessageID) {}
    uint32_t GetBodySize() const override { return 0; }
    void WriteBody(CWriteCursor&) const override {}
    bool ReadBody(CReadCursor&) override { return true; }
};

class CEmptyRequest : public CRequestMessage
{
public:
    CEmptyRequest(uint32_t iMessageID, uint32_t iResponseID)
        : CRequestMessage(iMessageID, iResponseID)
    {
    }
    uint32_t GetBodySize() const override { return 0; }
    void WriteBody(CWriteCursor&) const override {}
    bool ReadBody(CReadCursor&) override { return true; }
};

class CEmptyResponse : public CResponseMessage
{
public:
    CEmptyResponse(uint32_t iMessageID, uint32_t iCorrelationID)
        : CResponseMessage(iMessageID, iCorrelationID)
    {
    }
    uint32_t GetBodySize() const override { return 0; }
    void WriteBody(CWriteCursor&) const override {}
    bool ReadBody(CReadCursor&) override { return true; }
};

class CStringResponse : public CResponseMessage
{
public:
    CStringResponse(uint32_t iMessageID, uint32_t iCorrelationID, const char16_t* pszText);
    // The text, or null when the response carries none.
    const char16_t* GetText() const { return m_text ? m_text->c_str() : nullptr; }

    uint32_t GetBodySize() const override;
    void WriteBody(CWriteCursor& c) const override;
    bool ReadBody(CReadCursor& c) override;

private:
    std::optional<std::u16string> m_text;
};

// 72 bytes: receiver identifier, state, and a zero-terminated name of at most 31 characters.
struct ReceiverRecord
{
    uint32_t iReceiverID;
    uint32_t iState;
    char16_t szName[32];
};
static_assert(sizeof(ReceiverRecord) == 72);

class CReceiverListMessage : public COneWayMessage
{
public:
    CReceiverListMessage(uint32_t iMessageID, const ReceiverRecord* pRecords, int32_t iCount);
    // Hands out the records (when ppRecords is given) and returns their count.
    int32_t GetRecords(const ReceiverRecord** ppRecords) const;

    uint32_t GetBodySize() const override;
    void WriteBody(CWriteCursor& c) const override;
    bool ReadBody(CReadCursor& c) override;

private:
    std::vector<ReceiverRecord> m_records;
};

class CIntegerListMessage : public COneWayMessage
{
public:
    CIntegerListMessage(uint32_t iMessageID, int32_t iCount, const uint32_t* pValues);
    const std::vector<uint32_t>& GetValues() const { return m_values; }

    uint32_t GetBodySize() const override { return static_cast<uint32_t>(4 * m_values.size()); }
    void WriteBody(CWriteCursor& c) const override;
    bool ReadBody(CReadCursor& c) override;

private:
    std::vector<uint32_t> m_values;
};

class CArgumentListMessage : public COneWayMessage
{
public:
    CArgumentListMessage(uint32_t iMessageID, const CArgumentList* pArguments);
    const CArgumentList& GetArguments() const { return m_arguments; }

    uint32_t GetBodySize() const override { return m_arguments.GetWireSize(); }
    void WriteBody(CWriteCursor& c) const override { m_arguments.Write(c); }
    bool ReadBody(CReadCursor& c) override { return m_arguments.Read(c); }

private:
    CArgumentList m_arguments;
};

class CArgumentListResponse : public CResponseMessage
{
public:
    CArgumentListResponse(uint32_t iMessageID, uint32_t iCorrelationID,
                          const CArgumentList* pArguments);
    const CArgumentList& GetArguments() const { return m_arguments; }

    uint32_t GetBodySize() const override { return m_arguments.GetWireSize(); }
    void WriteBody(CWriteCursor& c) const override { m_arguments.Write(c); }
    bool ReadBody(CReadCursor& c) override { return m_arguments.Read(c); }

private:
    CArgumentList m_arguments;
};

class CRegistrationMessage : public COneWayMessage
{
public:
    explicit CRegistrationMessage(int32_t iRegistrationID)
        : COneWayMessage(REGISTRATION_MESSAGE), m_iRegistrationID(iRegistrationID)
    {
    }
    int32_t GetRegistrationID() const { return m_iRegistrationID; }
    void Trace() const override;

    uint32_t GetBodySize() const override { return 4; }
    void WriteBody(CWriteCursor& c) const override;
    bool ReadBody(CReadCursor& c) override;

private:
    int32_t m_iRegistrationID;
};

// Factories: each stores the new object in pOut (count 1 afterwards), or leaves pOut empty when
// the object cannot be allocated.
void MakeEmptyMessage(CRefPtr<CEmptyMessage>& pOut, uint32_t iMessageID);
void MakeEmptyRequest(CRefPtr<CEmptyRequest>& pOut, uint32_t iMessageID, uint32_t iResponseID);
void MakeEmptyResponse(CRefPtr<CEmptyResponse>& pOut, uint32_t iMessageID, uint32_t iCorrelationID);
void MakeStringResponse(CRefPtr<CStringResponse>& pOut, uint32_t iMessageID,
                        uint32_t iCorrelationID, const char16_t* pszText);
void MakeReceiverListMessage(CRefPtr<CReceiverListMessage>& pOut, uint32_t iMessageID,
                             const ReceiverRecord* pRecords, int32_t iCount);
void MakeIntegerListMessage(CRefPtr<CIntegerListMessage>& pOut, uint32_t iMessageID, int32_t iCount,
                            const uint32_t* pValues);
void MakeArgumentListMessage(CRefPtr<CArgumentListMessage>& pOut, uint32_t iMessageID,
                             const CArgumentList* pArguments);
void MakeArgumentListResponse(CRefPtr<CArgumentListResponse>& pOut, uint32_t iMessageID,
                              uint32_t iCorrelationID, const CArgumentList* pArguments);
void MakeRegistrationMessage(CRefPtr<CRegistrationMessage>& pOut, int32_t iRegistrationID);

// The identifier of a received buffer: its first four bytes, big-endian; 0 when shorter.
uint32_t PeekMessageID(const CByteBuffer* pBuffer);
// The correlation value of a received response (kind byte 3, at least 9 bytes); 0 for anything
// else.
uint32_t PeekCorrelationID(const CByteBuffer* pBuffer);

// Fills a record, cutting the name to 31 characters (never in the middle of a surrogate pair).
ReceiverRecord MakeReceiverRecord(uint32_t iReceiverID, uint32_t iState, std::u16string_view name);
