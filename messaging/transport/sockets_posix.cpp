// SPDX-License-Identifier: MIT
// Socket layer on POSIX: BSD sockets, poll for the network events, errno for the last error.

#include "exceptions.h"
#include "sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
} // namespace

// BSD sockets need no start-up.
bool StartSystemSockets()
{
    return true;
}

void StopSystemSockets() {}

int GetSocketLastError()
{
    return errno;
}

bool IsWouldBlock(int iError)
{
    return iError == EWOULDBLOCK || iError == EAGAIN;
}

uint32_t ResolveAddress(const char* pszHost)
{
    if (!pszHost)
        return ADDRESS_NONE;
    if (std::strcmp(pszHost, "127.0.0.1") == 0)
        return inet_addr(pszHost);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* pResult = nullptr;
    if (::getaddrinfo(pszHost, nullptr, &hints, &pResult) != 0 || !pResult)
        return ADDRESS_NONE;
    const uint32_t iAddress = reinterpret_cast<sockaddr_in*>(pResult->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(pResult);
    return iAddress;
}

// --- network event -----------------------------------------------------------------------------

CNetworkEvent::CNetworkEvent(CSocket* pSocket, uint8_t iFlags)
    : m_hSocket(pSocket ? pSocket->GetHandle() : INVALID_SOCKET)
{
    if (m_hSocket != INVALID_SOCKET)
    {
        SetHandle(m_hSocket, 0);
        Select(iFlags);
    }
}

// The descriptor is the socket's own; the socket closes it.
CNetworkEvent::~CNetworkEvent() = default;

void CNetworkEvent::Select(uint8_t iFlags)
{
    if (m_hHandle == NO_HANDLE)
        return;
    const int iMode = ::fcntl(m_hSocket, F_GETFL);
    if (iMode >= 0)
        ::fcntl(m_hSocket, F_SETFL, iMode | O_NONBLOCK);
    m_iFlags = iFlags;
    m_bWriteArmed = (iFlags & SOCKET_EVENT_WRITE) != 0;
    UpdateWaitEvents();
}

void CNetworkEvent::ArmWrite()
{
    if (m_iFlags & SOCKET_EVENT_WRITE)
    {
        m_bWriteArmed = true;
        UpdateWaitEvents();
    }
}

void CNetworkEvent::UpdateWaitEvents()
{
    short iEvents = 0;
    if (m_iFlags & (SOCKET_EVENT_READ | SOCKET_EVENT_ACCEPT))
        iEvents |= POLLIN;
    if (m_iFlags & SOCKET_EVENT_CLOSE)
        iEvents |= POLLRDHUP;
    if (m_bWriteArmed)
        iEvents |= POLLOUT;
    SetWaitEvents(iEvents);
}

uint8_t CNetworkEvent::Enumerate()
{
    if (m_hHandle == NO_HANDLE)
        return SOCKET_EVENT_ERROR;
    pollfd pfd{m_hSocket, GetWaitEvents(), 0};
    int r;
    do
        r = ::poll(&pfd, 1, 0);
    while (r < 0 && errno == EINTR);
    if (r < 0 || (pfd.revents & POLLNVAL))
        return SOCKET_EVENT_ERROR;

    const uint8_t iFlags = m_iFlags;
    uint8_t iResult = 0;
    if (pfd.revents & POLLIN)
        iResult |= (iFlags & SOCKET_EVENT_ACCEPT) ? SOCKET_EVENT_ACCEPT : SOCKET_EVENT_READ;
    if ((pfd.revents & (POLLRDHUP | POLLHUP | POLLERR)) && (iFlags & SOCKET_EVENT_CLOSE))
    {
        // The close is reported once nothing is left to read, so that the data the peer sent
        // before closing reaches the reader first.
        char c;
        if (::recv(m_hSocket, &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0)
            iResult |= SOCKET_EVENT_READ;
        else
            iResult |= SOCKET_EVENT_CLOSE;
    }
    if ((pfd.revents & POLLOUT) && m_bWriteArmed)
    {
        iResult |= SOCKET_EVENT_WRITE;
        m_bWriteArmed = false;
        UpdateWaitEvents();
    }
    return iResult;
}

// --- sockets -----------------------------------------------------------------------------------

CSocket::CSocket(int iFamily, int iType, int iProtocol, bool bNoDelay)
{
    AcquireSocketLibrary();
    m_hSocket = ::socket(iFamily, iType | SOCK_CLOEXEC, iProtocol);
    if (m_hSocket == INVALID_SOCKET)
    {
        CSocketException error;
        ReleaseSocketLibrary(); // a constructor that throws runs no destructor
        throw error;
    }
    if (bNoDelay)
    {
        const int one = 1;
        if (::setsockopt(m_hSocket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0)
        {
            CSocketException error;
            Close(); // nothing else owns the descriptor: release it before reporting
            ReleaseSocketLibrary();
            throw error;
        }
    }
}

int CSocket::Close()
{
    if (m_hSocket == INVALID_SOCKET)
        return -1;
    const int r = ::close(m_hSocket);
    m_hSocket = INVALID_SOCKET;
    return r;
}

void CSocket::Shutdown()
{
    if (m_hSocket != INVALID_SOCKET)
        ::shutdown(m_hSocket, SHUT_RDWR);
}

int CSocket::Receive(void* pBuffer, int iLength)
{
    if (m_hSocket == INVALID_SOCKET)
        return -1;
    int r;
    do
        r = static_cast<int>(::recv(m_hSocket, pBuffer, static_cast<size_t>(iLength), 0));
    while (r < 0 && errno == EINTR);
    return r;
}

int CSocket::Send(const void* pBuffer, int iLength, bool bMoreFollows)
{
    if (m_hSocket == INVALID_SOCKET)
        return -1;
    int iOldSize = 0;
    bool bRestore = false;
    if (iLength > LARGE_SEND)
    {
        socklen_t n = sizeof iOldSize;
        if (::getsockopt(m_hSocket, SOL_SOCKET, SO_SNDBUF, &iOldSize, &n) == 0)
        {
            const int zero = 0;
            bRestore = ::setsockopt(m_hSocket, SOL_SOCKET, SO_SNDBUF, &zero, sizeof zero) == 0;
        }
    }
    int r;
    do
        r = static_cast<int>(::send(m_hSocket, pBuffer, static_cast<size_t>(iLength),
                                    MSG_NOSIGNAL | (bMoreFollows ? MSG_MORE : 0)));
    while (r < 0 && errno == EINTR);
    const int iError = errno;
    if (r < 0 && IsWouldBlock(iError) && m_pNetworkEvent)
        m_pNetworkEvent->ArmWrite();
    if (bRestore)
        ::setsockopt(m_hSocket, SOL_SOCKET, SO_SNDBUF, &iOldSize, sizeof iOldSize);
    errno = iError;
    return r;
}

int CSocket::Connect(const char* pszHost, uint16_t iPort)
{
    const uint32_t iAddress = ResolveAddress(pszHost);
    if (iAddress == ADDRESS_NONE)
        return -1;
    const sockaddr_in address = MakeAddress(iAddress, iPort);
    int r;
    do
        r = ::connect(m_hSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    while (r < 0 && errno == EINTR);
    if (r != 0)
        throw CSocketException();
    return 0;
}

int CSocket::SendTo(const char* pszHost, uint16_t iPort, const void* pBuffer, int iLength)
{
    const uint32_t iAddress = ResolveAddress(pszHost);
    if (iAddress == ADDRESS_NONE || m_hSocket == INVALID_SOCKET)
        return -1;
    const sockaddr_in address = MakeAddress(iAddress, iPort);
    return static_cast<int>(::sendto(m_hSocket, pBuffer, static_cast<size_t>(iLength), MSG_NOSIGNAL,
                                     reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

CStreamSocket::CStreamSocket(bool bNoDelay) : CSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, bNoDelay)
{
}

CListenSocket::CListenSocket(uint16_t iPort)
    : CSocket(SOCKET_FAMILY_IPV4, SOCKET_TYPE_STREAM, SOCKET_PROTOCOL_TCP, false)
{
    const int one = 1;
    ::setsockopt(m_hSocket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
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
    socklen_t n = sizeof address;
    ::getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&address), &n);
    return ntohs(address.sin_port);
}

CStreamSocket* CListenSocket::Accept(int* pError)
{
    const int fd = ::accept4(m_hSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
    {
        if (pError)
            *pError = errno;
        return nullptr;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return CStreamSocket::Adopt(fd);
}

bool CListenSocket::IsTransientAcceptError(int iError)
{
    return IsWouldBlock(iError) || iError == ECONNABORTED || iError == EINTR;
}

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
    const int one = 1;
    if (::setsockopt(m_hSocket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
        fail();
    const uint32_t iGroup = ResolveAddress(pszGroup);
    const uint32_t iInterface = pszInterface ? inet_addr(pszInterface) : htonl(INADDR_ANY);
    // Linux delivers multicast only to sockets bound to the group or to any address; binding to
    // the group keeps unicast datagrams to the port away.
    const sockaddr_in bindAddress = MakeAddress(iGroup, iPort);
    if (::bind(m_hSocket, reinterpret_cast<const sockaddr*>(&bindAddress), sizeof bindAddress) != 0)
        fail();
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = iGroup;
    membership.imr_interface.s_addr = iInterface;
    if (::setsockopt(m_hSocket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0)
        fail();
    const int ttl = iTimeToLive;
    if (::setsockopt(m_hSocket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0)
        fail();
    if (pszInterface)
    {
        in_addr outgoing{};
        outgoing.s_addr = iInterface;
        if (::setsockopt(m_hSocket, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing) != 0)
            fail();
    }
    const unsigned char loop = 1; // other processes on this host must hear us
    if (::setsockopt(m_hSocket, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0)
        fail();
}
