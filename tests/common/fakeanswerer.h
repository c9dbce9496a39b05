// SPDX-License-Identifier: MIT
// Look-up answerers on the fixed group that are not the service: each answers as the test's policy
// says (nothing, bad replies, a stale or foreign port) and records when requests came.
#pragma once

#include "catalogue.h"
#include "servicelocator.h"
#include "testpeer.h"
#include "waithandle.h"

#include <chrono>
#include <thread>

inline ByteVector LookupReply(uint16_t port)
{
    ByteVector reply(SERVICE_LOOKUP_REPLY_SIZE);
    BuildLookupReply(SERVICE_IDENTIFIER, port, reply.data());
    return reply;
}

class CLookupResponder
{
public:
    using Clock = std::chrono::steady_clock;
    using Policy = std::function<std::vector<ByteVector>(int request)>; // numbered from 1

    explicit CLookupResponder(Policy policy)
        : m_socket(SERVICE_LOCATOR_GROUP, SERVICE_LOCATOR_PORT, SERVICE_LOCATOR_INTERFACE, 0),
          m_policy(std::move(policy))
    {
        m_socket.CreateReadNetworkEvent();
        m_thread = std::thread([this] { Run(); });
    }
    // Answers every request with this port, as a stale or foreign service would.
    explicit CLookupResponder(uint16_t port)
        : CLookupResponder([port](int) { return std::vector<ByteVector>{LookupReply(port)}; })
    {
    }
    ~CLookupResponder()
    {
        m_stop.Set();
        m_thread.join();
    }
    std::vector<Clock::time_point> Requests()
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_requests;
    }

private:
    void Run()
    {
        CWaitHandle* handles[2] = {&m_stop, m_socket.GetNetworkEvent()};
        while (WaitForHandles(handles, 2, WAIT_INFINITE) == 1)
        {
            uint8_t datagram[1024];
            if (!(m_socket.GetNetworkEvent()->Enumerate() & SOCKET_EVENT_READ) ||
                !IsLookupRequest(datagram, m_socket.Receive(datagram, sizeof datagram),
                                 SERVICE_IDENTIFIER))
                continue;
            std::unique_lock<std::mutex> g(m_mutex);
            m_requests.push_back(Clock::now());
            const int number = static_cast<int>(m_requests.size());
            g.unlock();
            for (const ByteVector& reply : m_policy(number))
                m_socket.SendTo(SERVICE_LOCATOR_GROUP, SERVICE_LOCATOR_PORT, reply.data(),
                                static_cast<int>(reply.size()));
        }
    }

    CMulticastSocket m_socket;
    Policy m_policy;
    CEvent m_stop;
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_requests;
    std::thread m_thread;
};

// A port on loopback that refuses connections.
inline uint16_t RefusingPort()
{
    uint16_t port = 0;
    CloseRaw(ListenOnLoopback(port));
    return port;
}
