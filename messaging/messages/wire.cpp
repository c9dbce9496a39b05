// SPDX-License-Identifier: MIT
// Primitive encodings and the UTF-8 / UTF-16 / locale conversions behind them.

#include "wire.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

void CWriteCursor::PutBytes(const void* pData, size_t n)
{
    assert(static_cast<size_t>(end - p) >= n && "message size computed too small");
    if (n)
        std::memcpy(p, pData, n);
    p += n;
}

bool CReadCursor::GetBytes(void* pData, size_t n)
{
    if (bFailed || static_cast<size_t>(end - p) < n)
    {
        bFailed = true;
        return false;
    }
    if (n)
        std::memcpy(pData, p, n);
    p += n;
    return true;
}

bool CReadCursor::Skip(size_t n)
{
    if (bFailed || static_cast<size_t>(end - p) < n)
    {
        bFailed = true;
        return false;
    }
    p += n;
    return true;
}

// --- text conversions -------------------------------------------------------------------------

namespace
{
void AppendUtf8(uint32_t cp, std::string& out)
{
    if (cp < 0x80)
    {
        out += static_cast<char>(cp);
    }
    else if (cp < 0x800)
    {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x10000)
    {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Both UTF-16 to UTF-8 conversions: an unpaired surrogate fails the strict one and becomes
// U+FFFD in the lenient one.
bool ConvertUtf16(std::u16string_view text, std::string& out, bool bLenient)
{
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
    {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDFFF)
        {
            if (cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF)
                cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
            else if (bLenient)
                cp = 0xFFFD;
            else
                return false;
        }
        AppendUtf8(cp, out);
    }
    return true;
}
} // namespace

bool Utf16ToUtf8(std::u16string_view text, std::string& out)
{
    return ConvertUtf16(text, out, false);
}

std::string ToUtf8(std::u16string_view text)
{
    std::string out;
    ConvertUtf16(text, out, true);
    return out;
}

std::u16string ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    WalkUtf8Lenient(text.data(), text.size(), [&out](char16_t c) { out += c; });
    return out;
}

size_t Utf8SequenceAt(const uint8_t* p, size_t n, uint32_t& cp)
{
    const uint8_t b = p[0];
    if (b < 0x80)
    {
        cp = b;
        return 1;
    }
    const size_t len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || len > n)
        return 0;
    cp = b & (0x7F >> len);
    for (size_t k = 1; k < len; ++k)
    {
        if ((p[k] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[k] & 0x3F);
    }
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool Utf8ToUtf16(std::string_view text, std::u16string& out)
{
    out.clear();
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;)
    {
        uint32_t cp = 0;
        const size_t len = Utf8SequenceAt(s + i, n - i, cp);
        if (len == 0)
            return false;
        if (cp >= 0x10000)
        {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        }
        else
        {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return true;
}

bool NarrowToUtf16(const char* psz, std::u16string& out)
{
    out.clear();
    if (!psz)
        return false;
    std::mbstate_t state{};
    const char* src = psz;
    const size_t n = std::mbsrtowcs(nullptr, &src, 0, &state);
    if (n == static_cast<size_t>(-1))
        return false;
    std::wstring wide(n, L'\0');
    state = std::mbstate_t{};
    src = psz;
    std::mbsrtowcs(wide.data(), &src, n, &state);
    for (wchar_t wc : wide)
    {
        const auto cp = static_cast<uint32_t>(wc);
        if (cp >= 0x10000)
        {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
        else
        {
            out += static_cast<char16_t>(cp);
        }
    }
    return true;
}

bool Utf16ToNarrow(std::u16string_view text, std::string& out)
{
    out.clear();
    std::wstring wide;
    for (size_t i = 0; i < text.size(); ++i)
    {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        wide += static_cast<wchar_t>(cp);
    }
    std::mbstate_t state{};
    const wchar_t* src = wide.c_str();
    const size_t n = std::wcsrtombs(nullptr, &src, 0, &state);
    if (n == static_cast<size_t>(-1))
        return false;
    out.assign(n, '\0');
    state = std::mbstate_t{};
    src = wide.c_str();
    std::wcsrtombs(out.data(), &src, n, &state);
    return true;
}

std::string WireUtf8(const char16_t* pszText)
{
    std::string utf8;
    if (!pszText || !Utf16ToUtf8(pszText, utf8))
        return {};
    if (utf8.size() > MAX_WIRE_STRING_BYTES)
    {
        size_t cut = MAX_WIRE_STRING_BYTES;
        while (cut > 0 && (static_cast<uint8_t>(utf8[cut]) & 0xC0) == 0x80)
            --cut;
        utf8.resize(cut);
    }
    return utf8;
}

// --- writers -----------------------------------------------------------------------------------

void WriteByte(CWriteCursor& c, uint8_t v)
{
    c.PutByte(v);
}

void WriteBool(CWriteCursor& c, bool v)
{
    c.PutByte(v ? 1 : 0);
}

void WriteUInt16(CWriteCursor& c, uint16_t v)
{
    const uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    c.PutBytes(b, 2);
}

void WriteUInt32(CWriteCursor& c, uint32_t v)
{
    const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    c.PutBytes(b, 4);
}

void WriteFloat(CWriteCursor& c, float v)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    WriteUInt32(c, bits);
}

void WriteDouble(CWriteCursor& c, double v)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &v, 8);
    WriteUInt32(c, static_cast<uint32_t>(bits >> 32));
    WriteUInt32(c, static_cast<uint32_t>(bits));
}

