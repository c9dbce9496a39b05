// SPDX-License-Identifier: MIT
// A typed, ordered list of values that a message can carry: each entry is a byte buffer holding a
// type byte and the value's encoding. Pack and Unpack keep the classic call shape (count, then a
// type code and a value per entry) but check every value's C++ type against its code.
#pragma once

#include "bytebuffer.h"
#include "wire.h"

#include <optional>
#include <string>
#include <type_traits>
#include <vector>

enum EArgumentType : int
{
    ARG_UINT8 = 1,
    ARG_BOOL = 2,
    ARG_CHAR = 3,
    ARG_UINT16 = 4,
    ARG_UINT32 = 5,
    ARG_FLOAT = 6,
    ARG_DOUBLE = 7,
    ARG_STRING = 8,
    ARG_BLOB = 9,
    ARG_WSTRING = 10,
    ARG_WCHAR = 11,
};

// One value on its way into or out of a list, whatever its C++ type was.
struct CArgumentValue
{
    enum EHolds
    {
        NONE,
        INTEGER,
        REAL,
        NARROW,
        WIDE,
        BLOB
    } eHolds = NONE;
    uint64_t iValue = 0;
    double dValue = 0;
    const char* pszNarrow = nullptr;
    const char16_t* pszWide = nullptr;
    const uint8_t* pBlob = nullptr;
};

class CArgumentList
{
public:
    CArgumentList() = default;
    virtual ~CArgumentList() = default;
    // Copies are deep: new entry buffers holding copies of the source entries' bytes.
    CArgumentList(const CArgumentList& other);
    CArgumentList& operator=(const CArgumentList& other);

    int32_t GetCount() const { return static_cast<int32_t>(m_entries.size()); }
    void Clear() { m_entries.clear(); }

    // Pack(2, ARG_UINT32, 5u, ARG_WSTRING, u"abc"); a blob takes two values, data then length.
    // An unknown code, a value of the wrong type or too few values leave the list empty.
    template <class... Args> void Pack(int iCount, Args&&... args)
    {
        Clear();
        if (iCount < 1)
            return;
        if (!PackNext(iCount, args...))
            Clear();
    }

    // Unpack(1, ARG_UINT32, &mask). Destinations: uint8_t*, bool*, char* (code 3), uint16_t*
    // (codes 4 and 11), uint32_t*, float*, double*, std::optional<std::string>* (code 8),
    // std::optional<std::u16string>* (code 10); a blob takes std::unique_ptr<uint8_t[]>* and
    // uint32_t*. Stored entries must carry the requested code or its compatible one (3 with 11,
    // 8 with 10). Values read before a failure stay stored.
    template <class... Args> bool Unpack(int iCount, Args&&... args) const
    {
        if (iCount < 1 || iCount > GetCount())
            return false;
        return UnpackNext(0, iCount, args...);
    }

    // Wire encoding: a 32-bit count, then every entry as a blob.
    uint32_t GetWireSize() const;
    void Write(CWriteCursor& c) const;
    // Fails, leaving the list as it was, on a count or entry length that the bytes left cannot
    // hold.
    bool Read(CReadCursor& c);

    // Appends one value of the given code; false when the code is unknown or the value's kind
    // does not suit it. Used by Pack, and by code that builds a list in a loop.
    bool Append(int iCode, const CArgumentValue& value, uint32_t iBlobLength = 0);

    // Reads entry i as the given code into a holder; false on a type mismatch or a short entry.
    struct CReadValue
    {
        uint64_t iValue = 0;
        double dValue = 0;
        std::optional<std::u16string> wide;
        std::unique_ptr<uint8_t[]> pBlob;
        uint32_t iBlobLength = 0;
    };
    bool ReadEntry(int32_t i, int iCode, CReadValue& out) const;

private:
    template <class V> static CArgumentValue ToValue(const V& v)
    {
        using T = std::decay_t<V>;
        CArgumentValue a;
        if constexpr (std::is_same_v<T, bool> || std::is_integral_v<T> || std::is_enum_v<T>)
        {
            a.eHolds = CArgumentValue::INTEGER;
            a.iValue = static_cast<uint64_t>(v);
            a.dValue = static_cast<double>(v);
        }
        else if constexpr (std::is_floating_point_v<T>)
        {
            a.eHolds = CArgumentValue::REAL;
            a.dValue = v;
        }
        else if constexpr (std::is_convertible_v<T, const char*>)
        {
            a.eHolds = CArgumentValue::NARROW;
            a.pszNarrow = v;
        }
        else if constexpr (std::is_convertible_v<T, const char16_t*>)
        {
            a.eHolds = CArgumentValue::WIDE;
            a.pszWide = v;
        }
        else if constexpr (std::is_convertible_v<T, const uint8_t*>)
        {
            a.eHolds = CArgumentValue::BLOB;
            a.pBlob = v;
        }
        return a;
    }

