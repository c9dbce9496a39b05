// SPDX-License-Identifier: MIT
// Paths are UTF-8 text everywhere in the system. std::filesystem takes them as such only from
// char8_t: on Windows a plain std::string would be read in the ANSI code page.
#pragma once

#include <filesystem>
#include <string>

inline std::filesystem::path PathFromUtf8(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