void WriteWString(CWriteCursor& c, const char16_t* pszText)
{
    const std::string utf8 = WireUtf8(pszText);
    WriteUInt16(c, static_cast<uint16_t>(utf8.size()));
    c.PutBytes(utf8.data(), utf8.size());
}

void WriteString(CWriteCursor& c, const char* pszText)
{
    std::u16string wide;
    if (!NarrowToUtf16(pszText, wide))
        WriteWString(c, nullptr);
    else
        WriteWString(c, wide.c_str());
}

void WriteBlob(CWriteCursor& c, const uint8_t* pData, uint32_t iLength)
{
    const uint32_t n = pData ? iLength : 0;
    WriteUInt32(c, n);
    c.PutBytes(pData, n);
}

uint32_t WStringSize(const char16_t* pszText)
{
    return static_cast<uint32_t>(2 + WireUtf8(pszText).size());
}

uint32_t StringSize(const char* pszText)
{
    std::u16string wide;
    return NarrowToUtf16(pszText, wide) ? WStringSize(wide.c_str()) : 2;
}

uint32_t BlobSize(const uint8_t* pData, uint32_t iLength)
{
    return 4 + (pData ? iLength : 0);
}

// --- readers -----------------------------------------------------------------------------------

bool ReadByte(CReadCursor& c, uint8_t& v)
{
    return c.GetBytes(&v, 1);
}

bool ReadBool(CReadCursor& c, bool& v)
{
    uint8_t b = 0;
    if (!c.GetBytes(&b, 1))
        return false;
    v = b != 0;
    return true;
}

bool ReadUInt16(CReadCursor& c, uint16_t& v)
{
    uint8_t b[2];
    if (!c.GetBytes(b, 2))
        return false;
    v = static_cast<uint16_t>((b[0] << 8) | b[1]);
    return true;
}

bool ReadUInt32(CReadCursor& c, uint32_t& v)
{
    uint8_t b[4];
    if (!c.GetBytes(b, 4))
        return false;
    v = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    return true;
}

bool ReadFloat(CReadCursor& c, float& v)
{
    uint32_t bits = 0;
    if (!ReadUInt32(c, bits))
        return false;
    std::memcpy(&v, &bits, 4);
    return true;
}

bool ReadDouble(CReadCursor& c, double& v)
{
    uint32_t hi = 0, lo = 0;
    if (!ReadUInt32(c, hi) || !ReadUInt32(c, lo))
        return false;
    const uint64_t bits = (uint64_t{hi} << 32) | lo;
    std::memcpy(&v, &bits, 8);
    return true;
}

bool ReadWString(CReadCursor& c, std::optional<std::u16string>& v)
{
    uint16_t n = 0;
    if (!ReadUInt16(c, n))
        return false;
    const auto* start = reinterpret_cast<const char*>(c.p);
    if (!c.Skip(n))
        return false;
    std::u16string text;
    if (n == 0 || !Utf8ToUtf16(std::string_view(start, n), text))
        v.reset();
    else
        v = std::move(text);
    return true;
}

bool ReadString(CReadCursor& c, std::optional<std::string>& v)
{
    std::optional<std::u16string> wide;
    if (!ReadWString(c, wide))
        return false;
    std::string narrow;
    if (!wide || !Utf16ToNarrow(*wide, narrow))
        v.reset();
    else
        v = std::move(narrow);
    return true;
}

bool ReadBlob(CReadCursor& c, std::unique_ptr<uint8_t[]>& pData, uint32_t& iLength)
{
    uint32_t n = 0;
    if (!ReadUInt32(c, n))
        return false;
    // Checked before allocating: a length larger than what is left is a truncated body.
    if (c.Remaining() < n)
    {
        c.bFailed = true;
        return false;
    }
    pData.reset();
    if (n > 0)
    {
        pData.reset(new (std::nothrow) uint8_t[n]);
        if (!pData)
        {
            c.bFailed = true;
            return false;
        }
        c.GetBytes(pData.get(), n);
    }
    iLength = n;
    return true;
}
