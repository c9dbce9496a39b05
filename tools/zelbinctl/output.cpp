// SPDX-License-Identifier: MIT
// zelbinctl's output: text conversion, escaping and the one writer of standard output.

#include "output.h"
#include "wire.h"

#include <cstdio>

std::u16string Wide(const std::string& text)
{
    std::u16string out;
    if (!Utf8ToUtf16(text, out))
        NarrowToUtf16(text.c_str(), out);
    return out;
}

std::string Escaped(std::string_view utf8)
{
    static const char* const NAMED = "abtnvfr"; // \a (7) to \r (13)
    std::string out;
    out.reserve(utf8.size());
    char code[8];
    for (size_t i = 0; i < utf8.size(); ++i)
    {
        const auto c = static_cast<unsigned char>(utf8[i]);
        // C1 controls are U+0080 to U+009F: C2 80 to C2 9F in UTF-8. A terminal takes U+009B
        // as the start of a control sequence as it takes ESC [.
        const bool bC1 = c == 0xC2 && i + 1 < utf8.size() &&
                         static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                         static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
        if (c >= 7 && c <= 13)
            out.append("\\").push_back(NAMED[c - 7]);
        else if (c < 0x20 || c == 0x7F)
        {
            std::snprintf(code, sizeof code, "\\x%02x", c);
            out += code;
        }
        else if (bC1)
        {
            std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(utf8[++i]));
            out += code;
        }
        else
            out += static_cast<char>(c);
    }
    return out;
}

namespace
{
CWaitHandle* g_pStop = nullptr;
bool g_bGood = true;
} // namespace

void CStandardOutput::SetStopSignal(CWaitHandle* pStop)
{
    g_pStop = pStop;
}

bool CStandardOutput::Write(std::string_view bytes)
{
    if (!g_bGood)
        return false;
    const EWriteResult result = WriteStandardOutput(bytes, g_pStop);
    g_bGood = result == EWriteResult::Written;
    return g_bGood;
}

bool CStandardOutput::WriteJson(const nlohmann::ordered_json& object)
{
    return Write(object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
                 "\n");
}

bool CStandardOutput::IsGood()
{
    return g_bGood;
}
