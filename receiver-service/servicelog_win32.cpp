// SPDX-License-Identifier: MIT
// The service log's file on Windows: opened for appending and shared with every reader, and with
// whoever deletes or renames it, as a log that others tail must be.

#include "servicelog.h"
#include "utf8path.h"

#include <windows.h>

#include <filesystem>
#include <stdexcept>

namespace
{
HANDLE Native(intptr_t hFile)
{
    return reinterpret_cast<HANDLE>(hFile);
}
} // namespace

CServiceLog::FileHandle CServiceLog::OpenFile(const std::string& path)
{
    const std::wstring wide = PathFromUtf8(path).wstring();
    // A reparse point under the log's name is opened as itself, not followed: a clear-log must
    // never truncate whatever file a link points at.
    const HANDLE hFile = ::CreateFileW(
        wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open log file " + path + ": error " +
                                 std::to_string(::GetLastError()));
    return reinterpret_cast<FileHandle>(hFile);
}

void CServiceLog::AppendToFile(FileHandle hFile, const std::string& bytes)
{
    // Both offsets all ones: the write goes to the end as it is now, whatever a clear did
    // meanwhile.
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD iWritten = 0;
    ::WriteFile(Native(hFile), bytes.data(), static_cast<DWORD>(bytes.size()), &iWritten, &atEnd);
}

void CServiceLog::TruncateFile(FileHandle hFile)
{
    FILE_END_OF_FILE_INFO end{};
    ::SetFileInformationByHandle(Native(hFile), FileEndOfFileInfo, &end, sizeof end);
}

void CServiceLog::CloseFile(FileHandle hFile)
{
    if (hFile != -1)
        ::CloseHandle(Native(hFile));
}

std::tm CServiceLog::LocalTime(std::time_t seconds)
{
    std::tm local{};
    ::localtime_s(&local, &seconds);
    return local;
}
