// SPDX-License-Identifier: MIT
// Fuzz targets for the readers of what the service sends: message bodies (argument lists included)
// and the frame reader. The log file reader and the look-up reply have tables of their own that
// reach every rule. One file, one target chosen at build time (ZELBIN_FUZZ_TARGET); each is also
// replayed over its corpus by ctest, so every input that once crashed stays a regression test.

#include "exceptions.h"
#include "message.h"
#include "messagingsocket.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>

namespace
{
[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

// Every class reads the bytes; what it accepts must survive its own round trip unchanged.
[[maybe_unused]] void Deserialise(const uint8_t* data, size_t size)
{
    if (size < 1)
        return;
    CRefPtr<CByteBuffer> in; // exactly the bytes: a read past them is a sanitizer error
    MakeByteBufferCopy(in, data + 1, static_cast<uint32_t>(size - 1));
    const uint32_t id = PeekMessageID(in.Get());
    const uint32_t values[3] = {0, 0, 0};
    const CRefPtr<IMessage> readers[] = {
        new CEmptyMessage(id),
        new CEmptyRequest(id, 0),
        new CEmptyResponse(id, 0),
        new CStringResponse(id, 0, nullptr),
        new CReceiverListMessage(id, nullptr, 0),
        new CIntegerListMessage(id, static_cast<int32_t>(data[0] % 4), values),
        new CArgumentListMessage(id, nullptr),
        new CArgumentListResponse(id, 0, nullptr),
        new CRegistrationMessage(0),
    };
    IMessage* m = readers[data[0] % std::size(readers)].Get();
    PeekCorrelationID(in.Get());
    if (!m->Deserialise(in.Get()))
        return;
    CRefPtr<CByteBuffer> once;
    m->Serialise(once);
    if (!once || once->GetSize() != m->GetSize() || !m->Deserialise(once.Get()))
        Broken("a message read back from its own bytes");
    CRefPtr<CByteBuffer> twice;
    m->Serialise(twice);
    if (twice->GetSize() != once->GetSize() ||
        std::memcmp(twice->Data(), once->Data(), once->GetSize()) != 0)
        Broken("serialising is stable");
}

// A socket that hands out the input in chunks whose sizes the input also chooses.
class CScriptedSocket : public CSocket
{
public:
    CScriptedSocket(const uint8_t* data, size_t size)
        : CSocket(AF_INET, SOCK_DGRAM, 0, false), m_p(data), m_end(data + size)
    {
    }
    int Receive(void* pBuffer, int iLength) override
    {
        if (m_p == m_end)
        {
            errno = EAGAIN;
            return -1;
        }
        const size_t chunk =
            std::min<size_t>({static_cast<size_t>(iLength), static_cast<size_t>(m_end - m_p),
                              size_t{1} + (*m_p % 97)});
        std::memcpy(pBuffer, m_p, chunk);
        m_p += chunk;
        return static_cast<int>(chunk);
    }

private:
    const uint8_t* m_p;
    const uint8_t* m_end;
};

[[maybe_unused]] void FrameReader(const uint8_t* data, size_t size)
{
    CScriptedSocket socket(data, size);
    CRefPtr<CFrameReader> reader;
    MakeFrameReader(reader);
    try
    {
        while (reader->Step(&socket) == FRAME_STEP_DONE)
        {
            if (!reader->IsComplete())
                continue;
            CRefPtr<CByteBuffer> frame;
            reader->GetBuffer(frame);
            if (frame->GetSize() > MAX_FRAME_LENGTH)
                Broken("a frame above the limit was allocated");
            reader->Reset();
        }
    }
    catch (CExceptionBase&)
    {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
#if ZELBIN_FUZZ_TARGET == 1
    Deserialise(data, size);
#else
    FrameReader(data, size);
#endif
    return 0;
}
