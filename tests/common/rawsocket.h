// SPDX-License-Identifier: MIT
// Plain blocking sockets for the test peers, on BSD sockets or on Winsock, so that the peers share
// no code with the socket layer they test. Also the process's CPU time, for the idle checks.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>

using RawSocket = SOCKET;
inline constexpr RawSocket NO_RAW_SOCKET = INVALID_SOCKET;
inline constexpr int RAW_SEND_FLAGS = 0;

// The peers use Winsock on their own, before and after the library holds it.
inline const bool g_bRawSocketsStarted = []
{
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();

inline void CloseRaw(RawSocket s)
{
    ::closesocket(s);
}
inline void ShutRaw(RawSocket s)
{
    ::shutdown(s, SD_BOTH);
}
// Ends a blocking accept on another thread. Winsock wakes it only for a close; returns whether
// the listener is closed.
inline bool WakeAccept(RawSocket s)
{
    ::closesocket(s);
    return true;
}
// Whether something (data or the peer's close) can be read within the time.
inline bool WaitReadable(RawSocket s, int iTimeoutMs)
{
    WSAPOLLFD p{s, POLLRDNORM, 0};
    return ::WSAPoll(&p, 1, iTimeoutMs) > 0;
}
inline void SetReceiveTimeout(RawSocket s, int iSeconds)
{
    const DWORD ms = static_cast<DWORD>(iSeconds) * 1000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}
// Reads without waiting: the count, 0 at the peer's close, -1 when nothing is there (or on error).
inline int ReceiveNow(RawSocket s, uint8_t* p, size_t n, bool bPeek = false)
{
    if (!WaitReadable(s, 0))
        return -1;
    return ::recv(s, reinterpret_cast<char*>(p), static_cast<int>(n), bPeek ? MSG_PEEK : 0);
}
// Sends what the socket takes now: the count, 0 when it takes nothing now, -1 on an error.
inline int SendNow(RawSocket s, const uint8_t* p, size_t n)
{
    u_long iNonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &iNonBlocking);
    const int r = ::send(s, reinterpret_cast<const char*>(p), static_cast<int>(n), 0);
    return r < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : r;
}
inline bool WaitWritable(RawSocket s, int iTimeoutMs)
{
    WSAPOLLFD p{s, POLLWRNORM, 0};
    return ::WSAPoll(&p, 1, iTimeoutMs) > 0;
}
inline double CpuSeconds()
{
    FILETIME created, ended, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto seconds = [](const FILETIME& t)
    { return ((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
}
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using RawSocket = int;
inline constexpr RawSocket NO_RAW_SOCKET = -1;
inline constexpr int RAW_SEND_FLAGS = MSG_NOSIGNAL;

inline void CloseRaw(RawSocket s)
{
    ::close(s);
}
inline void ShutRaw(RawSocket s)
{
    ::shutdown(s, SHUT_RDWR);
}
// Linux wakes an accept for a shutdown; the listener stays open for its owner to close once the
// accepting thread is gone (a descriptor closed under it could be reused meanwhile).
inline bool WakeAccept(RawSocket s)
{
    ::shutdown(s, SHUT_RDWR);
    return false;
}
inline bool WaitReadable(RawSocket s, int iTimeoutMs)
{
    pollfd p{s, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, iTimeoutMs) > 0;
}
inline void SetReceiveTimeout(RawSocket s, int iSeconds)
{
    const timeval bound{iSeconds, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
}
inline int ReceiveNow(RawSocket s, uint8_t* p, size_t n, bool bPeek = false)
{
    return static_cast<int>(::recv(s, p, n, MSG_DONTWAIT | (bPeek ? MSG_PEEK : 0)));
}
inline int SendNow(RawSocket s, const uint8_t* p, size_t n)
{
    const auto r = ::send(s, p, n, MSG_DONTWAIT | MSG_NOSIGNAL);
    return r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : static_cast<int>(r);
}
inline bool WaitWritable(RawSocket s, int iTimeoutMs)
{
    pollfd p{s, POLLOUT, 0};
    return ::poll(&p, 1, iTimeoutMs) > 0;
}
inline double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
#endif

inline int SendRaw(RawSocket s, const uint8_t* p, size_t n)
{
    return static_cast<int>(
        ::send(s, reinterpret_cast<const char*>(p), static_cast<int>(n), RAW_SEND_FLAGS));
}
inline int ReceiveRaw(RawSocket s, uint8_t* p, size_t n)
{
    return static_cast<int>(::recv(s, reinterpret_cast<char*>(p), static_cast<int>(n), 0));
}
inline RawSocket AcceptRaw(RawSocket listener)
{
    return ::accept(listener, nullptr, nullptr);
}
