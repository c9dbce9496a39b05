// SPDX-License-Identifier: MIT
// Service locator: finds the local service's TCP port by a multicast look-up on loopback. A
// request carries the service identifier; the service answers on the group with its port, and
// may announce itself unasked, which a waiting locator accepts too.
#pragma once

#include "sockets.h"
#include "threadbase.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

inline constexpr const char* SERVICE_LOCATOR_GROUP = "225.1.2.34";
inline constexpr uint16_t SERVICE_LOCATOR_PORT = 35000;
inline constexpr const char* SERVICE_LOCATOR_INTERFACE = "127.0.0.1";
inline constexpr int SERVICE_LOCATOR_TTL = 0; // datagrams never leave the host
inline constexpr uint32_t SERVICE_LOOKUP_REQUEST = 100;
inline constexpr uint32_t SERVICE_LOOKUP_REPLY = 101;
inline constexpr int SERVICE_LOOKUP_REQUEST_SIZE = 20;
inline constexpr int SERVICE_LOOKUP_REPLY_SIZE = 22;

// The look-up datagrams, built and checked in one place (the stand-in service uses them too).
void BuildLookupRequest(const uint8_t identifier[16], uint8_t out[SERVICE_LOOKUP_REQUEST_SIZE]);
void BuildLookupReply(const uint8_t identifier[16], uint16_t iPort,
                      uint8_t out[SERVICE_LOOKUP_REPLY_SIZE]);
// A reply counts only when it is exactly 22 bytes, code 101, and carries this identifier.
// Returns its port, or 0 for any other datagram.
uint16_t ParseLookupReply(const uint8_t* pData, int iLength, const uint8_t identifier[16]);
// True for a 20-byte request with code 100 and this identifier.
bool IsLookupRequest(const uint8_t* pData, int iLength, const uint8_t identifier[16]);

class IServiceLocatorListener
{
public:
    // Called once, on the locator's thread: the port of the reply that was taken, or 0 when none
    // was taken before the locator stopped.
    virtual void OnServicePortFound(uint16_t iPort) = 0;
    virtual ~IServiceLocatorListener() = default;
    // Called on the locator's thread for every reply before it is taken: false leaves the port
    // untaken and the locator listening for the next reply or announcement (a stale service that
    // answered but refuses connections must not end the wait for the real one).
    virtual bool TryServicePort(uint16_t /*iPort*/) { return true; }
};

// Where the look-up happens. The defaults are the fixed group and port; tests give others.
struct CLocatorEndpoint
{
    std::string group = SERVICE_LOCATOR_GROUP;
    uint16_t port = SERVICE_LOCATOR_PORT;
};

// Threads: constructed and destroyed by its owner; Run on its own thread, which is where the
// listener is called. The listener pointer never changes after construction.
class CServiceLocator : public CThreadBase
{
public:
    // Throws CSocketException when the multicast socket cannot be set up.
    CServiceLocator(const char* pszHost, const uint8_t identifier[16],
                    IServiceLocatorListener* pListener, const CLocatorEndpoint& endpoint = {});
    // Stops and joins: the listener has then been called (with 0 if nothing came).
    ~CServiceLocator() override;

    // Up to three attempts to multicast the 20-byte request.
    void SendLookupRequest();

protected:
    void Run() override;

private:
    std::unique_ptr<CMulticastSocket> m_pSocket;
    std::string m_host; // kept only: the look-up always uses the group on loopback
    uint8_t m_identifier[16];
    std::unique_ptr<uint8_t[]> m_pRequest;
    IServiceLocatorListener* m_pListener;
    CLocatorEndpoint m_endpoint;
};

// Looks the service up: at most three requests, each followed by a wait of iTimeoutMs / 3.
// Returns the port, or 0 when nothing answered or the look-up could not be set up.
uint16_t FindServicePort(const char* pszHost, const uint8_t identifier[16], int iTimeoutMs,
                         const CLocatorEndpoint& endpoint = {});
// The same look-up, offering each distinct port to tryPort as its answer comes, until tryPort
// takes one: a stale or foreign answer costs its own try, and answers that come later within
// the time-out are offered still. Returns the port taken, or 0. A set pCancel ends the look-up at
// once, with no port (its owner is going away).
uint16_t FindServicePort(const char* pszHost, const uint8_t identifier[16], int iTimeoutMs,
                         const std::function<bool(uint16_t)>& tryPort, CEvent* pCancel = nullptr,
                         const CLocatorEndpoint& endpoint = {});
