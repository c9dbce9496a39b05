// SPDX-License-Identifier: MIT
// Socket layer on Windows: Winsock 2, an event object per socket selected with WSAEventSelect,
// WSAGetLastError for the last error.

#include "exceptions.h"
#include "sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

namespace
{
constexpr int LARGE_SEND = 1048576;

sockaddr_in MakeAddress(uint32_t iAddress, uint16_t iPort)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(iPort);
    address.sin_addr.s_addr = iAddress;
    return address;
}

WSAEVENT Native(WaitHandleValue hHandle)
{
    return reinterpret_cast<WSAEVENT>(hHandle);
}

long SelectMask(uint8_t iFlags)
{
    long iMask = 0;
    if (iFlags & SOCKET_EVENT_READ)
        iMask |= FD_READ;
    if (iFlags & SOCKET_EVENT_WRITE)
        iMask |= FD_WRITE;
    if (iFlags & SOCKET_EVENT_ACCEPT)
        iMask |= FD_ACCEPT;
    if (iFlags & SOCKET_EVENT_CLOSE)
        iMask |= FD_CLOSE;
    return iMask;
}

// Child processes (the service programs start each other) must not inherit our sockets.
void KeepFromChildren(SOCKET hSocket)
{
    ::SetHandleInformation(reinterpret_cast<HANDLE>(hSocket), HANDLE_FLAG_INHERIT, 0);
}
} // namespace

