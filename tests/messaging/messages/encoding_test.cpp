// SPDX-License-Identifier: MIT
// The exact bytes of every message class and primitive encoding, and round trips back.

#include "message.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace
{
struct EncodingCase
{
    const char* name;
    std::function<CRefPtr<IMessage>()> build;
    std::string expected; // hex; "CC CC CC CC" stands for the request's own correlation value
};

std::string CorrelationHex(uint32_t v)
{
    const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    return Hex(b, 4);
}

CArgumentList ListOf5And1AndAbc()
{
    CArgumentList list;
    list.Pack(2, ARG_UINT32, 1u, ARG_WSTRING, u"abc");
    return list;
}

void PrintTo(const EncodingCase& c, std::ostream* os)
{
    *os << c.name;
}

class EncodingTest : public testing::TestWithParam<EncodingCase>
{
};

TEST_P(EncodingTest, SerialisesToTheseBytes)
{
    const EncodingCase& c = GetParam();
    CRefPtr<IMessage> message = c.build();
    ASSERT_TRUE(message);
    CRefPtr<CByteBuffer> bytes;
    message->Serialise(bytes);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->GetSize(), message->GetSize());

    std::string expected = c.expected;
    if (auto* request = dynamic_cast<CRequestMessage*>(message.Get()))
    {
        const auto at = expected.find("CC CC CC CC");
        ASSERT_NE(at, std::string::npos);
        expected.replace(at, 11, CorrelationHex(request->GetCorrelationID()));
    }
    EXPECT_EQ(Hex(bytes.Get()), expected);
}

template <class T> CRefPtr<IMessage> AsMessage(const CRefPtr<T>& p)
{
    return CRefPtr<IMessage>(p.Get());
}

const EncodingCase kEncodingCases[] = {
    {"Registration",
     []
     {
         CRefPtr<CRegistrationMessage> m;
         MakeRegistrationMessage(m, 1);
         return AsMessage(m);
     },
     "00 00 00 01 01 00 00 00 01"},
    {"ClearLog",
     []
     {
         CRefPtr<CEmptyMessage> m;
         MakeEmptyMessage(m, ClearLogMessage);
         return AsMessage(m);
     },
     "00 00 00 12 01"},
    {"SetLogMask0x10",
     []
     {
         const uint32_t v = 0x10;
         CRefPtr<CIntegerListMessage> m;
         MakeIntegerListMessage(m, SetLogMaskMessage, 1, &v);
         return AsMessage(m);
     },
     "00 00 00 0C 01 00 00 00 10"},
    {"StopLoggingSendsZero",
     []
     {
         const uint32_t v = 0;
         CRefPtr<CIntegerListMessage> m;
         MakeIntegerListMessage(m, SetLogMaskMessage, 1, &v);
         return AsMessage(m);
     },
     "00 00 00 0C 01 00 00 00 00"},
    {"ReceiverCommandToClass",
     []
     {
         CArgumentList list;
         list.Pack(2, ARG_UINT32, 0u, ARG_WSTRING, u"ab");
         CRefPtr<CArgumentListMessage> m;
         MakeArgumentListMessage(m, ReceiverCommand, &list);
         return AsMessage(m);
     },
     "00 00 00 09 01 00 00 00 02 00 00 00 05 05 00 00 00 00 00 00 00 05 0A 00 02 61 62"},
    {"ArgumentListOf5And10",
     []
     {
         CArgumentList list = ListOf5And1AndAbc();
         CRefPtr<CArgumentListMessage> m;
         MakeArgumentListMessage(m, 40, &list);
         return AsMessage(m);
     },
     "00 00 00 28 01 00 00 00 02 00 00 00 05 05 00 00 00 01 00 00 00 06 0A 00 03 61 62 63"},
    {"GetLogMaskRequest",
     []
     {
         CRefPtr<CEmptyRequest> m;
         MakeEmptyRequest(m, GetLogMaskRequest, GetLogMaskResponse);
         return AsMessage(m);
     },
     "00 00 00 0E 02 CC CC CC CC"},
    {"GetLogMaskResponse0x1E",
     []
     {
         CArgumentList list;
         list.Pack(1, ARG_UINT32, 0x1Eu);
         CRefPtr<CArgumentListResponse> m;
         MakeArgumentListResponse(m, GetLogMaskResponse, 0x01020304, &list);
         return AsMessage(m);
     },
     "00 00 00 0F 03 01 02 03 04 00 00 00 01 00 00 00 05 05 00 00 00 1E"},
    {"ReceiverStatusOneRecord",
     []
     {
         const ReceiverRecord r = MakeReceiverRecord(7, 1, u"R1");
         CRefPtr<CReceiverListMessage> m;
         MakeReceiverListMessage(m, ReceiverStatusEvent, &r, 1);
         return AsMessage(m);
     },
     "00 00 00 08 01 00 00 00 01 00 00 00 07 00 00 00 01 00 02 52 31"},
    {"ReceiverStatusNoRecords",
     []
     {
         CRefPtr<CReceiverListMessage> m;
         MakeReceiverListMessage(m, ReceiverStatusEvent, nullptr, 0);
         return AsMessage(m);
     },
     "00 00 00 08 01 00 00 00 00"},
    {"LogFilePathNonAscii",
     []
     {
         CRefPtr<CStringResponse> m;
         MakeStringResponse(m, GetLogFileResponse, 0xA0B0C0D0, u"/t\u00e9\u20ac");
         return AsMessage(m);
     },
     "00 00 00 0B 03 A0 B0 C0 D0 00 07 2F 74 C3 A9 E2 82 AC"},
    {"NullStringResponse",
     []
     {
         CRefPtr<CStringResponse> m;
         MakeStringResponse(m, GetLogFileResponse, 9, nullptr);
         return AsMessage(m);
     },
     "00 00 00 0B 03 00 00 00 09 00 00"},
    {"ClosingResponse",
     []
     {
         CRefPtr<CEmptyResponse> m;
         MakeEmptyResponse(m, ClientClosingResponse, 0xFFFFFFFF);
         return AsMessage(m);
     },
     "00 00 00 07 03 FF FF FF FF"},
};

