// SPDX-License-Identifier: MIT
// Received bytes: what reads as its class reads back whole; what does not is rejected, the object
// untouched and nothing read past the buffer's end (which the sanitizer build checks).

#include "message.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace
{
// A sample of each class (non-ASCII text, extreme values) and a reader: a fresh one of the class.
struct Sample
{
    const char* name;
    CRefPtr<IMessage> sample;
    CRefPtr<IMessage> reader;
};

std::vector<Sample> Samples()
{
    const char16_t* name = u"K\u00fcche \u0420\u0443\u0441 \U0001F600";
    const ReceiverRecord r[3] = {MakeReceiverRecord(1, 0, name), MakeReceiverRecord(2, 1, u""),
                                 MakeReceiverRecord(0xFFFFFFFF, 2, u"x")};
    const uint32_t v[3] = {1, 0x80000000, 0xFFFFFFFF}, sevens[3] = {7, 7, 7};
    const uint8_t blob[] = {0, 1, 2, 255};
    CArgumentList a, all;
    a.Pack(2, ARG_UINT32, 3u, ARG_WSTRING, u"\u20ac");
    all.Pack(5, ARG_WSTRING, name, ARG_DOUBLE, -2.5, ARG_BLOB, blob, 4u, ARG_BOOL, true, ARG_WCHAR,
             u'\u20ac');
    return {
        {"Registration", new CRegistrationMessage(-5), new CRegistrationMessage(9)},
        {"StringResponse", new CStringResponse(11, 3, name), new CStringResponse(11, 0, u"keep")},
        {"ReceiverList", new CReceiverListMessage(8, r, 3),
         new CReceiverListMessage(8, nullptr, 0)},
        {"IntegerList", new CIntegerListMessage(12, 3, v), new CIntegerListMessage(12, 3, sevens)},
        {"ArgumentList", new CArgumentListMessage(9, &a), new CArgumentListMessage(9, nullptr)},
        {"ArgumentListResponse", new CArgumentListResponse(15, 4, &all),
         new CArgumentListResponse(15, 14, nullptr)},
        {"EmptyResponse", new CEmptyResponse(7, 5), new CEmptyResponse(7, 6)},
    };
}

// Every proper prefix of a valid message is refused and leaves the reader as it was; the whole
// message reads back to the very bytes it came from.
TEST(Robustness, EveryTruncationIsRefusedAndTheWholeReadsBack)
{
    for (const Sample& s : Samples())
    {
        CRefPtr<CByteBuffer> full;
        s.sample->Serialise(full);
        CRefPtr<CByteBuffer> before;
        s.reader->Serialise(before);
        for (uint32_t n = 0; n < full->GetSize(); ++n)
        {
            auto prefix = BufferOf(std::vector<uint8_t>(full->Data(), full->Data() + n));
            EXPECT_FALSE(s.reader->Deserialise(prefix.Get())) << s.name << " cut to " << n;
            CRefPtr<CByteBuffer> after;
            s.reader->Serialise(after);
            EXPECT_EQ(Hex(after.Get()), Hex(before.Get())) << s.name << " cut to " << n;
        }
        ASSERT_TRUE(s.reader->Deserialise(full.Get())) << s.name;
        CRefPtr<CByteBuffer> back;
        s.reader->Serialise(back);
        EXPECT_EQ(Hex(back.Get()), Hex(full.Get())) << s.name;
    }
}

// A wrong identifier or kind, counts and lengths that the remaining bytes cannot hold: refused at
// once, without allocating.
TEST(Robustness, WrongHeadersAndAbsurdCountsAreRefused)
{
    CRefPtr<IMessage> list = new CReceiverListMessage(8, nullptr, 0),
                      arguments = new CArgumentListMessage(9, nullptr),
                      text = new CStringResponse(11, 0, nullptr), empty = new CEmptyResponse(7, 0);
    const struct
    {
        const char* name;
        IMessage* reader;
        const char* bytes;
        bool accepted;
    } cases[] = {
        // clang-format off
        {"the right header", empty.Get(), "00 00 00 07 03 00 00 00 05", true},
        {"a request with the response's identifier", empty.Get(), "00 00 00 07 02 00 00 00 05", false},
        {"another identifier", empty.Get(), "00 00 00 08 03 00 00 00 05", false},
        {"receiver count 2^31-1", list.Get(), "00 00 00 08 01 7F FF FF FF 00 00 00 01 00 00 00 01 00 00", false},
        {"receiver name longer than body", list.Get(), "00 00 00 08 01 00 00 00 01 00 00 00 01 00 00 00 01 FF FF 41", false},
        {"argument count 2^31-1", arguments.Get(), "00 00 00 09 01 7F FF FF FF 00 00 00 00", false},
        {"argument blob 4 GiB", arguments.Get(), "00 00 00 09 01 00 00 00 01 FF FF FF FF 05", false},
        {"string length past end", text.Get(), "00 00 00 0B 03 00 00 00 01 00 10 41 42", false},
        // clang-format on
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.reader->Deserialise(BufferOf(Bytes(c.bytes)).Get()), c.accepted) << c.name;
    EXPECT_FALSE(empty->Deserialise(nullptr));
}
} // namespace
