// SPDX-License-Identifier: MIT
// Framed messaging socket: moves length-prefixed messages through a non-blocking TCP socket.
// A frame is a 32-bit big-endian body length, then the body (one serialised message).
#pragma once

#include "bytebuffer.h"
#include "sockets.h"
#include "sync.h"
#include "transportinterfaces.h"

#include <atomic>
#include <deque>

// Frames longer than this are a protocol error that ends the connection. The largest message
// the protocol knows is a receiver list of a few kilobytes; 16 MiB leaves room for any future
// message and keeps a hostile length prefix from allocating gigabytes.
inline constexpr uint32_t MAX_FRAME_LENGTH = 16 * 1024 * 1024;
// A send carries at most this many bytes, so one large frame does not hog the I/O thread.
inline constexpr int MAX_SEND_CHUNK = 65536;

// A readable connection hands over at most this many whole frames a turn, then lets the other
// sockets of its I/O thread have theirs: a peer that always has more to send (a flood the
// dispatch thread keeps up with) would otherwise keep the thread reading it alone.
inline constexpr int MAX_FRAMES_PER_TURN = 16;

// Frames queued for one connection beyond what its socket took, at most: a peer that stops
// reading loses its connection instead of making the queue grow without bound. Each frame counts
// its bytes plus what keeping it costs, so that a million tiny answers count as what they hold.
inline constexpr size_t MAX_QUEUED_SEND_BYTES = 2 * MAX_FRAME_LENGTH;
inline constexpr size_t QUEUED_FRAME_OVERHEAD = 128;

// A frame begun must be whole within this time, or the connection ends: a peer that sends a
// length prefix and stalls holds no memory and no slot for longer.
inline constexpr int FRAME_TIMEOUT_MS = 10000;
// Bodies of frames still being read, process-wide, at most: forty peers that each begin a
// 16 MiB frame and stall cannot make the process hold 640 MiB.
inline constexpr size_t MAX_PARTIAL_FRAME_BYTES = 128 * 1024 * 1024;

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
    ~CFrameReader() override;
    bool IsComplete() const override;
    // Some bytes of a frame have come, not all.
    bool IsInProgress() const { return m_iDone > 0 && !IsComplete(); }
    // Also throws CSystemException(SYSTEM_ERROR_MESSAGE_TOO_LONG) for a length above
    // MAX_FRAME_LENGTH, and CSystemException(SYSTEM_ERROR_NO_BUFFERS) when the process holds
    // MAX_PARTIAL_FRAME_BYTES of partial frames.
    int Step(CSocket* pSocket) override;

private:
    void Uncharge();
    size_t m_iCharged = 0; // this frame's body bytes counted in the process-wide total
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
// socket, so it is guarded by m_clientLock; the reading pause and the serving thread's event are
// set from the dispatch and I/O threads under m_pauseLock; everything else belongs to the serving
// thread. Under m_clientLock it calls the listener's QueueDisconnect; under m_pauseLock it only
// sets the serving thread's event.
class CMessagingSocket : public IMessagingSocket
{
public:
    explicit CMessagingSocket(CStreamSocket* pSocket);
    ~CMessagingSocket() override;

    void SetClient(CClientObject* pClient) override;
    void SetListener(IInboundSink* pListener) override;
    CNetworkEvent* GetNetworkEvent() override;
    intptr_t GetSocketHandle() override;
    // Reads every complete frame now available and hands each to the listener, until the
    // listener says that the connection holds its share.
    void OnReadable() override;
    // Queues the buffer (if any) and writes queued frames in order as far as the socket accepts.
    // Throws CSystemException(SYSTEM_ERROR_NO_BUFFERS) when more than the queue limit waits: the
    // peer does not read.
    void Send(CByteBuffer* pBuffer) override;
    void SetSendQueueLimit(size_t iBytes) { m_iQueueLimit = iBytes; }
    // How long a begun frame may take (FRAME_TIMEOUT_MS unless a test wants less).
    void SetFrameTimeout(int iMilliseconds) { m_iFrameTimeoutMs = iMilliseconds; }
    // Reports the lost connection to the listener and forgets the client.
    void OnClosed() override;
    // When the frame being read must be whole (a steady-clock time in ms), 0 when none is begun.
    int64_t GetFrameDeadline() const override { return m_iFrameDeadline.load(); }
    void SetReadingPaused(bool bPaused) override;
    bool IsReadingPaused() const override { return m_bReadingPaused.load(); }
    void SetServingThreadEvent(CEvent* pWake) override;
    bool IsClosed() const override { return m_bClosed.load(); }
    // Blocking exact-length transfers; the time-out bounds the whole call, so a peer that sends
    // one byte at a time cannot stretch it.
    bool ReadFully(uint8_t* pBuffer, int32_t iLength, int iTimeoutMs) override;
    bool WriteFully(const uint8_t* pBuffer, int32_t iLength, int iTimeoutMs) override;

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
    bool m_bWriteBlocked = false; // the last send would have blocked; until write readiness
    std::atomic<int64_t> m_iFrameDeadline{0}; // written by the serving thread, read by any
    int m_iFrameTimeoutMs = FRAME_TIMEOUT_MS;
    CCriticalSection m_pauseLock; // guards m_pWake; orders the pause's changes with their wake-up
    std::atomic<bool> m_bReadingPaused{false};
    CEvent* m_pWake = nullptr;
    std::atomic<bool> m_bClosed{false};
};

// Milliseconds of the steady clock, for deadlines.
int64_t SteadyNowMs();

// Connects a new TCP socket and wraps it. Never throws: a failure is one exception trace line
// and an empty result.
void OpenMessagingSocket(CRefPtr<CMessagingSocket>& pOut, const char* pszHost, uint16_t iPort,
                         int iFamily, int iType, int iProtocol, bool bNoDelay);