INSTANTIATE_TEST_SUITE_P(Catalogue, EncodingTest, testing::ValuesIn(kEncodingCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Primitive encodings, each written alone into an exactly sized block.
TEST(PrimitiveEncoding, WritesTheseBytes)
{
    struct Case
    {
        const char* name;
        uint32_t size;
        std::function<void(CWriteCursor&)> write;
        const char* expected;
    } cases[] = {
        {"double 1.0", 8, [](CWriteCursor& c) { WriteDouble(c, 1.0); }, "3F F0 00 00 00 00 00 00"},
        {"float 1.0", 4, [](CWriteCursor& c) { WriteFloat(c, 1.0f); }, "3F 80 00 00"},
        {"wide abc", 5, [](CWriteCursor& c) { WriteWString(c, u"abc"); }, "00 03 61 62 63"},
        {"wide null", 2, [](CWriteCursor& c) { WriteWString(c, nullptr); }, "00 00"},
        {"wide empty", 2, [](CWriteCursor& c) { WriteWString(c, u""); }, "00 00"},
        {"lone surrogate", 2, [](CWriteCursor& c) { WriteWString(c, u"a\xD800"); }, "00 00"},
        {"narrow abc", 5, [](CWriteCursor& c) { WriteString(c, "abc"); }, "00 03 61 62 63"},
        {"bool 7", 1, [](CWriteCursor& c) { WriteBool(c, 7); }, "01"},
        {"u16", 2, [](CWriteCursor& c) { WriteUInt16(c, 0xBEEF); }, "BE EF"},
        {"blob null", 4, [](CWriteCursor& c) { WriteBlob(c, nullptr, 9); }, "00 00 00 00"},
        {"blob", 6,
         [](CWriteCursor& c)
         {
             const uint8_t b[] = {9, 8};
             WriteBlob(c, b, 2);
         },
         "00 00 00 02 09 08"},
    };
    for (const auto& c : cases)
    {
        std::vector<uint8_t> block(c.size);
        CWriteCursor cursor{block.data(), block.data() + block.size()};
        c.write(cursor);
        EXPECT_EQ(cursor.p, cursor.end) << c.name;
        EXPECT_EQ(Hex(block.data(), block.size()), c.expected) << c.name;
    }
}

TEST(PrimitiveEncoding, SurrogatePairsRoundTripThroughUtf8)
{
    const std::u16string text = u"\U0001F600 \u00fc\u20ac";
    std::string utf8;
    ASSERT_TRUE(Utf16ToUtf8(text, utf8));
    EXPECT_EQ(Hex(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()),
              "F0 9F 98 80 20 C3 BC E2 82 AC");
    std::u16string back;
    ASSERT_TRUE(Utf8ToUtf16(utf8, back));
    EXPECT_EQ(back, text);
}

TEST(PrimitiveEncoding, InvalidUtf8ReadsAsNoString)
{
    for (const char* bytes : {"00 02 C3 28", "00 02 C0 AF", "00 03 ED A0 80", "00 01 FF"})
    {
        auto buffer = Bytes(bytes);
        CReadCursor c{buffer.data(), buffer.data() + buffer.size()};
        std::optional<std::u16string> text = u"old";
        EXPECT_TRUE(ReadWString(c, text)) << bytes;
        EXPECT_FALSE(text.has_value()) << bytes;
    }
}

// A string longer than the 16-bit length can say is cut at the last whole character.
TEST(PrimitiveEncoding, OverlongStringIsCutAtACharacterBoundary)
{
    std::u16string text(40000, u'\u00e9'); // 80000 UTF-8 bytes
    const std::string wire = WireUtf8(text.c_str());
    EXPECT_EQ(wire.size(), 65534u);
    EXPECT_EQ(WStringSize(text.c_str()), 65536u);
    std::u16string back;
    EXPECT_TRUE(Utf8ToUtf16(wire, back));
    EXPECT_EQ(back.size(), 32767u);
}

// Every class read back from its own bytes gives the same content, non-ASCII text included.
TEST(RoundTrip, EveryClassReadsBackWhatItWrote)
{
    const char16_t* name = u"K\u00fcche \u0420\u0443\u0441 \U0001F600";

    CRefPtr<CStringResponse> text;
    MakeStringResponse(text, GetLogFileResponse, 77, name);
    CRefPtr<CByteBuffer> bytes;
    text->Serialise(bytes);
    CRefPtr<CStringResponse> textBack;
    MakeStringResponse(textBack, GetLogFileResponse, 0, nullptr);
    ASSERT_TRUE(textBack->Deserialise(bytes.Get()));
    EXPECT_EQ(std::u16string(textBack->GetText()), name);
    EXPECT_EQ(textBack->GetCorrelationID(), 77u);

    const ReceiverRecord records[3] = {MakeReceiverRecord(1, 0, name),
                                       MakeReceiverRecord(2, 1, u""),
                                       MakeReceiverRecord(0xFFFFFFFF, 2, u"x")};
    CRefPtr<CReceiverListMessage> list;
    MakeReceiverListMessage(list, ReceiverStatusEvent, records, 3);
    list->Serialise(bytes);
    CRefPtr<CReceiverListMessage> listBack;
    MakeReceiverListMessage(listBack, ReceiverStatusEvent, nullptr, 0);
    ASSERT_TRUE(listBack->Deserialise(bytes.Get()));
    const ReceiverRecord* pRecords = nullptr;
    ASSERT_EQ(listBack->GetRecords(&pRecords), 3);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(pRecords[i].iReceiverID, records[i].iReceiverID);
        EXPECT_EQ(pRecords[i].iState, records[i].iState);
        EXPECT_EQ(std::u16string(pRecords[i].szName), std::u16string(records[i].szName));
    }

    const uint32_t values[3] = {1, 0x80000000, 0xFFFFFFFF};
    CRefPtr<CIntegerListMessage> ints;
    MakeIntegerListMessage(ints, 50, 3, values);
    ints->Serialise(bytes);
    const uint32_t zeros[3] = {};
    CRefPtr<CIntegerListMessage> intsBack;
    MakeIntegerListMessage(intsBack, 50, 3, zeros);
    ASSERT_TRUE(intsBack->Deserialise(bytes.Get()));
    EXPECT_EQ(intsBack->GetValues(), std::vector<uint32_t>(values, values + 3));

    CArgumentList arguments;
    const uint8_t blob[] = {0, 1, 2, 255};
    arguments.Pack(5, ARG_WSTRING, name, ARG_DOUBLE, -2.5, ARG_BLOB, blob, 4u, ARG_BOOL, true,
                   ARG_WCHAR, u'\u20ac');
    ASSERT_EQ(arguments.GetCount(), 5);
    CRefPtr<CArgumentListResponse> response;
    MakeArgumentListResponse(response, 60, 5, &arguments);
    response->Serialise(bytes);
    CRefPtr<CArgumentListResponse> responseBack;
    MakeArgumentListResponse(responseBack, 60, 0, nullptr);
    ASSERT_TRUE(responseBack->Deserialise(bytes.Get()));
    std::optional<std::u16string> wide;
    double d = 0;
    std::unique_ptr<uint8_t[]> blobBack;
    uint32_t blobLength = 0;
    bool flag = false;
    uint16_t wch = 0;
    ASSERT_TRUE(responseBack->GetArguments().Unpack(5, ARG_WSTRING, &wide, ARG_DOUBLE, &d, ARG_BLOB,
                                                    &blobBack, &blobLength, ARG_BOOL, &flag,
                                                    ARG_WCHAR, &wch));
    EXPECT_EQ(*wide, name);
    EXPECT_EQ(d, -2.5);
    ASSERT_EQ(blobLength, 4u);
    EXPECT_EQ(Hex(blobBack.get(), 4), "00 01 02 FF");
    EXPECT_TRUE(flag);
    EXPECT_EQ(wch, 0x20AC);

    CRefPtr<CRegistrationMessage> registration;
    MakeRegistrationMessage(registration, -5);
    registration->Serialise(bytes);
    CRefPtr<CRegistrationMessage> registrationBack;
    MakeRegistrationMessage(registrationBack, 0);
    ASSERT_TRUE(registrationBack->Deserialise(bytes.Get()));
    EXPECT_EQ(registrationBack->GetRegistrationID(), -5);
}

// A name longer than a record holds arrives as its first 31 characters.
TEST(RoundTrip, ReceiverNameIsCutTo31Characters)
{
    const std::u16string name40 = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
    auto bytes = Bytes("00 00 00 08 01 00 00 00 01 00 00 00 07 00 00 00 01 00 28");
    bytes.insert(bytes.end(), name40.begin(), name40.end()); // ASCII: one byte per character
    CRefPtr<CReceiverListMessage> list;
    MakeReceiverListMessage(list, ReceiverStatusEvent, nullptr, 0);
    ASSERT_TRUE(list->Deserialise(BufferOf(bytes).Get()));
    const ReceiverRecord* pRecords = nullptr;
    ASSERT_EQ(list->GetRecords(&pRecords), 1);
    EXPECT_EQ(std::u16string(pRecords[0].szName), name40.substr(0, 31));
}

TEST(RoundTrip, RegistrationTracesItsIdentifier)
{
    CTraceRecorder trace;
    CRefPtr<CRegistrationMessage> registration;
    MakeRegistrationMessage(registration, 1);
    registration->Trace();
    CRefPtr<CEmptyMessage> other;
    MakeEmptyMessage(other, 13);
    other->Trace();
    EXPECT_EQ(trace.Lines(),
              std::vector<std::string>{"CRegistrationMessage: m_iRegistrationID = 1.\n"});
}
} // namespace
