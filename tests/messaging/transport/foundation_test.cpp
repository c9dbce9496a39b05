// SPDX-License-Identifier: MIT
// Threads that start once and stop on their event, and the exceptions' report lines.

#include "exceptions.h"
#include "testutil.h"

#include "connectionmanager.h"
#include "messagingsocket.h"
#include "sockets.h"

#include <gmock/gmock.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>

#if !defined(_WIN32)
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace
{
TEST(Exceptions, ReportWritesCodeAndText)
{
    CTraceRecorder trace;
    CSocketLibException(0).Report();
    CSystemException refused(CODE_CONNECTION_REFUSED);
    // Copied with its end: the allocator hands out the block just freed, full of other bytes.
    delete[] static_cast<char*>(std::memset(new char[19], 'X', 19));
    refused.Report();
    CExceptionBase(5, 7).Report(); // no such source: no text
    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Exception (Error code = 0) : Unknown error\n");
    // The system's own text, without the line break that Windows' message table ends it with.
    const std::string prefix =
        "Exception (Error code = " + std::to_string(CODE_CONNECTION_REFUSED) + ") : ";
    EXPECT_THAT(lines[1], testing::AnyOf(prefix + "Connection refused\n",  // Linux
                                         prefix + "Connection refused.\n", // Wine
                                         prefix + "No connection could be made because the target "
                                                  "machine actively refused it.\n")); // Windows
    EXPECT_EQ(lines[2], "Exception (Error code = 5) : <null>\n");
}

// Whatever escapes a thread's body ends it, with a trace line, as a stop would: Join returns.
TEST(ThreadBase, WhatEscapesABodyEndsItsThreadWithATraceLine)
{
    class CThrowing : public CThreadBase
    {
    public:
        explicit CThrowing(std::function<void()> body) : m_body(std::move(body)) {}
        ~CThrowing() override { Join(); }

    protected:
        void Run() override { m_body(); }

    private:
        std::function<void()> m_body;
    };
    const struct
    {
        std::function<void()> body;
        size_t lines;
        std::string last;
    } cases[] = {
        {[] { throw CSystemException(CODE_CONNECTION_REFUSED); }, 2,
         "CThreadBase::Run: The exception above escaped the thread's body; the thread ends."},
        {[] { throw std::runtime_error("out of luck"); }, 1,
         "CThreadBase::Run: \"out of luck\" escaped the thread's body; the thread ends."},
        {[] { throw 42; }, 1,
         "CThreadBase::Run: An unknown exception escaped the thread's body; the thread ends."},
    };
    for (const auto& c : cases)
    {
        CTraceRecorder trace;
        CThrowing thread(c.body);
        EXPECT_FALSE(thread.HasFinished());
        thread.Start();
        thread.Join();
        EXPECT_TRUE(thread.HasFinished());
        const auto lines = trace.Lines();
        ASSERT_EQ(lines.size(), c.lines) << c.last;
        EXPECT_EQ(lines.back(), c.last);
    }
}

// A thread still running when its object goes is stopped and joined by the base: the body has
// ended on the stop request by the time the destructor returns.
TEST(ThreadBase, AThreadDestroyedWhileRunningIsStoppedAndJoined)
{
    class CWaiting : public CThreadBase
    {
    public:
        explicit CWaiting(std::atomic<int>& result) : m_result(result) {}
        CEvent running;

    protected:
        void Run() override
        {
            std::atomic<int>& result = m_result; // the wait ends once this part is destroyed
            running.Set();
            CWaitHandle* handles[1] = {GetStopEvent()};
            result = WaitForEvents(handles, 1, 5000); // 0: stopped, not timed out
        }

    private:
        std::atomic<int>& m_result;
    };
    std::atomic<int> result = -1;
    {
        CWaiting thread(result);
        thread.Start();
        CWaitHandle* running[1] = {&thread.running};
        ASSERT_EQ(CThreadBase::WaitForEvents(running, 1, 5000), 0);
    }
    EXPECT_EQ(result, 0);
}

#if !defined(_WIN32)
// With no descriptor left, opening a connection fails with the system's reason as a trace line.
TEST(SocketLibrary, NoDescriptorLeftIsATraceLine)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' own checks need descriptors";
#endif
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> held;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
        held.push_back(fd);
    CTraceRecorder trace;
    CRefPtr<CMessagingSocket> socket;
    OpenMessagingSocket(socket, "127.0.0.1", 9, AF_INET, SOCK_STREAM, IPPROTO_TCP, true);
    for (const int fd : held)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_TRUE(trace.Contains("Exception (Error code = 24) : Too many open files\n"));
}
#endif

// The socket library is started by its first user and cleaned up after its last (WSAStartup and
// WSACleanup on Windows): a name look-up and a socket work with no manager alive, and one manager
// going does not take the library from another that still serves.
TEST(SocketLibrary, HeldFromTheFirstUserToTheLast)
{
    ASSERT_EQ(GetSocketLibraryUsers(), 0);
    EXPECT_EQ(ResolveAddress("localhost"), ResolveAddress("127.0.0.1"));
    EXPECT_EQ(GetSocketLibraryUsers(), 0);
    {
        CListenSocket listener(0);
        EXPECT_EQ(GetSocketLibraryUsers(), 1);
        auto first = std::make_unique<CConnectionManager>();
        CConnectionManager second;
        // Three alive at once share one reference-count lock, made by the first and freed by the
        // last (one made again would leak: the sanitizer build reports it).
        CConnectionManager third;
        EXPECT_EQ(GetSocketLibraryUsers(), 4);
        first.reset();
        EXPECT_EQ(GetSocketLibraryUsers(), 3);
        // The library is still started: the listener takes a connection that a new socket makes.
        CStreamSocket client(true);
        EXPECT_EQ(client.Connect("127.0.0.1", listener.GetPort()), 0);
        int iError = 0;
        std::unique_ptr<CStreamSocket> accepted;
        EXPECT_TRUE(WaitUntil(
            [&]
            {
                accepted.reset(listener.Accept(&iError));
                return accepted != nullptr;
            }));
        EXPECT_EQ(GetSocketLibraryUsers(), 5);
    }
    EXPECT_EQ(GetSocketLibraryUsers(), 0);
    // Started again after the last user went.
    CStreamSocket again(false);
    EXPECT_EQ(GetSocketLibraryUsers(), 1);
}
} // namespace
