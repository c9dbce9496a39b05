// SPDX-License-Identifier: MIT
// Frames over real loopback: the reader and writer state machines and the messaging socket's queue.

#include "transporttest.h"

#include <cstring>
#include <thread>

namespace
{
class FrameTest : public testing::Test
{
protected:
    CLoopbackPair pair;
};

// A frame whose bytes, length prefix included, come one at a time is one frame; two frames, one
// whose length uses three bytes of its prefix, and an empty one in one segment are four.
TEST_F(FrameTest, FramesArriveByteByByteOrSeveralInOneSegment)
{
    for (uint8_t byte : Frame(Bytes("00 00 00 0D 01")))
    {
        ASSERT_TRUE(pair.PeerSend({byte}));
        if (pair.WaitReadable(1000))
            pair.messaging->OnReadable();
    }
    ByteVector large(0x010203);
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<uint8_t>(i % 251);
    ByteVector segment = Frame(Bytes("00 00 00 08 01 00 00 00 00"));
    for (const ByteVector& frame : {Frame(large), Frame({})})
        segment.insert(segment.end(), frame.begin(), frame.end());
    ASSERT_TRUE(pair.PeerSend(segment));
    pair.Pump([&] { return pair.sink.InboundCount() >= 4; });
    ASSERT_EQ(pair.sink.InboundCount(), 4u);
    const auto& inbound = pair.sink.inbound;
    EXPECT_EQ(Hex(inbound[0].data(), inbound[0].size()), "00 00 00 0D 01");
    EXPECT_EQ(Hex(inbound[1].data(), inbound[1].size()), "00 00 00 08 01 00 00 00 00");
    EXPECT_TRUE(inbound[2] == large);
    EXPECT_TRUE(inbound[3].empty());

    // At most 16 whole frames a turn, whatever waits; then the next turn, or another socket's.
    ByteVector many;
    for (int i = 0; i < 130; ++i)
        for (uint8_t byte : Frame(Bytes("00 00 00 0D 01")))
            many.push_back(byte);
    ASSERT_TRUE(pair.PeerSend(many)); // 1170 bytes, one segment on loopback
    ASSERT_TRUE(pair.WaitReadable());
    pair.messaging->OnReadable();
    EXPECT_EQ(pair.sink.InboundCount(), 4u + 16u);
    pair.messaging->OnReadable();
    EXPECT_EQ(pair.sink.InboundCount(), 4u + 32u);
    pair.Pump([&] { return pair.sink.InboundCount() >= 134u; });
    EXPECT_EQ(pair.sink.InboundCount(), 134u);
}

// 16 MiB begins a frame; a byte more, or any absurd length, is a protocol error, not an allocation.
TEST(FrameLimits, LengthPrefixesAtAndOverSixteenMebibytes)
{
    const struct
    {
        const char* prefix;
        int error;
    } cases[] = {{"00 FF FF FF", 0},
                 {"01 00 00 00", 0},
                 {"01 00 00 01", CODE_MESSAGE_TOO_LONG},
                 {"FF FF FF F0", CODE_MESSAGE_TOO_LONG}};
    for (const auto& c : cases)
    {
        CLoopbackPair pair;
        ASSERT_TRUE(pair.PeerSend(Bytes(std::string(c.prefix) + " 01 02")));
        ASSERT_TRUE(pair.WaitReadable(1000));
        EXPECT_EQ(ErrorOf([&] { pair.messaging->OnReadable(); }), c.error) << c.prefix;
        EXPECT_EQ(pair.sink.InboundCount(), 0u);
        EXPECT_EQ(pair.messaging->GetFrameDeadline() != 0, c.error == 0) << c.prefix;
    }
}

// The partial frames of the whole process hold at most 128 MiB: eight frames of 16 MiB, each a
// byte short of its end, and 8 bytes of a ninth come to it exactly; one byte more is refused.
TEST(FrameLimits, PartialFramesOfTheWholeProcessHoldAtMost128MiB)
{
    // Takes in a 16 MiB length prefix, then as many body bytes as it is given (left unwritten).
    class CFeedingSocket : public CSocket
    {
    public:
        CFeedingSocket() : CSocket(AF_INET, SOCK_DGRAM, 0, false) {}
        int Receive(void* pBuffer, int iLength) override
        {
            if (!prefix.empty())
            {
                std::memcpy(pBuffer, prefix.data(), 4);
                prefix.clear();
                return 4;
            }
            const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(iLength), body));
            body -= static_cast<size_t>(n);
            return n;
        }
        std::string prefix;
        size_t body = 0;
    } socket;
    std::vector<CRefPtr<CFrameReader>> readers;
    const auto feed = [&](size_t iBody)
    {
        readers.emplace_back(new CFrameReader);
        socket.prefix = std::string("\x01\x00\x00\x00", 4);
        socket.body = iBody;
        while (!socket.prefix.empty() || socket.body > 0)
            readers.back()->Step(&socket);
    };
    for (int i = 0; i < 8; ++i)
        feed(16777215);
    EXPECT_EQ(ErrorOf([&] { feed(8); }), 0);
    socket.body = 1;
    EXPECT_EQ(ErrorOf([&] { readers.back()->Step(&socket); }), CODE_NO_BUFFERS);
}

