// SPDX-License-Identifier: MIT
// Exceptions on Windows: GetLastError and WSAGetLastError for the last error, FormatMessage for
// the message table.

#include <windows.h>
#include <winsock2.h>

#include "exceptions.h"

const char* CExceptionBase::SystemMessage(int32_t iCode, char* pBuffer, size_t iSize)
{
    DWORD n =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(iCode), 0, pBuffer, static_cast<DWORD>(iSize), nullptr);
    if (n == 0)
        return nullptr;
    // The table's texts end in a line break, which a trace line adds by itself.
    while (n > 0 && (pBuffer[n - 1] == '\r' || pBuffer[n - 1] == '\n' || pBuffer[n - 1] == ' '))
        pBuffer[--n] = '\0';
    return pBuffer;
}

const int32_t SYSTEM_ERROR_MESSAGE_TOO_LONG = WSAEMSGSIZE;
const int32_t SYSTEM_ERROR_NO_BUFFERS = WSAENOBUFS;
const int32_t SYSTEM_ERROR_NO_MEMORY = ERROR_NOT_ENOUGH_MEMORY;

CSocketException::CSocketException() : CExceptionBase(::WSAGetLastError(), SOURCE_SYSTEM) {}

CSystemException::CSystemException()
    : CExceptionBase(static_cast<int32_t>(::GetLastError()), SOURCE_SYSTEM)
{
}
