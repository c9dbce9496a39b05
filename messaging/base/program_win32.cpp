// SPDX-License-Identifier: MIT
// Program set-up on Windows: UTF-8 arguments from the wide command line, binary standard output
// and error (no CR added before each LF), and a console that shows UTF-8. The program's own path
// is GetModuleFileNameW's.

#include "program.h"
#include "utf8path.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <filesystem>
#include <string>
#include <vector>

namespace
{
std::string Utf8(const wchar_t* psz)
{
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, psz, -1, nullptr, 0, nullptr, nullptr);
    std::string text(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
    if (n > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, psz, -1, text.data(), n, nullptr, nullptr);
    return text;
}
} // namespace

void SetUpProgram(int& argc, char**& argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);

    int iCount = 0;
    wchar_t** ppWide = ::CommandLineToArgvW(::GetCommandLineW(), &iCount);
    if (!ppWide)
        return;
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    for (int i = 0; i < iCount; ++i)
        texts.push_back(Utf8(ppWide[i]));
    ::LocalFree(ppWide);
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    argc = iCount;
    argv = pointers.data();
}

std::string GetModulePath()
{
    std::vector<wchar_t> path(32768);
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size())
        return {};
    return Utf8FromPath(std::filesystem::path(std::wstring(path.data(), n)));
}

std::string GetModuleDirectory()
{
    const std::string path = GetModulePath();
    return path.empty() ? std::string() : Utf8FromPath(PathFromUtf8(path).parent_path()) + "\\";
}
