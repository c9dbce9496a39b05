// SPDX-License-Identifier: MIT
// Argument lists: entries, their wire encoding, and the typed read-out behind Unpack.

#include "argumentlist.h"

namespace
{
bool IsKnownCode(int iCode)
{
    return iCode >= ARG_UINT8 && iCode <= ARG_WCHAR;
}

// Codes 3 and 11, and 8 and 10, share one wire encoding and may be read as each other.
bool AreCompatible(int iStored, int iRequested)
{
    if (iStored == iRequested)
        return true;
    auto pair = [&](int a, int b)
    { return (iStored == a && iRequested == b) || (iStored == b && iRequested == a); };
    return pair(ARG_CHAR, ARG_WCHAR) || pair(ARG_STRING, ARG_WSTRING);
}
} // namespace

CArgumentList::CArgumentList(const CArgumentList& other)
{
    *this = other;
}

CArgumentList& CArgumentList::operator=(const CArgumentList& other)
{
    if (this == &other)
        return *this;
    std::vector<CRefPtr<CByteBuffer>> copies;
    copies.reserve(other.m_entries.size());
    for (const auto& entry : other.m_entries)
    {
        CRefPtr<CByteBuffer> copy;
        if (entry)
            MakeByteBufferCopy(copy, entry->Data(), entry->GetSize());
        else
            MakeByteBuffer(copy, 0);
        copies.push_back(copy);
    }
    m_entries = std::move(copies);
    return *this;
}

bool CArgumentList::Append(int iCode, const CArgumentValue& value, uint32_t iBlobLength)
{
    if (!IsKnownCode(iCode))
        return false;
    const bool bInteger = value.eHolds == CArgumentValue::INTEGER;
    const bool bNumber = bInteger || value.eHolds == CArgumentValue::REAL;
    const bool bNullText = value.eHolds == CArgumentValue::NARROW && !value.pszNarrow;

    uint32_t iLength = 0;
    switch (iCode)
    {
    case ARG_UINT8:
    case ARG_BOOL:
        iLength = 2;
        break;
    case ARG_CHAR:
    case ARG_UINT16:
    case ARG_WCHAR:
        iLength = 3;
        break;
    case ARG_UINT32:
        iLength = 5;
        break;
    case ARG_FLOAT:
        iLength = 5;
        break;
    case ARG_DOUBLE:
        iLength = 9;
        break;
    case ARG_STRING:
        if (value.eHolds != CArgumentValue::NARROW)
            return false;
        iLength = 1 + StringSize(value.pszNarrow);
        break;
    case ARG_WSTRING:
        if (value.eHolds != CArgumentValue::WIDE && !bNullText)
            return false;
        iLength = 1 + WStringSize(value.pszWide);
        break;
    case ARG_BLOB:
        if (value.eHolds != CArgumentValue::BLOB && !(bInteger && value.iValue == 0))
            return false;
        iLength = 1 + BlobSize(value.pBlob, iBlobLength);
        break;
    }
    if (iCode <= ARG_UINT32 || iCode == ARG_WCHAR)
    {
        if (!bInteger)
            return false;
    }
    else if ((iCode == ARG_FLOAT || iCode == ARG_DOUBLE) && !bNumber)
    {
        return false;
    }

    CRefPtr<CByteBuffer> entry;
    MakeByteBuffer(entry, iLength);
    if (!entry)
        return false;
    CWriteCursor c{entry->Data(), entry->Data() + iLength};
    WriteByte(c, static_cast<uint8_t>(iCode));
    switch (iCode)
    {
    case ARG_UINT8:
        WriteByte(c, static_cast<uint8_t>(value.iValue));
        break;
    case ARG_BOOL:
        WriteBool(c, value.iValue != 0);
        break;
    case ARG_CHAR: // the character's byte value, zero-extended
        WriteUInt16(c, static_cast<uint16_t>(value.iValue & 0xFF));
        break;
    case ARG_UINT16:
    case ARG_WCHAR:
        WriteUInt16(c, static_cast<uint16_t>(value.iValue));
        break;
    case ARG_UINT32:
        WriteUInt32(c, static_cast<uint32_t>(value.iValue));
        break;
    case ARG_FLOAT:
        WriteFloat(c, static_cast<float>(value.dValue));
        break;
    case ARG_DOUBLE:
        WriteDouble(c, value.dValue);
        break;
    case ARG_STRING:
        WriteString(c, value.pszNarrow);
        break;
    case ARG_WSTRING:
        WriteWString(c, value.pszWide);
        break;
    case ARG_BLOB:
        WriteBlob(c, value.pBlob, iBlobLength);
        break;
    }
    m_entries.push_back(entry);
    return true;
}