    static bool PackNext(int) { return false; }
    template <class C> static bool PackNext(int, C&&) { return false; }
    template <class C, class V, class... Rest>
    bool PackNext(int iLeft, C&& code, V&& value, Rest&&... rest)
    {
        if constexpr (!std::is_integral_v<std::decay_t<C>> && !std::is_enum_v<std::decay_t<C>>)
        {
            return false;
        }
        else
        {
            const int iCode = static_cast<int>(code);
            if (iCode == ARG_BLOB)
            {
                if constexpr (sizeof...(Rest) >= 1)
                    return PackBlob(iLeft, value, rest...);
                else
                    return false;
            }
            if (!Append(iCode, ToValue(value)))
                return false;
            if (iLeft == 1)
                return true;
            return PackNext(iLeft - 1, rest...);
        }
    }
    template <class D, class L, class... Rest>
    bool PackBlob(int iLeft, D&& data, L&& length, Rest&&... rest)
    {
        if constexpr (!std::is_integral_v<std::decay_t<L>>)
        {
            return false;
        }
        else
        {
            const CArgumentValue v = ToValue(data);
            if (v.eHolds != CArgumentValue::BLOB &&
                !(v.eHolds == CArgumentValue::INTEGER && v.iValue == 0))
                return false;
            if (!Append(ARG_BLOB, v, static_cast<uint32_t>(length)))
                return false;
            if (iLeft == 1)
                return true;
            return PackNext(iLeft - 1, rest...);
        }
    }

    bool UnpackNext(int32_t, int) const { return false; }
    template <class C> bool UnpackNext(int32_t, int, C&&) const { return false; }
    template <class C, class D, class... Rest>
    bool UnpackNext(int32_t i, int iLeft, C&& code, D&& dest, Rest&&... rest) const
    {
        if constexpr (!std::is_integral_v<std::decay_t<C>> && !std::is_enum_v<std::decay_t<C>>)
        {
            return false;
        }
        else
        {
            const int iCode = static_cast<int>(code);
            CReadValue v;
            if (!ReadEntry(i, iCode, v))
                return false;
            if (iCode == ARG_BLOB)
            {
                if constexpr (sizeof...(Rest) >= 1)
                    return UnpackBlob(i, iLeft, v, dest, rest...);
                else
                    return false;
            }
            if (!Store(iCode, v, dest))
                return false;
            if (iLeft == 1)
                return true;
            return UnpackNext(i + 1, iLeft - 1, rest...);
        }
    }
    template <class D, class L, class... Rest>
    bool UnpackBlob(int32_t i, int iLeft, CReadValue& v, D&& data, L&& length, Rest&&... rest) const
    {
        using PD = std::decay_t<D>;
        using PL = std::decay_t<L>;
        if constexpr (std::is_same_v<PD, std::unique_ptr<uint8_t[]>*> &&
                      std::is_same_v<PL, uint32_t*>)
        {
            if (!data || !length)
                return false;
            *data = std::move(v.pBlob);
            *length = v.iBlobLength;
            if (iLeft == 1)
                return true;
            return UnpackNext(i + 1, iLeft - 1, rest...);
        }
        else
        {
            return false;
        }
    }

    template <class D> static bool Store(int iCode, CReadValue& v, D dest)
    {
        using P = std::decay_t<D>;
        if constexpr (!std::is_pointer_v<P>)
        {
            return false;
        }
        else
        {
            if (!dest)
                return false;
            using T = std::remove_pointer_t<P>;
            switch (iCode)
            {
            case ARG_UINT8:
                return StoreAs<uint8_t>(dest, static_cast<uint8_t>(v.iValue));
            case ARG_BOOL:
                return StoreAs<bool>(dest, v.iValue != 0);
            case ARG_CHAR:
                return StoreAs<char>(dest, static_cast<char>(v.iValue & 0xFF));
            case ARG_UINT16:
            case ARG_WCHAR:
                if constexpr (std::is_same_v<T, char16_t>)
                    return *dest = static_cast<char16_t>(v.iValue), true;
                return StoreAs<uint16_t>(dest, static_cast<uint16_t>(v.iValue));
            case ARG_UINT32:
                if constexpr (std::is_same_v<T, int32_t>)
                    return *dest = static_cast<int32_t>(v.iValue), true;
                return StoreAs<uint32_t>(dest, static_cast<uint32_t>(v.iValue));
            case ARG_FLOAT:
                return StoreAs<float>(dest, static_cast<float>(v.dValue));
            case ARG_DOUBLE:
                return StoreAs<double>(dest, v.dValue);
            case ARG_WSTRING:
                return StoreAs<std::optional<std::u16string>>(dest, std::move(v.wide));
            case ARG_STRING:
                if constexpr (std::is_same_v<T, std::optional<std::string>>)
                {
                    std::string narrow;
                    if (v.wide && Utf16ToNarrow(*v.wide, narrow))
                        *dest = std::move(narrow);
                    else
                        dest->reset();
                    return true;
                }
                return false;
            default:
                return false;
            }
        }
    }
    template <class Want, class P, class V> static bool StoreAs(P* dest, V&& value)
    {
        if constexpr (std::is_same_v<P, Want>)
        {
            *dest = std::forward<V>(value);
            return true;
        }
        else
        {
            return false;
        }
    }

    std::vector<CRefPtr<CByteBuffer>> m_entries;
};
