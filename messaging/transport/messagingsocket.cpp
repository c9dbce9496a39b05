// SPDX-License-Identifier: MIT
// Frame reader and writer state machines, and the messaging socket around them.

#include "messagingsocket.h"
#include "clientobject.h"
#include "exceptions.h"
#include "threadbase.h"
#include "trace.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>

namespace
{
std::atomic<size_t> g_iPartialFrameBytes{0};

uint32_t FromBigEndian(const uint8_t b[4])
{
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

// The target of the next transfer: the rest of the length prefix, then the rest of the body.
struct Target
{
    uint8_t* p;
    uint32_t n;
};

Target NextTarget(uint8_t* pPrefix, uint32_t iDone, CByteBuffer* pBuffer)
{
    if (iDone < 4)
        return {pPrefix + iDone, 4 - iDone};
    return {pBuffer->Data() + (iDone - 4), pBuffer->GetSize() - (iDone - 4)};
}
// One receive's or send's result: the byte count, or -1 when the socket would block. A closed peer
// throws CSocketLibException (code 0), any other error CSystemException with the error's code.
int CheckTransfer(int r)
{
    if (r < 0)
    {
        const int iError = GetSocketLastError();
        if (IsWouldBlock(iError))
            return -1;
        throw CSystemException(iError);
    }
    if (r == 0)
        throw CSocketLibException(0);
    return r;
}

} // namespace

void CFrameTransfer::Reset()
{
    m_pBuffer.Reset();
    m_iDone = 0;
    std::fill(std::begin(m_lengthPrefix), std::end(m_lengthPrefix), 0);
}

int64_t SteadyNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

CFrameReader::~CFrameReader()
{
    Uncharge();
}

void CFrameReader::Uncharge()
{
    g_iPartialFrameBytes -= m_iCharged;
    m_iCharged = 0;
}

bool CFrameReader::IsComplete() const
{
    return m_iDone == (m_pBuffer ? m_pBuffer->GetSize() : 0) + 4;
}

int CFrameReader::Step(CSocket* pSocket)
{
    if (IsComplete())
        return FRAME_STEP_DONE;
    const Target target = NextTarget(m_lengthPrefix, m_iDone, m_pBuffer.Get());
    const int r = CheckTransfer(pSocket->Receive(target.p, static_cast<int>(target.n)));
    if (r < 0)
        return FRAME_STEP_WOULD_BLOCK;
    const bool bBody = m_iDone >= 4;
    m_iDone += static_cast<uint32_t>(r);
    if (bBody)
    {
        if (IsComplete())
            Uncharge();
        else
        {
            m_iCharged += static_cast<size_t>(r);
            if ((g_iPartialFrameBytes += static_cast<size_t>(r)) > MAX_PARTIAL_FRAME_BYTES)
                throw CSystemException(SYSTEM_ERROR_NO_BUFFERS);
        }
    }
    if (m_iDone == 4)
    {
        const uint32_t iLength = FromBigEndian(m_lengthPrefix);
        if (iLength > MAX_FRAME_LENGTH)
            throw CSystemException(SYSTEM_ERROR_MESSAGE_TOO_LONG);
        MakeByteBuffer(m_pBuffer, iLength);
        if (!m_pBuffer)
            throw CSystemException(SYSTEM_ERROR_NO_MEMORY);
    }
    return FRAME_STEP_DONE;
}

bool CFrameWriter::IsComplete() const
{
    const uint32_t iSize = m_pBuffer ? m_pBuffer->GetSize() : 0;
    return m_iDone == iSize + 4 || (iSize == 0 && m_iDone == 0);
}

void CFrameWriter::SetBuffer(CByteBuffer* pBuffer)
{
    Reset();
    m_pBuffer = pBuffer;
    const uint32_t iSize = pBuffer ? pBuffer->GetSize() : 0;
    m_lengthPrefix[0] = static_cast<uint8_t>(iSize >> 24);
    m_lengthPrefix[1] = static_cast<uint8_t>(iSize >> 16);
    m_lengthPrefix[2] = static_cast<uint8_t>(iSize >> 8);
    m_lengthPrefix[3] = static_cast<uint8_t>(iSize);
}

int CFrameWriter::Step(CSocket* pSocket)
{
    if (IsComplete())
        return FRAME_STEP_DONE;
    const Target target = NextTarget(m_lengthPrefix, m_iDone, m_pBuffer.Get());
    const int iWanted = static_cast<int>(std::min<uint32_t>(target.n, MAX_SEND_CHUNK));
    // The prefix and the body go in separate sends; the prefix says that the body follows.
    const bool bPrefix = m_iDone < 4;
    const int r = CheckTransfer(pSocket->Send(target.p, iWanted, bPrefix));
    if (r < 0)
        return FRAME_STEP_WOULD_BLOCK;
    m_iDone += static_cast<uint32_t>(r);
    return FRAME_STEP_DONE;
}

void MakeFrameReader(CRefPtr<CFrameReader>& pOut)
{
    pOut = new (std::nothrow) CFrameReader();
}

void MakeFrameWriter(CRefPtr<CFrameWriter>& pOut)
{
    pOut = new (std::nothrow) CFrameWriter();
}

// --- messaging socket --------------------------------------------------------------------------

CMessagingSocket::CMessagingSocket(CStreamSocket* pSocket) : m_pSocket(pSocket)
{
    if (m_pSocket)
    {
        m_pSocket->CreateNetworkEvent();
        MakeFrameReader(m_pReader);
        MakeFrameWriter(m_pWriter);
    }
}

CMessagingSocket::~CMessagingSocket()
{
    m_pListener = nullptr;
    delete m_pSocket;
}

void CMessagingSocket::SetClient(CClientObject* pClient)
{
    CAutoLock lock(m_clientLock);
    m_pClient = pClient;
}

void CMessagingSocket::SetListener(IInboundSink* pListener)
{
    m_pListener = pListener;
}

CNetworkEvent* CMessagingSocket::GetNetworkEvent()
{
    return m_pSocket ? m_pSocket->GetNetworkEvent() : nullptr;
}

intptr_t CMessagingSocket::GetSocketHandle()
{
    return m_pSocket && m_pSocket->GetHandle() != INVALID_SOCKET
               ? static_cast<intptr_t>(m_pSocket->GetHandle())
               : -1;
}

CRefPtr<CClientObject> CMessagingSocket::TakeClient()
{
    CAutoLock lock(m_clientLock);
    return m_pClient;
}

void CMessagingSocket::OnReadable()
{
    if (!m_pSocket || !m_pReader)
        return;
    int iFrames = 0;
    while (iFrames < MAX_FRAMES_PER_TURN && m_pReader->Step(m_pSocket) == FRAME_STEP_DONE)
    {
        if (!m_pReader->IsComplete())
            continue;
        ++iFrames;
        CRefPtr<CByteBuffer> pBuffer;
        m_pReader->GetBuffer(pBuffer);
        m_pReader->Reset();
        // A frame that this call also begins gets a deadline of its own, not the one of the frame
        // that has just ended.
        m_iFrameDeadline = 0;
        CRefPtr<CClientObject> pClient = TakeClient();
        // Over its share the connection waits: what it sends next stays in the socket, and the
        // peer's sends back up, instead of the queue growing or others waiting behind it.
        if (m_pListener && pBuffer && pClient &&
            !m_pListener->QueueInbound(pClient.Get(), pBuffer.Get(), this))
            break;
    }
    if (!m_pReader->IsInProgress())
        m_iFrameDeadline = 0;
    else if (m_iFrameDeadline == 0)
        m_iFrameDeadline = SteadyNowMs() + m_iFrameTimeoutMs + 1; // the clock truncates: round up
}

void CMessagingSocket::SetReadingPaused(bool bPaused)
{
    CAutoLock lock(m_pauseLock);
    m_bReadingPaused = bPaused;
    if (m_pWake)
        m_pWake->Set();
}

void CMessagingSocket::SetServingThreadEvent(CEvent* pWake)
{
    CAutoLock lock(m_pauseLock);
    m_pWake = pWake;
}

void CMessagingSocket::Send(CByteBuffer* pBuffer)
{
    if (pBuffer)
    {
        m_sendQueue.emplace_back(pBuffer);
        m_iQueuedBytes += pBuffer->GetSize() + QUEUED_FRAME_OVERHEAD;
        if (m_iQueuedBytes > m_iQueueLimit)
            throw CSystemException(SYSTEM_ERROR_NO_BUFFERS);
        // The socket took nothing last time and has not said since that it takes more: a peer
        // that reads nothing costs a queue entry an answer, not a failed send.
        if (m_bWriteBlocked)
            return;
    }
    else
        m_bWriteBlocked = false; // write readiness
    if (!m_pSocket || !m_pWriter)
        return;
    while (m_pWriter->Step(m_pSocket) == FRAME_STEP_DONE)
    {
        if (!m_pWriter->IsComplete())
            continue;
        m_pWriter->Reset();
        if (m_sendQueue.empty())
            return;
        m_pWriter->SetBuffer(m_sendQueue.front().Get());
        m_iQueuedBytes -= m_sendQueue.front()->GetSize() + QUEUED_FRAME_OVERHEAD;
        m_sendQueue.pop_front();
    }
    m_bWriteBlocked = true;
}

void CMessagingSocket::OnClosed()
{
    m_bClosed = true;
    {
        CAutoLock lock(m_clientLock);
        CRefPtr<CClientObject> pClient = m_pClient;
        if (m_pListener && pClient)
            m_pListener->QueueDisconnect(pClient.Get());
        m_pClient.Reset();
    }
    // No thread serves the socket any more, but references to it may live on for a while (the
    // client object's, an I/O thread's snapshot). The peer learns of the end now; the descriptor
    // itself stays open until the last reference goes, so no wait ever sees it reused.
    if (m_pSocket)
        m_pSocket->Shutdown();
}

bool CMessagingSocket::ReadFully(uint8_t* pBuffer, int32_t iLength, int iTimeoutMs)
{
    CNetworkEvent* pEvent = GetNetworkEvent();
    if (!pEvent)
        return false;
    if (iLength < 1)
        return iLength == 0;
    int32_t iDone = 0;
    CWaitHandle* handles[1] = {pEvent};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
    while (iDone < iLength)
    {
        if (CThreadBase::WaitForEvents(handles, 1, RemainingMs(deadline, iTimeoutMs)) != 0)
            break;
        const uint8_t iEvents = pEvent->Enumerate();
        if (iEvents & (SOCKET_EVENT_ERROR | SOCKET_EVENT_CLOSE))
            break;
        if (iEvents & SOCKET_EVENT_READ)
        {
            const int r = m_pSocket->Receive(pBuffer + iDone, iLength - iDone);
            if (r < 0)
            {
                const int iError = GetSocketLastError();
                if (IsWouldBlock(iError))
                    continue;
                Trace(
                    "CMessagingSocket::ReadFully: Error reading from socket, WSA last error = %d.",
                    iError);
                break;
            }
            if (r == 0)
                break; // the peer closed; the close event says so on the next pass as well
            iDone += r;
        }
    }
    return iDone == iLength;
}

bool CMessagingSocket::WriteFully(const uint8_t* pBuffer, int32_t iLength, int iTimeoutMs)
{
    CNetworkEvent* pEvent = GetNetworkEvent();
    if (!pEvent)
        return false;
    if (iLength < 1)
        return iLength == 0;
    int32_t iDone = 0;
    CWaitHandle* handles[1] = {pEvent};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
    while (iDone < iLength)
    {
        const int r = m_pSocket->Send(pBuffer + iDone, iLength - iDone);
        if (r >= 0)
        {
            iDone += r;
            continue;
        }
        const int iError = GetSocketLastError();
        if (!IsWouldBlock(iError))
        {
            Trace("CMessagingSocket::WriteFully: Error writting to socket, WSA last error = %d.",
                  iError);
            break;
        }
        // Wait until the socket takes more, the peer closes or the time-out expires.
        bool bWritable = false;
        bool bEnd = false;
        while (!bWritable && !bEnd)
        {
            if (CThreadBase::WaitForEvents(handles, 1, RemainingMs(deadline, iTimeoutMs)) != 0)
            {
                bEnd = true;
                break;
            }
            const uint8_t iEvents = pEvent->Enumerate();
            if (iEvents & (SOCKET_EVENT_ERROR | SOCKET_EVENT_CLOSE))
                bEnd = true;
            else if (iEvents & SOCKET_EVENT_WRITE)
                bWritable = true;
        }
        if (bEnd)
            break;
    }
    return iDone == iLength;
}

// Frames travel only on IPv4 TCP streams, which is what every caller asks for; the family, type
// and protocol arguments are kept for the callers' sake.
void OpenMessagingSocket(CRefPtr<CMessagingSocket>& pOut, const char* pszHost, uint16_t iPort,
                         int /*iFamily*/, int /*iType*/, int /*iProtocol*/, bool bNoDelay)
{
    pOut.Reset();
    CStreamSocket* pSocket = nullptr;
    try
    {
        pSocket = new CStreamSocket(bNoDelay);
        pSocket->Connect(pszHost, iPort);
    }
    catch (CExceptionBase& error)
    {
        error.Report();
        delete pSocket;
        pSocket = nullptr;
    }
    pOut = new (std::nothrow) CMessagingSocket(pSocket);
    if (!pOut)
        delete pSocket;
    else if (pOut->GetSocketHandle() == -1)
        pOut.Reset();
}