bool CArgumentList::ReadEntry(int32_t i, int iCode, CReadValue& out) const
{
    if (!IsKnownCode(iCode) || i < 0 || i >= GetCount())
        return false;
    const CRefPtr<CByteBuffer>& entry = m_entries[static_cast<size_t>(i)];
    if (!entry || entry->GetSize() < 1)
        return false;
    CReadCursor c{entry->Data(), entry->Data() + entry->GetSize()};
    uint8_t iStored = 0;
    ReadByte(c, iStored);
    if (!AreCompatible(iStored, iCode))
        return false;

    switch (iCode)
    {
    case ARG_UINT8:
    {
        uint8_t v = 0;
        if (!ReadByte(c, v))
            return false;
        out.iValue = v;
        return true;
    }
    case ARG_BOOL:
    {
        bool v = false;
        if (!ReadBool(c, v))
            return false;
        out.iValue = v ? 1 : 0;
        return true;
    }
    case ARG_CHAR:
    case ARG_UINT16:
    case ARG_WCHAR:
    {
        uint16_t v = 0;
        if (!ReadUInt16(c, v))
            return false;
        out.iValue = v;
        return true;
    }
    case ARG_UINT32:
    {
        uint32_t v = 0;
        if (!ReadUInt32(c, v))
            return false;
        out.iValue = v;
        return true;
    }
    case ARG_FLOAT:
    {
        float v = 0;
        if (!ReadFloat(c, v))
            return false;
        out.dValue = v;
        return true;
    }
    case ARG_DOUBLE:
        return ReadDouble(c, out.dValue);
    case ARG_STRING:
    case ARG_WSTRING:
        return ReadWString(c, out.wide);
    case ARG_BLOB:
        return ReadBlob(c, out.pBlob, out.iBlobLength);
    }
    return false;
}

uint32_t CArgumentList::GetWireSize() const
{
    uint32_t iSize = 4;
    for (const auto& entry : m_entries)
        iSize += 4 + (entry ? entry->GetSize() : 0);
    return iSize;
}

void CArgumentList::Write(CWriteCursor& c) const
{
    WriteUInt32(c, static_cast<uint32_t>(m_entries.size()));
    for (const auto& entry : m_entries)
        WriteBlob(c, entry ? entry->Data() : nullptr, entry ? entry->GetSize() : 0);
}

bool CArgumentList::Read(CReadCursor& c)
{
    uint32_t iCount = 0;
    if (!ReadUInt32(c, iCount))
        return false;
    // The count is signed on the wire's reading side: zero or less is an empty list. Every entry
    // needs at least its 4 length bytes, so a count the remaining bytes cannot hold is refused
    // before anything is allocated.
    const auto iSigned = static_cast<int32_t>(iCount);
    if (iSigned > 0 && static_cast<size_t>(iSigned) > c.Remaining() / 4)
    {
        c.bFailed = true;
        return false;
    }
    std::vector<CRefPtr<CByteBuffer>> entries;
    if (iSigned > 0)
        entries.reserve(static_cast<size_t>(iSigned));
    for (int32_t i = 0; i < iSigned; ++i)
    {
        std::unique_ptr<uint8_t[]> pData;
        uint32_t iLength = 0;
        if (!ReadBlob(c, pData, iLength))
            return false;
        CRefPtr<CByteBuffer> entry;
        MakeByteBuffer(entry, iLength, std::move(pData));
        if (!entry)
            return false;
        entries.push_back(entry);
    }
    m_entries = std::move(entries);
    return true;
}
