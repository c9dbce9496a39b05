// SPDX-License-Identifier: MIT
// Exceptions on POSIX: errno stands for the last error, strerror_r for the message table.

#include "exceptions.h"
#include "trace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace
{
// The GNU strerror_r returns its text; the XSI one fills the buffer. Both are handled.
const char* SystemMessage(int iCode, char* pBuffer, size_t iSize)
{
    pBuffer[0] = '\0';
    auto result = ::strerror_r(iCode, pBuffer, iSize);
    if constexpr (std::is_same_v<decltype(result), char*>)
        return result;
    else
        return result == 0 ? pBuffer : nullptr;
}
} // namespace

CExceptionBase& CExceptionBase::operator=(const CExceptionBase& other)
{
    if (this != &other)
    {
        delete[] m_pszErrorText;
        m_pszErrorText = nullptr;
        m_iErrorCode = other.m_iErrorCode;
        m_iErrorSource = other.m_iErrorSource;
    }
    return *this;
}

CExceptionBase::~CExceptionBase()
{
    delete[] m_pszErrorText;
}

const char* CExceptionBase::GetErrorText()
{
    delete[] m_pszErrorText;
    m_pszErrorText = nullptr;
    const char* pszSource = nullptr;
    char buffer[256];
    if (m_iErrorSource == SOURCE_LIBRARY)
        pszSource = "Unknown error";
    else if (m_iErrorSource == SOURCE_SYSTEM)
        pszSource = SystemMessage(m_iErrorCode, buffer, sizeof buffer);
    if (pszSource)
    {
        const size_t n = std::strlen(pszSource);
        m_pszErrorText = new char[n + 1];
        std::memcpy(m_pszErrorText, pszSource, n + 1);
    }
    return m_pszErrorText;
}

void CExceptionBase::Report()
{
    const char* pszText = GetErrorText();
    Trace("Exception (Error code = %d) : %s\n", m_iErrorCode, pszText ? pszText : "<null>");
}

CSocketException::CSocketException() : CExceptionBase(errno, SOURCE_SYSTEM) {}

CSystemException::CSystemException() : CExceptionBase(errno, SOURCE_SYSTEM) {}