bool StartSystemSockets()
{
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void StopSystemSockets()
{
    ::WSACleanup();
}

int GetSocketLastError()
{
    return ::WSAGetLastError();
}

bool IsWouldBlock(int iError)
{
    return iError == WSAEWOULDBLOCK;
}

uint32_t ResolveAddress(const char* pszHost)
{
    if (!pszHost)
        return ADDRESS_NONE;
    if (std::strcmp(pszHost, "127.0.0.1") == 0)
        return inet_addr(pszHost);
    // The name look-up needs the socket library even when no socket is open yet.
    if (!AcquireSocketLibrary())
        return ADDRESS_NONE;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* pResult = nullptr;
    uint32_t iAddress = ADDRESS_NONE;
    if (::getaddrinfo(pszHost, nullptr, &hints, &pResult) == 0 && pResult)
    {
        iAddress = reinterpret_cast<sockaddr_in*>(pResult->ai_addr)->sin_addr.s_addr;
        ::freeaddrinfo(pResult);
    }
    ReleaseSocketLibrary();
    return iAddress;
}

// --- network event -----------------------------------------------------------------------------

CNetworkEvent::CNetworkEvent(CSocket* pSocket, uint8_t iFlags)
    : m_hSocket(pSocket ? pSocket->GetHandle() : INVALID_SOCKET)
{
    if (m_hSocket == INVALID_SOCKET)
        return;
    const WSAEVENT hEvent = ::WSACreateEvent();
    if (hEvent == WSA_INVALID_EVENT)
        return;
    SetHandle(reinterpret_cast<WaitHandleValue>(hEvent), 0);
    Select(iFlags);
}

CNetworkEvent::~CNetworkEvent()
{
    if (m_hHandle != NO_HANDLE)
        ::WSACloseEvent(Native(m_hHandle));
}

// WSAEventSelect also puts the socket in non-blocking mode. Winsock itself keeps the write rule:
// FD_WRITE is recorded once the socket is connected and then only after a send failed with
// WSAEWOULDBLOCK.
void CNetworkEvent::Select(uint8_t iFlags)
{
    if (m_hHandle == NO_HANDLE)
        return;
    m_iFlags = iFlags;
    m_bClosePending = false;
    ::WSAEventSelect(m_hSocket, Native(m_hHandle), SelectMask(iFlags));
}

// Winsock records FD_WRITE again after a send that would block by itself.
void CNetworkEvent::ArmWrite() {}

void CNetworkEvent::UpdateWaitEvents() {}

uint8_t CNetworkEvent::Enumerate()
{
    if (m_hHandle == NO_HANDLE)
        return SOCKET_EVENT_ERROR;
    WSANETWORKEVENTS events{};
    if (::WSAEnumNetworkEvents(m_hSocket, Native(m_hHandle), &events) != 0)
        return SOCKET_EVENT_ERROR;
    const uint8_t iFlags = m_iFlags;
    uint8_t iResult = 0;
    if (events.lNetworkEvents & FD_ACCEPT)
        iResult |= SOCKET_EVENT_ACCEPT;
    if (events.lNetworkEvents & FD_READ)
        iResult |= SOCKET_EVENT_READ;
    if (events.lNetworkEvents & FD_WRITE)
        iResult |= SOCKET_EVENT_WRITE;
    if ((events.lNetworkEvents & FD_CLOSE) && (iFlags & SOCKET_EVENT_CLOSE))
        m_bClosePending = true;
    if (m_bClosePending)
    {
        // FD_CLOSE comes once, possibly before the reader took the last bytes: report reading
        // until nothing is left, and the close after that, as the POSIX side does. The event is
        // set again by hand because Winsock records nothing more for this socket.
        u_long iWaiting = 0;
        if (::ioctlsocket(m_hSocket, FIONREAD, &iWaiting) == 0 && iWaiting > 0)
        {
            iResult |= SOCKET_EVENT_READ;
            ::WSASetEvent(Native(m_hHandle));
        }
        else
        {
            iResult = static_cast<uint8_t>((iResult & ~SOCKET_EVENT_READ) | SOCKET_EVENT_CLOSE);
            m_bClosePending = false;
        }
    }
    return iResult;
}

// --- sockets -----------------------------------------------------------------------------------

CSocket::CSocket(int iFamily, int iType, int iProtocol, bool bNoDelay)
{
    if (!AcquireSocketLibrary())
        throw CSocketException();
    m_hSocket = ::WSASocketW(iFamily, iType, iProtocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (m_hSocket == INVALID_SOCKET)
    {
        CSocketException error;
        ReleaseSocketLibrary(); // a constructor that throws runs no destructor
        throw error;
    }
    KeepFromChildren(m_hSocket);
    if (bNoDelay)
    {
        const BOOL one = TRUE;
        if (::setsockopt(m_hSocket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                         sizeof one) != 0)
        {
            CSocketException error;
            Close();
            ReleaseSocketLibrary();
            throw error;
        }
    }
}

int CSocket::Close()
{
    if (m_hSocket == INVALID_SOCKET)
        return -1;
    const int r = ::closesocket(m_hSocket);
    m_hSocket = INVALID_SOCKET;
    return r;
}

void CSocket::Shutdown()
{
    if (m_hSocket != INVALID_SOCKET)
        ::shutdown(m_hSocket, SD_BOTH);
}

int CSocket::Receive(void* pBuffer, int iLength)
{
    if (m_hSocket == INVALID_SOCKET)
        return -1;
    return ::recv(m_hSocket, static_cast<char*>(pBuffer), iLength, 0);
}

// Winsock has no "more follows" hint; a frame's pieces leave as they are sent.
int CSocket::Send(const void* pBuffer, int iLength, bool /*bMoreFollows*/)
{
    if (m_hSocket == INVALID_SOCKET)
        return -1;
    int iOldSize = 0;
    bool bRestore = false;
    if (iLength > LARGE_SEND)
    {
        int n = sizeof iOldSize;
        if (::getsockopt(m_hSocket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&iOldSize),
                         &n) == 0)
        {
            const int zero = 0;
            bRestore = ::setsockopt(m_hSocket, SOL_SOCKET, SO_SNDBUF,
                                    reinterpret_cast<const char*>(&zero), sizeof zero) == 0;
        }
    }
    const int r = ::send(m_hSocket, static_cast<const char*>(pBuffer), iLength, 0);
    const int iError = ::WSAGetLastError();
    if (bRestore)
        ::setsockopt(m_hSocket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&iOldSize),
                     sizeof iOldSize);
    ::WSASetLastError(iError);
    return r;
}

