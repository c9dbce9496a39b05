// SPDX-License-Identifier: MIT
// Primitive encodings of message bodies: big-endian integers, IEEE floats, UTF-8 strings with a
// 16-bit length and blobs with a 32-bit length, written and read through bounded cursors.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Writes front to back into a block whose size was computed beforehand. Writing past the end is
// a bug in a size computation, so it asserts.
struct CWriteCursor
{
    uint8_t* p;
    uint8_t* end;

    void PutBytes(const void* pData, size_t n);
    void PutByte(uint8_t v) { PutBytes(&v, 1); }
};

// Reads from a received block. A read that would go past the end fails, leaves the cursor where
// it was and marks the cursor failed; every later read fails too.
struct CReadCursor
{
    const uint8_t* p;
    const uint8_t* end;
    bool bFailed = false;

    size_t Remaining() const { return bFailed ? 0 : static_cast<size_t>(end - p); }
    bool GetBytes(void* pData, size_t n);
    bool Skip(size_t n);
};

// Wide text in memory is UTF-16. These conversions are strict: an unpaired surrogate or an invalid
// UTF-8 sequence fails the conversion.
bool Utf16ToUtf8(std::u16string_view text, std::string& out);
bool Utf8ToUtf16(std::string_view text, std::u16string& out);
// The length of the valid UTF-8 sequence at p (n bytes available) and its code point; 0 when the
// byte at p starts none (a stray byte, a cut or overlong sequence, a surrogate, past U+10FFFF).
size_t Utf8SequenceAt(const uint8_t* p, size_t n, uint32_t& cp);
// Walks UTF-8 as UTF-16 units, every byte that starts no valid sequence read as U+FFFD. The log's
// reader counts with it without building the text, so that a count matches the text it builds.
template <class Emit> void WalkUtf8Lenient(const char* pText, size_t n, Emit&& emit)
{
    const auto* p = reinterpret_cast<const uint8_t*>(pText);
    for (size_t i = 0; i < n;)
    {
        uint32_t cp = 0;
        const size_t len = Utf8SequenceAt(p + i, n - i, cp);
        if (len == 0)
        {
            emit(u'\uFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000)
        {
            emit(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            emit(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
        else
        {
            emit(static_cast<char16_t>(cp));
        }
        i += len;
    }
}
// The lenient pair, for text that is shown or logged rather than sent: what cannot be converted
// (a byte that starts no valid UTF-8 sequence, an unpaired surrogate) becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view text);
// Narrow text is in the current locale, as the C runtime converts it.
bool NarrowToUtf16(const char* psz, std::u16string& out);
bool Utf16ToNarrow(std::u16string_view text, std::string& out);

// The UTF-8 bytes that a wide string field carries: empty for a null string or a failed
// conversion. The 16-bit length field holds at most 65535 bytes, so longer text is cut at the last
// character boundary that fits; the reader then gets a shorter but valid string.
std::string WireUtf8(const char16_t* pszText);

inline constexpr size_t MAX_WIRE_STRING_BYTES = 0xFFFF;

void WriteByte(CWriteCursor& c, uint8_t v);
void WriteBool(CWriteCursor& c, bool v);
void WriteUInt16(CWriteCursor& c, uint16_t v);
void WriteUInt32(CWriteCursor& c, uint32_t v);
void WriteFloat(CWriteCursor& c, float v);
void WriteDouble(CWriteCursor& c, double v);
void WriteWString(CWriteCursor& c, const char16_t* pszText);
void WriteString(CWriteCursor& c, const char* pszText);
void WriteBlob(CWriteCursor& c, const uint8_t* pData, uint32_t iLength);

uint32_t WStringSize(const char16_t* pszText);
uint32_t StringSize(const char* pszText);
uint32_t BlobSize(const uint8_t* pData, uint32_t iLength);

bool ReadByte(CReadCursor& c, uint8_t& v);
bool ReadBool(CReadCursor& c, bool& v);
bool ReadUInt16(CReadCursor& c, uint16_t& v);
bool ReadUInt32(CReadCursor& c, uint32_t& v);
bool ReadFloat(CReadCursor& c, float& v);
bool ReadDouble(CReadCursor& c, double& v);
// Length 0, or bytes that are not UTF-8, give no string (nullopt); a missing byte fails the read.
bool ReadWString(CReadCursor& c, std::optional<std::u16string>& v);
bool ReadString(CReadCursor& c, std::optional<std::string>& v);
// Reads a 32-bit length and that many bytes; a block only when the length is 1 or more.
bool ReadBlob(CReadCursor& c, std::unique_ptr<uint8_t[]>& pData, uint32_t& iLength);
