// SPDX-License-Identifier: MIT
// A look-up answerer that is not the service: it answers every look-up request with the port it
// is given (a stale service's, a test peer's), on the fixed group in the test's namespace.
#pragma once

#include "catalogue.h"
#include "servicelocator.h"
#include "testpeer.h"
#include "waithandle.h"

#include <thread>

// Answers every look-up request with the given port, as a stale or foreign service would.
class CFakeAnswerer
{
public:
    explicit CFakeAnswerer(uint16_t port)
        : m_socket(SERVICE_LOCATOR_GROUP, SERVICE_LOCATOR_PORT, SERVICE_LOCATOR_INTERFACE, 0)
    {
        BuildLookupReply(SERVICE_IDENTIFIER, port, m_reply);
        m_socket.CreateReadNetworkEvent();
        m_thread = std::thread(
            [this]
            {
                CWaitHandle* handles[2] = {&m_stop, m_socket.GetNetworkEvent()};
                while (WaitForHandles(handles, 2, WAIT_INFINITE) == 1)
                {
                    uint8_t datagram[64];
                    if (m_socket.GetNetworkEvent()->Enumerate() & SOCKET_EVENT_READ)
                        if (IsLookupRequest(datagram, m_socket.Receive(datagram, sizeof datagram),
                                            SERVICE_IDENTIFIER))
                            m_socket.SendTo(SERVICE_LOCATOR_GROUP, SERVICE_LOCATOR_PORT, m_reply,
                                            sizeof m_reply);
                }
            });
    }
    ~CFakeAnswerer()
    {
        m_stop.Set();
        m_thread.join();
    }

private:
    CMulticastSocket m_socket;
    uint8_t m_reply[SERVICE_LOOKUP_REPLY_SIZE];
    CEvent m_stop;
    std::thread m_thread;
};

// A port on loopback that refuses connections.
inline uint16_t RefusingPort()
{
    uint16_t port = 0;
    ::close(ListenOnLoopback(port));
    return port;
}
