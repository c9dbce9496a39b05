// SPDX-License-Identifier: MIT
// The library's exceptions. The transport throws them by value; every catch site takes a copy as
// CExceptionBase, calls Report and degrades (a null socket, a removed connection, port 0).
#pragma once

#include <cstddef>
#include <cstdint>

class CExceptionBase
{
public:
    static constexpr int32_t SOURCE_LIBRARY = 0; // text "Unknown error"
    static constexpr int32_t SOURCE_SYSTEM = 1;  // text from the system's error table

    CExceptionBase(int32_t iErrorCode, int32_t iErrorSource)
        : m_iErrorCode(iErrorCode), m_iErrorSource(iErrorSource)
    {
    }
    // A copy takes code and source and builds its own text when asked.
    CExceptionBase(const CExceptionBase& other)
        : m_iErrorCode(other.m_iErrorCode), m_iErrorSource(other.m_iErrorSource)
    {
    }
    // Never assigned: every catch site copies what it caught.
    CExceptionBase& operator=(const CExceptionBase& other) = delete;
    virtual ~CExceptionBase();

    int32_t GetErrorCode() const { return m_iErrorCode; }

    // Builds the text anew: "Unknown error" for library errors, the system's message for system
    // errors, null for any other source or a code the system has no message for.
    const char* GetErrorText();
    // Writes "Exception (Error code = %d) : %s\n" through Trace, "<null>" standing for no text.
    virtual void Report();

protected:
    // The system's message for a code, in pBuffer or a static text; null when it has none.
    static const char* SystemMessage(int32_t iCode, char* pBuffer, size_t iSize);

    int32_t m_iErrorCode;
    int32_t m_iErrorSource;
    char* m_pszErrorText = nullptr;
};

// A socket call failed; the code is the socket library's last error at construction.
class CSocketException : public CExceptionBase
{
public:
    CSocketException();
};

// The system's codes for the library's own refusals, so that their texts read as the system's:
// EMSGSIZE, ENOBUFS, ENOMEM on POSIX; WSAEMSGSIZE, WSAENOBUFS, ERROR_NOT_ENOUGH_MEMORY on Windows.
extern const int32_t SYSTEM_ERROR_MESSAGE_TOO_LONG;
extern const int32_t SYSTEM_ERROR_NO_BUFFERS;
extern const int32_t SYSTEM_ERROR_NO_MEMORY;

// A frame read or write met a socket error other than would-block; the system's last error.
class CSystemException : public CExceptionBase
{
public:
    CSystemException();
    explicit CSystemException(int32_t iErrorCode) : CExceptionBase(iErrorCode, SOURCE_SYSTEM) {}
};

// The peer closed the connection during a transfer, or a thread could not start; code 0.
class CSocketLibException : public CExceptionBase
{
public:
    explicit CSocketLibException(int32_t iErrorCode = 0)
        : CExceptionBase(iErrorCode, SOURCE_LIBRARY)
    {
    }
};
