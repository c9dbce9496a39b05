// SPDX-License-Identifier: MIT
// Socket layer: TCP and multicast UDP socket wrappers, the network event that a wait watches for
// a socket, the library's socket event flags, and host address resolution.
#pragma once

#include "waithandle.h"

#include <atomic>
#include <cstdint>

// The socket library's descriptor: an int on POSIX, Winsock's unsigned pointer-sized SOCKET on
// Windows, where INVALID_SOCKET is its all-ones value (the platform file keeps Winsock's own).
#if defined(_WIN32)
using SOCKET = uintptr_t;
#ifndef INVALID_SOCKET
inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
#endif
#else
using SOCKET = int;
inline constexpr SOCKET INVALID_SOCKET = -1;
#endif
inline constexpr uint32_t ADDRESS_NONE = 0xFFFFFFFF; // INADDR_NONE

// AF_INET, SOCK_STREAM and IPPROTO_TCP: the same numbers in every socket library.
inline constexpr int SOCKET_FAMILY_IPV4 = 2;
inline constexpr int SOCKET_TYPE_STREAM = 1;
inline constexpr int SOCKET_PROTOCOL_TCP = 6;

// Socket event flags, one byte; bits may combine.
inline constexpr uint8_t SOCKET_EVENT_CLOSE = 1;
inline constexpr uint8_t SOCKET_EVENT_READ = 2;
inline constexpr uint8_t SOCKET_EVENT_WRITE = 4;
inline constexpr uint8_t SOCKET_EVENT_ACCEPT = 8;
inline constexpr uint8_t SOCKET_EVENT_ERROR = 16; // only when enumerating the events failed

// The socket library is started by its first user in the process and cleaned up after its last
// (WSAStartup and WSACleanup on Windows, nothing on POSIX). Every socket, every name look-up and
// every connection manager holds it; false when it cannot be started.
bool AcquireSocketLibrary();
void ReleaseSocketLibrary();
// How many users hold the socket library now.
int GetSocketLibraryUsers();

// The socket library's last error, and whether an error code means "would block".
int GetSocketLastError();
bool IsWouldBlock(int iError);

// "127.0.0.1" is taken literally; anything else goes through the name look-up. Returns the IPv4
// address in network byte order, or ADDRESS_NONE when it cannot be resolved.
uint32_t ResolveAddress(const char* pszHost);

class CSocket;

// Becomes signalled when any selected event is pending for its socket; Enumerate tells which.
// Write readiness keeps the edge semantics that callers rely on: reported once after Select, and
// again only after a send on the socket would have blocked. A level-triggered write readiness
// would wake an idle connection's I/O thread forever.
class CNetworkEvent : public CWaitHandle
{
public:
    CNetworkEvent(CSocket* pSocket, uint8_t iFlags);
    ~CNetworkEvent() override;
    CNetworkEvent(const CNetworkEvent&) = delete;
    CNetworkEvent& operator=(const CNetworkEvent&) = delete;

    // Registers for the given events; puts the socket in non-blocking mode.
    void Select(uint8_t iFlags);
    // Fetches and clears the pending events: SOCKET_EVENT_* combined, or SOCKET_EVENT_ERROR alone.
    uint8_t Enumerate();
    // A send would have blocked: report write readiness again once the socket can take more.
    void ArmWrite();

private:
    void UpdateWaitEvents();

    SOCKET m_hSocket;
    std::atomic<uint8_t> m_iFlags{0};
    std::atomic<bool> m_bWriteArmed{false}; // POSIX: write readiness is watched
    bool m_bClosePending = false;           // Windows: the peer closed with data still unread
};

class CSocket
{
public:
    // Creates the socket; throws CSocketException when it cannot be created or TCP_NODELAY set.
    CSocket(int iFamily, int iType, int iProtocol, bool bNoDelay);
    virtual ~CSocket();
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    virtual int Close();
    // Ends both directions of a connection but keeps the descriptor.
    void Shutdown();
    // Close, read and write events; a second call keeps the first object.
    virtual bool CreateNetworkEvent();
    virtual int Receive(void* pBuffer, int iLength);
    // One send. Above 1 MiB the send buffer is set to 0 for the call and restored afterwards.
    // bMoreFollows: the caller sends the rest of the same frame next, so the stack may hold these
    // bytes back to leave with it (a small frame then travels in one segment, not two).
    virtual int Send(const void* pBuffer, int iLength, bool bMoreFollows = false);

    // -1 at once when the host does not resolve; throws CSocketException when connect fails.
    int Connect(const char* pszHost, uint16_t iPort);
    int SendTo(const char* pszHost, uint16_t iPort, const void* pBuffer, int iLength);
    // Close and read events only (datagram sockets).
    bool CreateReadNetworkEvent();

    SOCKET GetHandle() const { return m_hSocket; }
    CNetworkEvent* GetNetworkEvent() const { return m_pNetworkEvent; }

protected:
    explicit CSocket(SOCKET hAdopted) : m_hSocket(hAdopted) { AcquireSocketLibrary(); }
    bool CreateEventWith(uint8_t iFlags);

    SOCKET m_hSocket = INVALID_SOCKET;
    CNetworkEvent* m_pNetworkEvent = nullptr;
};

class CStreamSocket : public CSocket
{
public:
    explicit CStreamSocket(bool bNoDelay);
    // Takes over a connected socket, such as one a listener accepted.
    static CStreamSocket* Adopt(SOCKET hSocket);
    ~CStreamSocket() override = default;

private:
    explicit CStreamSocket(SOCKET hAdopted) : CSocket(hAdopted) {}
};

// A TCP listener on 127.0.0.1 only: the service takes clients from this machine.
class CListenSocket : public CSocket
{
public:
    // Bound to 127.0.0.1 and the port (0: an ephemeral one; reuse-address on POSIX), listening,
    // with accept and close events. Throws CSocketException, with the socket closed, when any step
    // fails.
    explicit CListenSocket(uint16_t iPort);
    ~CListenSocket() override = default;

    uint16_t GetPort() const;
    // The next waiting connection, with TCP_NODELAY set (answers are small frames that would
    // otherwise wait for the client's delayed acknowledgement); null with *pError set when none
    // could be taken.
    CStreamSocket* Accept(int* pError);
    // An accept error that needs no pause: nothing was waiting, or the peer gave up first.
    static bool IsTransientAcceptError(int iError);
};

class CMulticastSocket : public CSocket
{
public:
    // Reuse-address, bound to the group and port, member of the group on the interface (or any),
    // the given time-to-live, the interface as multicast interface. Throws
    // CSocketException, with the socket closed, when any step fails.
    CMulticastSocket(const char* pszGroup, uint16_t iPort, const char* pszInterface,
                     int iTimeToLive);
    ~CMulticastSocket() override = default;
};
