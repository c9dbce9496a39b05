// SPDX-License-Identifier: MIT
// Exceptions on POSIX: errno stands for the last error, strerror_r for the message table.

#include "exceptions.h"

#include <cerrno>
#include <cstring>
#include <type_traits>

// The GNU strerror_r returns its text; the XSI one fills the buffer. Both are handled.
const char* CExceptionBase::SystemMessage(int32_t iCode, char* pBuffer, size_t iSize)
{
    pBuffer[0] = '\0';
    auto result = ::strerror_r(iCode, pBuffer, iSize);
    if constexpr (std::is_same_v<decltype(result), char*>)
        return result;
    else
        return result == 0 ? pBuffer : nullptr;
}

const int32_t SYSTEM_ERROR_MESSAGE_TOO_LONG = EMSGSIZE;
const int32_t SYSTEM_ERROR_NO_BUFFERS = ENOBUFS;
const int32_t SYSTEM_ERROR_NO_MEMORY = ENOMEM;

CSocketException::CSocketException() : CExceptionBase(errno, SOURCE_SYSTEM) {}

CSystemException::CSystemException() : CExceptionBase(errno, SOURCE_SYSTEM) {}
