// SPDX-License-Identifier: MIT
// The figures' text file on Windows: a new file beside the target (CREATE_NEW under a random
// name), then MoveFileEx over it.

#include "textfile.h"
#include "utf8path.h"

#include <windows.h>

#include <random>

namespace
{
std::string Problem(const std::string& path, DWORD iError)
{
    char text[256] = {};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, iError, 0,
                     text, sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return path + ": " + message;
}
} // namespace

std::string CheckTextFileTarget(const std::string& path)
{
    const DWORD iAttributes = ::GetFileAttributesW(PathFromUtf8(path).c_str());
    if (iAttributes == INVALID_FILE_ATTRIBUTES)
    {
        const DWORD iError = ::GetLastError();
        return iError == ERROR_FILE_NOT_FOUND ? "" : Problem(path, iError);
    }
    return iAttributes &
                   (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)
               ? path + ": not a regular file; refused"
               : "";
}

std::string WriteTextFileAtomically(const std::string& path, const std::string& text)
{
    std::string problem = CheckTextFileTarget(path);
    if (!problem.empty())
        return problem;
    const std::filesystem::path target = PathFromUtf8(path);
    std::random_device random;
    std::filesystem::path temporary;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 16 && hFile == INVALID_HANDLE_VALUE; ++i)
    {
        temporary = target;
        temporary.replace_filename(L"." + target.filename().wstring() + L"." +
                                   std::to_wstring(random()));
        hFile = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            return Problem(path, ::GetLastError());
    }
    if (hFile == INVALID_HANDLE_VALUE)
        return Problem(path, ERROR_FILE_EXISTS);
    DWORD iWritten = 0;
    const bool bWritten =
        ::WriteFile(hFile, text.data(), static_cast<DWORD>(text.size()), &iWritten, nullptr) &&
        iWritten == text.size();
    DWORD iError = bWritten ? 0 : ::GetLastError();
    ::CloseHandle(hFile);
    if (!iError && !::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        iError = ::GetLastError();
    if (!iError)
        return "";
    ::DeleteFileW(temporary.c_str());
    return Problem(path, iError);
}
