// SPDX-License-Identifier: MIT
// Framed messaging socket: moves length-prefixed messages through a non-blocking TCP socket.
// A frame is a 32-bit big-endian body length, then the body (one serialised message).
#pragma once

#include "bytebuffer.h"
#include "sockets.h"
#include "sync.h"
#include "transportinterfaces.h"

#include <deque>

// Frames longer than this are a protocol error that ends the connection. The largest message
// the protocol knows is a receiver list of a few kilobytes; 16 MiB leaves room for any future
// message and keeps a hostile length prefix from allocating gigabytes.
inline constexpr uint32_t MAX_FRAME_LENGTH = 16 * 1024 * 1024;
// A send carries at most this many bytes, so one large frame does not hog the I/O thread.
inline constexpr int MAX_SEND_CHUNK = 65536;

// Frames queued for one connection beyond what its socket took, at most: a peer that stops
// reading loses its connection instead of making the queue grow without bound.
inline constexpr size_t MAX_QUEUED_SEND_BYTES = 2 * MAX_FRAME_LENGTH;

// Step results.
inline constexpr int FRAME_STEP_WOULD_BLOCK = 1;
inline constexpr int FRAME_STEP_DONE = 2;

class CFrameTransfer : public virtual CRefCounted
{
public:
    void Reset();
    void GetBuffer(CRefPtr<CByteBuffer>& pOut) const { pOut = m_pBuffer; }
    virtual bool IsComplete() const = 0;
    // One receive or send at most: FRAME_STEP_DONE when bytes moved (or nothing was left to move),
    // FRAME_STEP_WOULD_BLOCK when the socket had nothing for us. Throws CSocketLibException when
    // the peer closed, CSystemException on any other socket error.
    virtual int Step(CSocket* pSocket) = 0;

protected:
    CRefPtr<CByteBuffer> m_pBuffer;
    uint32_t m_iDone = 0;        // bytes of this frame moved, the 4 length bytes first
    uint8_t m_lengthPrefix[4]{}; // as they travel: big-endian
};

class CFrameReader : public CFrameTransfer
{
public:
    bool IsComplete() const override;
    // Also throws CSystemException(EMSGSIZE) for a length above MAX_FRAME_LENGTH.
    int Step(CSocket* pSocket) override;
};

class CFrameWriter : public CFrameTransfer
{
public:
    // Idle, or holding a buffer of length 0, counts as complete: an empty buffer sends nothing.
    bool IsComplete() const override;
    int Step(CSocket* pSocket) override;
    void SetBuffer(CByteBuffer* pBuffer);
};

void MakeFrameReader(CRefPtr<CFrameReader>& pOut);
void MakeFrameWriter(CRefPtr<CFrameWriter>& pOut);

// Used by the thread that opens it and reads the handshake, then by the one I/O thread that
// serves it. The client reference is also cleared by OnClosed on whatever thread removes the
// socket, so it is guarded by m_clientLock; everything else belongs to the serving thread.
class CMessagingSocket : public IMessagingSocket
{
public:
    explicit CMessagingSocket(CStreamSocket* pSocket);
    ~CMessagingSocket() override;

    void SetClient(CClientObject* pClient) override;
    void SetListener(IInboundSink* pListener) override;
    CNetworkEvent* GetNetworkEvent() override;
    int GetSocketHandle() override;
    // Reads every complete frame now available and hands each to the listener.
    void OnReadable() override;
    // Queues the buffer (if any) and writes queued frames in order as far as the socket accepts.
    // Throws CSystemException(ENOBUFS) when more than the queue limit waits: the peer does not
    // read.
    void Send(CByteBuffer* pBuffer) override;
    void SetSendQueueLimit(size_t iBytes) { m_iQueueLimit = iBytes; }
    // Reports the lost connection to the listener and forgets the client.
    void OnClosed() override;
    // Blocking exact-length transfers; the time-out applies to each wait, not to the whole call.
    bool ReadFully(uint8_t* pBuffer, int32_t iLength, int iTimeoutMs) override;
    bool WriteFully(const uint8_t* pBuffer, int32_t iLength, int iTimeoutMs) override;

    // Frames queued behind the one being written (for tests and flow checks).
    size_t GetQueuedCount() const { return m_sendQueue.size(); }

private:
    CRefPtr<CClientObject> TakeClient();

    CStreamSocket* m_pSocket;
    IInboundSink* m_pListener = nullptr;
    CCriticalSection m_clientLock; // guards m_pClient
    CRefPtr<CClientObject> m_pClient;
    CRefPtr<CFrameReader> m_pReader;
    CRefPtr<CFrameWriter> m_pWriter;
    std::deque<CRefPtr<CByteBuffer>> m_sendQueue;
    size_t m_iQueuedBytes = 0;
    size_t m_iQueueLimit = MAX_QUEUED_SEND_BYTES;
};

// Connects a new TCP socket and wraps it. Never throws: a failure is one exception trace line
// and an empty result.
void OpenMessagingSocket(CRefPtr<CMessagingSocket>& pOut, const char* pszHost, uint16_t iPort,
                         int iFamily, int iType, int iProtocol, bool bNoDelay);
