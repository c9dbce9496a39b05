// SPDX-License-Identifier: MIT
// One serialised message: the reference-counted block of bytes that one frame carries.
#pragma once

#include "refcounted.h"

#include <cstdint>
#include <memory>

class CByteBuffer : public virtual CRefCounted
{
public:
    CByteBuffer() = default;
    CByteBuffer(std::unique_ptr<uint8_t[]> pData, uint32_t iLength)
        : m_pData(std::move(pData)), m_iLength(m_pData ? iLength : 0)
    {
    }

    virtual uint32_t GetSize() const { return m_iLength; }
    // Replaces the block. The buffer owns what it is given and frees the block it held before:
    // nothing in this library keeps a pointer into a block it has handed over.
    virtual void SetData(std::unique_ptr<uint8_t[]> pData, uint32_t iLength);
    // Hands out the data pointer and the length, each only where an out-argument is given.
    virtual void GetData(uint8_t** ppData, uint32_t* piLength) const;

    uint8_t* Data() const { return m_pData.get(); }

private:
    std::unique_ptr<uint8_t[]> m_pData;
    uint32_t m_iLength = 0;
};

// Length 0 gives an empty buffer (no data). Otherwise the buffer adopts pData when given, or
// allocates iLength bytes. Leaves pOut empty when the memory cannot be had.
void MakeByteBuffer(CRefPtr<CByteBuffer>& pOut, uint32_t iLength,
                    std::unique_ptr<uint8_t[]> pData = nullptr);
// A buffer holding a copy of the given bytes.
void MakeByteBufferCopy(CRefPtr<CByteBuffer>& pOut, const uint8_t* pData, uint32_t iLength);
