// SPDX-License-Identifier: MIT
// Byte buffers and their factories.

#include "bytebuffer.h"

#include <cstring>
#include <new>

void CByteBuffer::SetData(std::unique_ptr<uint8_t[]> pData, uint32_t iLength)
{
    m_pData = std::move(pData);
    m_iLength = m_pData ? iLength : 0;
}

void CByteBuffer::GetData(uint8_t** ppData, uint32_t* piLength) const
{
    if (ppData)
        *ppData = m_pData.get();
    if (piLength)
        *piLength = m_iLength;
}

void MakeByteBuffer(CRefPtr<CByteBuffer>& pOut, uint32_t iLength, std::unique_ptr<uint8_t[]> pData)
{
    pOut.Reset();
    if (iLength == 0)
    {
        pOut = new (std::nothrow) CByteBuffer();
        return;
    }
    if (!pData)
    {
        pData.reset(new (std::nothrow) uint8_t[iLength]);
        if (!pData)
            return;
    }
    pOut = new (std::nothrow) CByteBuffer(std::move(pData), iLength);
}

void MakeByteBufferCopy(CRefPtr<CByteBuffer>& pOut, const uint8_t* pData, uint32_t iLength)
{
    MakeByteBuffer(pOut, iLength);
    if (pOut && iLength > 0)
        std::memcpy(pOut->Data(), pData, iLength);
}