TEST_F(FrameTest, QueuedBuffersGoOutInOrderAndEmptyOnesSendNothing)
{
    pair.messaging->Send(nullptr); // idle: nothing to write
    for (const char* body : {"00 00 00 0D 01", "", "00 00 00 12 01"})
        pair.messaging->Send(BufferOf(Bytes(body)).Get());
    ByteVector received(18);
    ASSERT_TRUE(ReadAll(pair.peerFd, received.data(), received.size()));
    EXPECT_EQ(Hex(received.data(), received.size()),
              "00 00 00 05 00 00 00 0D 01 00 00 00 05 00 00 00 12 01");
    uint8_t extra;
    EXPECT_EQ(ReceiveNow(pair.peerFd, &extra, 1), -1); // nothing more was sent
}

// A large frame that the socket cannot take at once is resumed by write readiness, intact.
TEST_F(FrameTest, LargeFrameResumesOnWriteReadiness)
{
    ByteVector body(8 * 1024 * 1024);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<uint8_t>(i * 7);
    auto buffer = BufferOf(body);
    ByteVector received(body.size() + 4);
    std::atomic<bool> done = false;
    std::thread reader(
        [&]
        {
            ReadAll(pair.peerFd, received.data(), received.size());
            done = true;
        });
    pair.messaging->Send(buffer.Get());
    pair.Pump([&] { return done.load(); });
    reader.join();
    EXPECT_EQ(Hex(received.data(), 4), "00 80 00 00");
    EXPECT_TRUE(std::equal(body.begin(), body.end(), received.begin() + 4));
}

TEST_F(FrameTest, APeerThatStopsReadingLosesItsConnectionNotOurMemory)
{
    pair.messaging->SetSendQueueLimit(1024 * 1024);
    CRefPtr<CByteBuffer> chunk;
    MakeByteBuffer(chunk, 64 * 1024);
    std::memset(chunk->Data(), 0x42, chunk->GetSize());
    int sent = 0;
    const auto offer = [&]
    {
        for (; sent < 10000; ++sent) // the peer reads nothing
            pair.messaging->Send(chunk.Get());
    };
    EXPECT_EQ(ErrorOf(offer), CODE_NO_BUFFERS);
    // What the socket took plus at most the limit: far below what was offered.
    EXPECT_LT(sent, 1000);
}

// A socket whose sends are recorded, not made: shows how a frame is cut into sends. A send that
// says more of the frame follows is recorded with a minus sign.
class CRecordingSocket : public CSocket
{
public:
    CRecordingSocket() : CSocket(AF_INET, SOCK_DGRAM, 0, false) {}
    int Send(const void*, int iLength, bool bMoreFollows) override
    {
        sends.push_back(bMoreFollows ? -iLength : iLength);
        return iLength;
    }
    std::vector<int> sends;
};

TEST(FrameWriter, CutsFramesIntoPrefixThenChunksOfAtMost64KiB)
{
    const struct
    {
        uint32_t size;
        std::vector<int> sends;
    } cases[] = {
        {0, {}},
        {5, {-4, 5}},
        {65536, {-4, 65536}},
        {70000, {-4, 65536, 4464}},
    };
    for (const auto& c : cases)
    {
        CRecordingSocket socket;
        CRefPtr<CFrameWriter> writer;
        MakeFrameWriter(writer);
        CRefPtr<CByteBuffer> buffer;
        MakeByteBuffer(buffer, c.size);
        writer->SetBuffer(buffer.Get());
        while (!writer->IsComplete())
            ASSERT_EQ(writer->Step(&socket), FRAME_STEP_DONE);
        EXPECT_EQ(socket.sends, c.sends) << c.size;
    }
}

} // namespace
