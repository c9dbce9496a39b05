// SPDX-License-Identifier: MIT
// A service peer for transport tests on plain blocking sockets, sharing no code with what it tests:
// it listens on 127.0.0.1, sends a set handshake, records the frames it gets and answers as told.
#pragma once

#include "message.h"
#include "rawsocket.h"
#include "testutil.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using ByteVector = std::vector<uint8_t>;

inline ByteVector Frame(const ByteVector& body)
{
    const auto n = static_cast<uint32_t>(body.size());
    ByteVector frame = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

inline ByteVector FrameOf(IMessage* pMessage)
{
    CRefPtr<CByteBuffer> bytes;
    pMessage->Serialise(bytes);
    return Frame(ByteVector(bytes->Data(), bytes->Data() + bytes->GetSize()));
}

// Sends or receives exactly n bytes; false when the connection ends first.
template <class Byte, class Transfer> bool TransferAll(Byte* p, size_t n, Transfer transfer)
{
    for (int r = 0; n; p += r, n -= static_cast<size_t>(r))
        if ((r = transfer(p, n)) <= 0)
            return false;
    return true;
}
inline bool WriteAll(RawSocket fd, const uint8_t* p, size_t n)
{
    return TransferAll(p, n, [fd](const uint8_t* q, size_t k) { return SendRaw(fd, q, k); });
}
inline bool ReadAll(RawSocket fd, uint8_t* p, size_t n)
{
    return TransferAll(p, n, [fd](uint8_t* q, size_t k) { return ReceiveRaw(fd, q, k); });
}

inline sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A listening socket on 127.0.0.1 with an ephemeral port.
inline RawSocket ListenOnLoopback(uint16_t& iPort)
{
    const RawSocket fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t n = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), n);
    ::listen(fd, 128);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &n);
    iPort = ntohs(address.sin_port);
    return fd;
}

// A raw connection to the service that has read the handshake; NO_RAW_SOCKET when that failed.
inline RawSocket ConnectRaw(uint16_t port)
{
    const RawSocket fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    SetReceiveTimeout(fd, 10); // no read waits longer than this for the service
    uint8_t handshake[16];
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ReadAll(fd, handshake, 16))
        return fd;
    CloseRaw(fd);
    return NO_RAW_SOCKET;
}

class CTestPeer
{
public:
    struct CConnection
    {
        RawSocket fd = NO_RAW_SOCKET;
        std::mutex mutex;
        std::vector<ByteVector> frames; // bodies, in arrival order

        bool Send(const ByteVector& bytes) { return WriteAll(fd, bytes.data(), bytes.size()); }
        size_t FrameCount()
        {
            std::lock_guard<std::mutex> g(mutex);
            return frames.size();
        }
        ByteVector FrameAt(size_t i)
        {
            std::lock_guard<std::mutex> g(mutex);
            return frames.at(i);
        }
        void Shut() { ShutRaw(fd); }
    };
    using Handler = std::function<void(CConnection&, const ByteVector& body)>;

    enum class EHandshake
    {
        Correct,
        Wrong,
        Drip, // 15 bytes one at a time, 700 ms apart, then silence
        CloseAtOnce,
    };

    explicit CTestPeer(EHandshake eHandshake = EHandshake::Correct, Handler onFrame = {})
        : m_eHandshake(eHandshake), m_onFrame(std::move(onFrame))
    {
        m_listenFd = ListenOnLoopback(m_iPort);
        m_acceptor = std::thread([this] { AcceptLoop(); });
    }
    ~CTestPeer() { Shutdown(); }

    // Closes the listener and every connection and waits for the peer's threads.
    void Shutdown()
    {
        if (m_listenFd == NO_RAW_SOCKET)
            return;
        const bool bClosed = WakeAccept(m_listenFd);
        m_acceptor.join();
        if (!bClosed)
            CloseRaw(m_listenFd);
        m_listenFd = NO_RAW_SOCKET;
        {
            std::lock_guard<std::mutex> g(m_mutex);
            for (auto& c : m_connections)
                c->Shut();
        }
        for (auto& t : m_readers)
            t.join();
        std::lock_guard<std::mutex> g(m_mutex);
        for (auto& c : m_connections)
            CloseRaw(c->fd);
    }

    uint16_t Port() const { return m_iPort; }
    size_t ConnectionCount()
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_connections.size();
    }
    std::shared_ptr<CConnection> Connection(size_t i)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_connections.at(i);
    }

private:
    void AcceptLoop()
    {
        for (;;)
        {
            const RawSocket fd = AcceptRaw(m_listenFd);
            if (fd == NO_RAW_SOCKET)
                return;
            auto c = std::make_shared<CConnection>();
            c->fd = fd;
            ByteVector handshake(SERVICE_IDENTIFIER, SERVICE_IDENTIFIER + 16);
            switch (m_eHandshake)
            {
            case EHandshake::Wrong:
                handshake[15] ^= 0xFF;
                [[fallthrough]];
            case EHandshake::Correct:
                c->Send(handshake);
                break;
            case EHandshake::Drip:
                for (int i = 0; i < 15; ++i)
                {
                    // The pace between bytes; the drip ends early once the client hangs up.
                    if (i > 0 && WaitReadable(c->fd, 700))
                        break;
                    WriteAll(c->fd, &handshake[static_cast<size_t>(i)], 1);
                }
                break;
            case EHandshake::CloseAtOnce:
                c->Shut();
                break;
            }
            std::lock_guard<std::mutex> g(m_mutex);
            m_connections.push_back(c);
            m_readers.emplace_back([this, c] { ReadLoop(*c); });
        }
    }

    void ReadLoop(CConnection& c)
    {
        uint8_t prefix[4];
        while (ReadAll(c.fd, prefix, 4))
        {
            ByteVector body((uint32_t{prefix[0]} << 24) | (prefix[1] << 16) | (prefix[2] << 8) |
                            prefix[3]);
            if (!ReadAll(c.fd, body.data(), body.size()))
                return;
            {
                std::lock_guard<std::mutex> g(c.mutex);
                c.frames.push_back(body);
            }
            if (m_onFrame)
                m_onFrame(c, body);
        }
    }

    EHandshake m_eHandshake;
    Handler m_onFrame;
    uint16_t m_iPort = 0;
    RawSocket m_listenFd = NO_RAW_SOCKET;
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::shared_ptr<CConnection>> m_connections;
    std::vector<std::thread> m_readers;
};