int CSocket::Connect(const char* pszHost, uint16_t iPort)
{
    const uint32_t iAddress = ResolveAddress(pszHost);
    if (iAddress == ADDRESS_NONE)
        return -1;
    const sockaddr_in address = MakeAddress(iAddress, iPort);
    if (::connect(m_hSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw CSocketException();
    return 0;
}

int CSocket::SendTo(const char* pszHost, uint16_t iPort, const void* pBuffer, int iLength)
{
    const uint32_t iAddress = ResolveAddress(pszHost);
    if (iAddress == ADDRESS_NONE || m_hSocket == INVALID_SOCKET)
        return -1;
    const sockaddr_in address = MakeAddress(iAddress, iPort);
    return ::sendto(m_hSocket, static_cast<const char*>(pBuffer), iLength, 0,
                    reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

CStreamSocket::CStreamSocket(bool bNoDelay) : CSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, bNoDelay)
{
}

// No SO_REUSEADDR: on Windows it would let another program take the port from under the listener,
// and a listener's port in TIME_WAIT does not block a new bind there anyway.
CListenSocket::CListenSocket(uint16_t iPort)
    : CSocket(SOCKET_FAMILY_IPV4, SOCKET_TYPE_STREAM, SOCKET_PROTOCOL_TCP, false)
{
    const sockaddr_in address = MakeAddress(htonl(INADDR_LOOPBACK), iPort);
    if (::bind(m_hSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_hSocket, 64) != 0)
    {
        CSocketException error;
        Close();
        throw error;
    }
    CreateEventWith(SOCKET_EVENT_ACCEPT | SOCKET_EVENT_CLOSE);
}

uint16_t CListenSocket::GetPort() const
{
    sockaddr_in address{};
    int n = sizeof address;
    ::getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&address), &n);
    return ntohs(address.sin_port);
}

CStreamSocket* CListenSocket::Accept(int* pError)
{
    const SOCKET hSocket = ::accept(m_hSocket, nullptr, nullptr);
    if (hSocket == INVALID_SOCKET)
    {
        if (pError)
            *pError = ::WSAGetLastError();
        return nullptr;
    }
    KeepFromChildren(hSocket);
    // An accepted socket inherits the listener's event selection; its own network event replaces
    // it.
    ::WSAEventSelect(hSocket, nullptr, 0);
    u_long blocking = 0;
    ::ioctlsocket(hSocket, FIONBIO, &blocking);
    const BOOL one = TRUE;
    ::setsockopt(hSocket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                 sizeof one);
    return CStreamSocket::Adopt(hSocket);
}

bool CListenSocket::IsTransientAcceptError(int iError)
{
    return iError == WSAEWOULDBLOCK || iError == WSAECONNRESET || iError == WSAEINTR;
}

// Windows cannot bind a socket to a multicast address, and Linux (which Wine passes through)
// delivers the group to a socket bound to any address that joined it: any address with the
// loopback interface joined is the bind that works on both.
CMulticastSocket::CMulticastSocket(const char* pszGroup, uint16_t iPort, const char* pszInterface,
                                   int iTimeToLive)
    : CSocket(AF_INET, SOCK_DGRAM, 0, false)
{
    auto fail = [this]
    {
        CSocketException error;
        Close();
        throw error;
    };
    const BOOL one = TRUE;
    if (::setsockopt(m_hSocket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one),
                     sizeof one) != 0)
        fail();
    const uint32_t iGroup = ResolveAddress(pszGroup);
    const uint32_t iInterface = pszInterface ? inet_addr(pszInterface) : htonl(INADDR_ANY);
    const sockaddr_in bindAddress = MakeAddress(htonl(INADDR_ANY), iPort);
    if (::bind(m_hSocket, reinterpret_cast<const sockaddr*>(&bindAddress), sizeof bindAddress) != 0)
        fail();
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = iGroup;
    membership.imr_interface.s_addr = iInterface;
    if (::setsockopt(m_hSocket, IPPROTO_IP, IP_ADD_MEMBERSHIP,
                     reinterpret_cast<const char*>(&membership), sizeof membership) != 0)
        fail();
    const DWORD ttl = static_cast<DWORD>(iTimeToLive);
    if (::setsockopt(m_hSocket, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl),
                     sizeof ttl) != 0)
        fail();
    if (pszInterface)
    {
        in_addr outgoing{};
        outgoing.s_addr = iInterface;
        if (::setsockopt(m_hSocket, IPPROTO_IP, IP_MULTICAST_IF,
                         reinterpret_cast<const char*>(&outgoing), sizeof outgoing) != 0)
            fail();
    }
    const DWORD loop = 1; // other processes on this host must hear us
    if (::setsockopt(m_hSocket, IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<const char*>(&loop),
                     sizeof loop) != 0)
        fail();
}
