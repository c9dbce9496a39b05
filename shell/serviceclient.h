// SPDX-License-Identifier: MIT
// The service client: the program's only link to the receiver service. It finds the service,
// connects, reconnects by itself after a loss, offers the typed requests of the protocol, and
// queues what the service sends for dispatch on the thread that asks for it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// How the service client reports to its owner (the main frame, or zelbinctl).
class IServiceClientEvents
{
public:
    virtual ~IServiceClientEvents() = default;
    // Called on a messaging thread: messages wait in the queue. True: the owner will call
    // ProcessMessages on its own thread; false: they are dispatched at once on this thread.
    virtual bool OnMessagesPending() = 0;
    // The four below run on the thread that calls ProcessMessages.
    virtual void OnReceiverStatus(uint32_t iReceiverID, uint32_t iState,
                                  const std::u16string& name) = 0;
    virtual void OnLogUpdated() = 0;
    virtual void OnConnected() = 0;
    virtual void OnDisconnected() = 0;
};

inline constexpr const char* SERVICE_HOST = "127.0.0.1";
inline constexpr int SERVICE_LOOKUP_TIMEOUT_MS = 2000;
inline constexpr int SERVICE_REQUEST_TIMEOUT_MS = 10000;

class CServiceClientImpl;

class CServiceClient
{
public:
    enum class EStart
    {
        Wait,       // the constructor looks the service up (at most 2 s) and connects
        Background, // the constructor returns at once; look-up and connection follow on a
                    // thread of their own, and ConnectedEvent says when they succeeded
    };
    // Looks the service up and connects; if it is not found, waits for its announcement in the
    // background.
    explicit CServiceClient(EStart eStart = EStart::Wait);
    // Says goodbye to the service (up to 10 s when it does not answer) and lets go of it.
    virtual ~CServiceClient();
    CServiceClient(const CServiceClient&) = delete;
    CServiceClient& operator=(const CServiceClient&) = delete;

    // Messages that arrive while no sink is set wait in the queue; setting a sink hands them over
    // (its OnMessagesPending, or dispatch at once when that returns false).
    void SetEventSink(IServiceClientEvents* pSink);
    bool IsConnected() const;
    // Dispatches up to iMaxCount queued messages (-1: until the queue is empty, including those
    // that arrive meanwhile). Returns how many were left when the count ran out, else 0.
    uint32_t ProcessMessages(int32_t iMaxCount);

    void SendReceiverCommand(uint32_t iReceiverID, const std::u16string& text);
    // True when the service answered; path is left as it was otherwise.
    bool GetLogFilePath(std::u16string& path);
    void SetLogMask(uint32_t iMask);
    // 0 when the service does not answer.
    uint32_t GetLogMask();
    // True when the service answered.
    bool GetLogMask(uint32_t& iMask);
    void ClearLog();

    // One-way messages leave from the calling thread unless this was called: from then on they
    // leave from a thread of the client's own, in the order they were asked for, so that a
    // window never waits on them. Either way a request goes out after every one-way message
    // asked for before it, and the goodbye after all of them.
    void SendInBackground();

    // How long a request waits for its answer: 10000 ms unless an owner (a test) wants less.
    void SetRequestTimeout(int iMilliseconds);
    int GetRequestTimeout() const;

    // Whether the first connection attempt, the one the constructor starts, succeeded: false
    // while it runs and when the service was not found then.
    bool WasConnectedAtStart() const;
    // Whether that first attempt still runs.
    bool IsStarting() const;
    // Makes a request that waits, or will wait, return at once without an answer, until the
    // teardown's goodbye: for an owner that stops the thread its requests run on.
    void CancelRequests();

private:
    std::unique_ptr<CServiceClientImpl> m_pImpl;
};
