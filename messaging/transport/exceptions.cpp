// SPDX-License-Identifier: MIT
// The exceptions' parts that every platform shares; the platform file gives the system's message
// for a code and the last error.

#include "exceptions.h"
#include "trace.h"

#include <cstring>

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
