// SPDX-License-Identifier: MIT
// Received bytes that do not read as their class: rejected, object untouched, nothing read past
// the end of the buffer (the sanitizer build checks the last point).

#include "message.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace
{
// A sample of each class, and a reader: a fresh instance of the same class.
struct Sample
{
    const char* name;
    CRefPtr<IMessage> sample;
    CRefPtr<IMessage> reader;
};

std::vector<Sample> Samples()
{
    const ReceiverRecord r[2] = {MakeReceiverRecord(1, 1, u"A\u00e9"),
                                 MakeReceiverRecord(2, 2, u"B")};
    const uint32_t v[2] = {1, 2}, sevens[2] = {7, 7};
    CArgumentList a, mask;
    a.Pack(2, ARG_UINT32, 3u, ARG_WSTRING, u"\u20ac");
    mask.Pack(1, ARG_UINT32, 0x1Eu);
    return {
        {"Registration", new CRegistrationMessage(1), new CRegistrationMessage(9)},
        {"StringResponse", new CStringResponse(11, 3, u"/var/log/r\u00e9c.log"),
         new CStringResponse(11, 0, u"keep")},
        {"ReceiverList", new CReceiverListMessage(8, r, 2),
         new CReceiverListMessage(8, nullptr, 0)},
        {"IntegerList", new CIntegerListMessage(12, 2, v), new CIntegerListMessage(12, 2, sevens)},
        {"ArgumentList", new CArgumentListMessage(9, &a), new CArgumentListMessage(9, nullptr)},
        {"ArgumentListResponse", new CArgumentListResponse(15, 4, &mask),
         new CArgumentListResponse(15, 14, nullptr)},
        {"EmptyResponse", new CEmptyResponse(7, 5), new CEmptyResponse(7, 6)},
    };
}

// Every proper prefix of a valid message is refused and leaves the reader as it was.
TEST(Robustness, EveryTruncationIsRefusedAndChangesNothing)
{
    for (const Sample& s : Samples())
    {
        CRefPtr<CByteBuffer> full;
        s.sample->Serialise(full);
        const CRefPtr<IMessage>& reader = s.reader;
        CRefPtr<CByteBuffer> before;
        reader->Serialise(before);
        for (uint32_t n = 0; n < full->GetSize(); ++n)
        {
            auto prefix = BufferOf(std::vector<uint8_t>(full->Data(), full->Data() + n));
            EXPECT_FALSE(reader->Deserialise(prefix.Get())) << s.name << " cut to " << n;
            CRefPtr<CByteBuffer> after;
            reader->Serialise(after);
            EXPECT_EQ(Hex(after.Get()), Hex(before.Get())) << s.name << " cut to " << n;
        }
        EXPECT_TRUE(reader->Deserialise(full.Get())) << s.name;
    }
}

TEST(Robustness, WrongIdentifierOrKindIsRefused)
{
    CRefPtr<CEmptyResponse> response;
    MakeEmptyResponse(response, 7, 0);
    const struct
    {
        const char* bytes;
        bool accepted;
    } cases[] = {
        {"00 00 00 07 03 00 00 00 05", true},
        {"00 00 00 07 02 00 00 00 05", false}, // a request with the response's identifier
        {"00 00 00 08 03 00 00 00 05", false},
        {"00 00 00 07 01", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(response->Deserialise(BufferOf(Bytes(c.bytes)).Get()), c.accepted) << c.bytes;
    EXPECT_FALSE(response->Deserialise(nullptr));
}

// Counts and lengths that the remaining bytes cannot hold fail at once, without allocating.
TEST(Robustness, AbsurdCountsAndLengthsAreRefused)
{
    CRefPtr<IMessage> list = new CReceiverListMessage(8, nullptr, 0),
                      arguments = new CArgumentListMessage(9, nullptr),
                      text = new CStringResponse(11, 0, nullptr);
    const struct
    {
        const char* name;
        IMessage* reader;
        const char* bytes;
    } cases[] = {
        {"receiver count 2^31-1", list.Get(),
         "00 00 00 08 01 7F FF FF FF 00 00 00 01 00 00 00 01 00 00"},
        {"receiver name longer than body", list.Get(),
         "00 00 00 08 01 00 00 00 01 00 00 00 01 00 00 00 01 FF FF 41"},
        {"argument count 2^31-1", arguments.Get(), "00 00 00 09 01 7F FF FF FF 00 00 00 00"},
        {"argument blob 4 GiB", arguments.Get(), "00 00 00 09 01 00 00 00 01 FF FF FF FF 05"},
        {"string length past end", text.Get(), "00 00 00 0B 03 00 00 00 01 00 10 41 42"},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(c.reader->Deserialise(BufferOf(Bytes(c.bytes)).Get())) << c.name;
}

} // namespace
