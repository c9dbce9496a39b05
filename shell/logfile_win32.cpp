// SPDX-License-Identifier: MIT
// The log reader's file on Windows.

#include "logreader.h"
#include "utf8path.h"

#include <windows.h>

#include <filesystem>

namespace
{
HANDLE Native(intptr_t hFile)
{
    return reinterpret_cast<HANDLE>(hFile);
}

bool Identity(HANDLE hFile, BY_HANDLE_FILE_INFORMATION& info)
{
    return ::GetFileInformationByHandle(hFile, &info) != 0;
}
} // namespace

CLogFileReader::FileHandle CLogFileReader::OpenFile(const std::string& path, std::string* pError)
{
    // Shared for writing and deleting: the service goes on writing, clearing and replacing its
    // log while we read it.
    const HANDLE hFile = ::CreateFileW(PathFromUtf8(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        *pError = path + ": cannot be opened (error " + std::to_string(::GetLastError()) + ")";
        return NO_FILE;
    }
    if (::GetFileType(hFile) != FILE_TYPE_DISK)
    {
        *pError = path + ": not a regular file; not followed";
        ::CloseHandle(hFile);
        return NO_FILE;
    }
    return reinterpret_cast<FileHandle>(hFile);
}

void CLogFileReader::CloseFile(FileHandle hFile)
{
    ::CloseHandle(Native(hFile));
}

int64_t CLogFileReader::FileSize(FileHandle hFile)
{
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(Native(hFile), &size) ? size.QuadPart : -1;
}

bool CLogFileReader::IsSameFile(FileHandle hFile, const std::string& path)
{
    const HANDLE hNamed = ::CreateFileW(PathFromUtf8(path).c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hNamed == INVALID_HANDLE_VALUE)
        return true;
    BY_HANDLE_FILE_INFORMATION open{}, named{};
    const bool bSame =
        !Identity(Native(hFile), open) || !Identity(hNamed, named) ||
        (open.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
         open.nFileIndexHigh == named.nFileIndexHigh && open.nFileIndexLow == named.nFileIndexLow);
    ::CloseHandle(hNamed);
    return bSame;
}

long CLogFileReader::ReadAt(FileHandle hFile, char* pBuffer, size_t iSize, int64_t iOffset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(iOffset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(iOffset) >> 32);
    DWORD iRead = 0;
    if (!::ReadFile(Native(hFile), pBuffer, static_cast<DWORD>(iSize), &iRead, &at))
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return static_cast<long>(iRead);
}
