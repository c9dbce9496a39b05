// SPDX-License-Identifier: MIT
// zelbinctl: Zelbin's functions for scripts and for technicians without a display. It talks to
// the receiver service through the same service client, log reader, receivers bookkeeping and
// command-text builders as the window.

#include "catalogue.h"
#include "commandline.h"
#include "commandtext.h"
#include "logreader.h"
#include "metrics.h"
#include "metricsserver.h"
#include "output.h"
#include "program.h"
#include "receiverlist.h"
#include "serviceclient.h"
#include "stopsignal.h"
#include "textfile.h"
#include "trace.h"
#include "utf8path.h"
#include "waithandle.h"
#include "wire.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_NOT_FOUND = 3;
constexpr int EXIT_NO_ANSWER = 4;

// Output ended before the command did: a stop signal, or a reader that went away.
struct SOutputEnded
{
};

void Complain(const std::string& text)
{
    std::fprintf(stderr, "zelbinctl: %s\n", text.c_str());
}

bool IsStopRequested(CStopSignal& signals)
{
    CWaitHandle* handles[1] = {&signals};
    return WaitForHandles(handles, 1, 0) == 0;
}

// Watches the stop signal while the main thread waits for an answer: a request to a service
// that does not answer ends at once when zelbinctl is asked to stop, and the goodbye then waits
// a quarter of a second at most (a service that answers takes a millisecond), so that zelbinctl
// is gone within a second.
class CStopWatcher
{
public:
    CStopWatcher(CStopSignal& signals, CServiceClient& client)
        : m_thread(
              [this, &signals, &client]
              {
                  CWaitHandle* handles[2] = {&m_quit, &signals};
                  if (WaitForHandles(handles, 2, WAIT_INFINITE) != 1)
                      return;
                  client.SetRequestTimeout(250);
                  client.CancelRequests();
              })
    {
    }
    ~CStopWatcher()
    {
        m_quit.Set();
        m_thread.join();
    }
    CStopWatcher(const CStopWatcher&) = delete;
    CStopWatcher& operator=(const CStopWatcher&) = delete;

private:
    CEvent m_quit;
    std::thread m_thread;
};

// Receives the client's events; the messages are dispatched on the main thread. The handlers
// only take note and print: reading the log waits for the loop (FollowLogIfAsked), outside the
// client's dispatch, so that a stop can end it there.
class CControl : public IServiceClientEvents
{
public:
    bool bJson = false;
    bool bWatchReceivers = false;
    bool bFollowLog = false;
    CEvent pending;
    CReceiverList receivers;
    std::u16string logPath;
    CLogFollower log;
    CServiceClient* pClient = nullptr;
    ILogTextTarget* pLogOut = nullptr;
    CServiceMetrics* pMetrics = nullptr;
    bool bLogAsked = false;
    int iDisconnections = 0;

    bool OnMessagesPending() override
    {
        pending.Set();
        return true;
    }
    void OnReceiverStatus(uint32_t iId, uint32_t iState, const std::u16string& name) override
    {
        receivers.SetReceiverEntry(iId, iState, name);
        if (pMetrics)
            pMetrics->OnReceiverStatus(iId, iState);
        if (bWatchReceivers)
            PrintReceiver(iId, iState, name);
    }
    void OnLogUpdated() override
    {
        if (pMetrics)
            pMetrics->OnLogUpdated();
        bLogAsked = bFollowLog;
    }
    void OnConnected() override
    {
        if (pMetrics)
            pMetrics->OnConnected();
        if (bWatchReceivers || bFollowLog)
            Note("connected");
        bLogAsked = bFollowLog;
    }
    void OnDisconnected() override
    {
        ++iDisconnections;
        receivers.ClearReceivers();
        if (pMetrics)
            pMetrics->OnDisconnected();
        if (bWatchReceivers || bFollowLog)
            Note("disconnected; waiting for the service to come back");
    }

    void PrintReceiver(uint32_t iId, uint32_t iState, const std::u16string& name) const
    {
        if (bJson)
            CStandardOutput::WriteJson({{"id", iId}, {"state", iState}, {"name", ToUtf8(name)}});
        else
            CStandardOutput::Write(std::to_string(iId) + "\t" + std::to_string(iState) + "\t" +
                                   Escaped(ToUtf8(name)) + "\n");
    }
    void Note(const char* what) const
    {
        if (bJson)
            CStandardOutput::WriteJson({{"event", what}});
        else
            Complain(what);
    }
    // Asks the service where it logs and reads what is new there; false when it did not answer.
    bool FollowLog();
    void FollowLogIfAsked()
    {
        if (bLogAsked)
            FollowLog();
        bLogAsked = false;
    }
};

// Writes the log text to standard output as it arrives, one line per log line.
class CStdoutLog : public ILogTextTarget
{
public:
    explicit CStdoutLog(CControl& control) : m_control(control) {}
    size_t GetTextLength() override { return m_iLength; }
    size_t GetTextLimit() override { return SIZE_MAX; }
    void MoveCaretToEnd() override {}
    void Empty() override
    {
        if (m_iLength)
            m_control.Note("the log was cleared");
        m_iLength = 0;
    }
    // A terminal has no limit: the text streams through in parts.
    size_t GetStreamChunk() override { return 64 * 1024; }
    void Insert(const std::u16string& batch) override
    {
        // The window's rule ends a kept line with CR LF: that is LF here. Every other unit, a CR
        // inside a line or NUL included, goes out as it is.
        std::u16string text;
        text.reserve(batch.size());
        for (size_t i = 0; i < batch.size(); ++i)
            if (batch[i] != u'\r' || i + 1 >= batch.size() || batch[i + 1] != u'\n')
                text += batch[i];
        m_iLength += batch.size();
        bool bWritten = true;
        if (m_control.bJson)
        {
            for (size_t start = 0; bWritten && start < text.size();)
            {
                const size_t end = std::min(text.find(u'\n', start), text.size());
                bWritten =
                    CStandardOutput::WriteJson({{"line", ToUtf8(text.substr(start, end - start))}});
                start = end + 1;
            }
        }
        else if (!text.empty())
            bWritten = CStandardOutput::Write(ToUtf8(text));
        if (!bWritten)
            throw SOutputEnded();
    }
    void ReplaceAll(const std::u16string& batch) override { Insert(batch); }

private:
    CControl& m_control;
    size_t m_iLength = 0;
};

bool CControl::FollowLog()
{
    std::u16string path = logPath;
    if (!pClient || !pClient->GetLogFilePath(path))
        return false;
    logPath = path;
    if (!logPath.empty() && logPath != log.GetLogFilePath())
    {
        log.SetLogFile(logPath, *pLogOut);
        if (!log.IsLogFileOpen() && !log.GetError().empty())
            Complain(Escaped(log.GetError()));
    }
    else
        log.ReadNewLogData(*pLogOut);
    return true;
}

// Dispatches the client's messages on this thread and follows the log when asked, until the
// condition holds or the time is up (true), or a stop signal, another handle of the caller or a
// failed output ends it (false).
bool Pump(CServiceClient& client, CControl& control, CStopSignal& signals,
          const std::function<bool()>& done, int iTimeoutMs, CWaitHandle* pAlso = nullptr)
{
    const auto deadline = iTimeoutMs < 0 ? Clock::time_point::max()
                                         : Clock::now() + std::chrono::milliseconds(iTimeoutMs);
    CWaitHandle* handles[3] = {&signals, &control.pending, pAlso};
    for (;;)
    {
        control.pending.Reset();
        client.ProcessMessages(-1);
        control.FollowLogIfAsked();
        if (!CStandardOutput::IsGood())
            return false;
        if (done())
            return true;
        int iWait = WAIT_INFINITE;
        if (iTimeoutMs >= 0)
        {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0)
                return true;
            iWait = static_cast<int>(left);
        }
        const int r = WaitForHandles(handles, pAlso ? 3 : 2, iWait);
        if (r == 0 || r == 2)
            return false;
    }
}

int Usage(const std::string& problem, const CCommandLine& commandLine)
{
    Complain(problem);
    std::fputs(commandLine.Help().c_str(), stderr);
    return EXIT_USAGE;
}

// The status of a command that a stop signal or its output ended.
int Ended(const Request& r, CStopSignal& signals)
{
    return IsStopRequested(signals) && (r.bWatch || r.bFollow) ? 0 : EXIT_FAILED;
}

// A request went unanswered, or the connection went while the command ran (unless a stop ended
// the wait). The goodbye then waits a second at most, not the ten a request may take.
int NoAnswer(const Request& r, CStopSignal& signals, CServiceClient& client,
             const char* pszWhat = "no answer from the receiver service")
{
    if (IsStopRequested(signals))
        return Ended(r, signals);
    Complain(pszWhat);
    client.SetRequestTimeout(1000);
    return EXIT_NO_ANSWER;
}

int Templates(bool bJson)
{
    for (int i = 0; i < COMMAND_TEMPLATE_COUNT; ++i)
    {
        const std::string name = ToUtf8(g_commandTemplates[i].pszName);
        const std::string text = ToUtf8(g_commandTemplates[i].pszTemplate);
        if (bJson)
            CStandardOutput::WriteJson({{"index", i}, {"name", name}, {"template", text}});
        else
            CStandardOutput::Write(std::to_string(i) + "\t" + Escaped(name) + "\t" + Escaped(text) +
                                   "\n");
    }
    return CStandardOutput::IsGood() ? 0 : EXIT_FAILED;
}

// zelbinctl metrics: follows the service (and waits for it while it is not there), keeping its
// figures; every interval it measures a GetLogMask round trip and the log file's size, and
// writes the text file when asked for one. A stop signal ends it.
int RunMetrics(const Request& r, CStopSignal& signals)
{
    CServiceMetrics metrics;
    CMetricsServer server;
    std::string problem;
    if (r.iListenPort >= 0)
    {
        if (!server.Start(
                r.listenHost, r.iListenPort, [&] { return metrics.Render(); }, &problem))
        {
            Complain(problem);
            return EXIT_USAGE;
        }
        Complain("serving " + server.GetUrl());
    }
    CControl control;
    control.pMetrics = &metrics;
    CServiceClient client(CServiceClient::EStart::Background);
    CStopWatcher watcher(signals, client);
    client.SetEventSink(&control);
    do
    {
        client.ProcessMessages(-1);
        const auto start = Clock::now();
        uint32_t iMask = 0;
        std::u16string path;
        if (client.IsConnected() && client.GetLogMask(iMask))
            metrics.OnRoundTrip(std::chrono::duration<double>(Clock::now() - start).count());
        std::error_code error;
        const bool bPath = client.IsConnected() && client.GetLogFilePath(path);
        const auto iBytes =
            bPath ? std::filesystem::file_size(PathFromUtf8(ToUtf8(path)), error) : 0;
        metrics.SetLogFileSize(bPath && !error ? static_cast<int64_t>(iBytes) : -1);
        if (!r.textfile.empty())
            problem = WriteTextFileAtomically(r.textfile, metrics.Render());
        if (!problem.empty())
            Complain("cannot write " + Escaped(problem));
        // A connection that comes or goes is asked about at once, not an interval later.
    } while (Pump(
        client, control, signals,
        [&client, bWasConnected = client.IsConnected()]
        { return client.IsConnected() != bWasConnected; },
        r.iIntervalMs, &server.GetFailedEvent()));
    if (!server.GetFailure().empty())
    {
        Complain("the HTTP server stopped: " + server.GetFailure());
        return EXIT_FAILED;
    }
    return 0;
}

// The command texts a command sends: one text, or the payload test's, built as they go.
void BuildTexts(const Request& r, std::vector<std::u16string>& texts, PayloadTestRun& payload)
{
    if (r.command == "send")
        texts.push_back(CleanCommandText(r.text));
    else if (r.command == "login-requirement")
        texts.push_back(LoginRequirementText(r.bTeam, r.bLogin));
    else if (r.command == "sample-quiz")
        texts.push_back(SampleQuizText(r.iCount));
    else if (r.command == "network-name")
        texts.push_back(NetworkNameText(r.text));
    else if (r.command == "payload-test")
        payload = BuildPayloadTest(r.payload);
}

// The command texts: sent in order, each printed as it goes, with the pause after each.
bool SendTexts(const Request& r, CServiceClient& client, CStopSignal& signals)
{
    const bool bPayload = r.command == "payload-test";
    std::vector<std::u16string> texts;
    PayloadTestRun payload;
    BuildTexts(r, texts, payload);
    const uint32_t iReceiver = r.command == "send" || bPayload ? r.iReceiver : 0;
    const int64_t iCount = bPayload ? payload.iTotal : static_cast<int64_t>(texts.size());
    for (int64_t i = 0; i < iCount; ++i)
    {
        const std::u16string text =
            bPayload ? payload.Text(static_cast<int32_t>(i + 1)) : texts[static_cast<size_t>(i)];
        client.SendReceiverCommand(iReceiver, text);
        const bool bWritten =
            r.bJson ? CStandardOutput::WriteJson({{"receiver", iReceiver}, {"sent", ToUtf8(text)}})
                    : CStandardOutput::Write(Escaped(ToUtf8(text)) + "\n");
        CWaitHandle* handles[1] = {&signals};
        if (!bWritten || IsStopRequested(signals) ||
            (bPayload && i + 1 < iCount && payload.iLatencyMs > 0 &&
             WaitForHandles(handles, 1, payload.iLatencyMs) == 0))
            return false;
    }
    return true;
}

int Run(const Request& r, CStopSignal& signals)
{
    const std::string& command = r.command;
    if (command == "templates")
        return Templates(r.bJson);
    if (command == "metrics")
        return RunMetrics(r, signals);

    CControl control;
    control.bJson = r.bJson;
    control.bWatchReceivers = r.bWatch;
    control.bFollowLog = r.bFollow;
    CStdoutLog logOut(control);
    control.pLogOut = &logOut;
    // The look-up runs beside the wait below, so --wait bounds the whole search.
    CServiceClient client(CServiceClient::EStart::Background);
    CStopWatcher watcher(signals, client);
    control.pClient = &client;
    client.SetEventSink(&control);
    if (!Pump(
            client, control, signals, [&] { return client.IsConnected(); }, r.iWaitMs))
        return Ended(r, signals);

    const bool bConnected = client.IsConnected();
    if (command == "status" && !bConnected)
    {
        if (r.bJson)
            CStandardOutput::WriteJson({{"connected", false},
                                        {"log-mask", 0},
                                        {"log-mask-names", "none"},
                                        {"log-file", ""}});
        else
            CStandardOutput::Write("connected: no\nlog-mask: 0x00 (none)\nlog-file: \n");
        return EXIT_NOT_FOUND;
    }
    if (!bConnected && !r.bWatch && !r.bFollow)
    {
        Complain("the receiver service was not found within " + std::to_string(r.iWaitMs) + " ms");
        return EXIT_NOT_FOUND;
    }
    const auto forever = [&]
    {
        Pump(
            client, control, signals, [] { return false; }, -1);
        return Ended(r, signals);
    };
    if (r.bWatch)
        return forever();
    if (r.bFollow)
    {
        control.bLogAsked = true;
        return forever();
    }

    uint32_t iMask = 0;
    std::u16string path;
    if (command == "status")
    {
        if (!client.GetLogMask(iMask) || !client.GetLogFilePath(path))
            return NoAnswer(r, signals, client);
        if (r.bJson)
            CStandardOutput::WriteJson({{"connected", true},
                                        {"log-mask", iMask},
                                        {"log-mask-names", MaskNames(iMask)},
                                        {"log-file", ToUtf8(path)}});
        else
        {
            char mask[16];
            std::snprintf(mask, sizeof mask, "0x%02x", iMask);
            CStandardOutput::Write(std::string("connected: yes\nlog-mask: ") + mask + " (" +
                                   MaskNames(iMask) + ")\nlog-file: " + Escaped(ToUtf8(path)) +
                                   "\n");
        }
        return CStandardOutput::IsGood() ? 0 : Ended(r, signals);
    }
    if (command == "receivers")
    {
        // The service sends its list right after our registration, before it answers anything
        // we ask later: once a request is answered, the list is in our queue.
        if (!client.GetLogMask(iMask))
            return NoAnswer(r, signals, client);
        client.ProcessMessages(-1);
        for (const ReceiverItem& item : control.receivers.GetItems())
        {
            const ReceiverEntry* pEntry = control.receivers.FindEntry(item.iData);
            control.PrintReceiver(item.iData, pEntry ? pEntry->iState : 0, item.text);
        }
        return CStandardOutput::IsGood() ? 0 : Ended(r, signals);
    }
    if (command == "log")
    {
        if (!control.FollowLog())
            return NoAnswer(r, signals, client);
        if (control.logPath.empty())
            Complain("the receiver service names no log file");
        return control.log.IsLogFileOpen() ? 0 : EXIT_FAILED;
    }
    if (command == "mask" && !r.bSetMask)
    {
        if (!client.GetLogMask(iMask))
            return NoAnswer(r, signals, client);
    }
    else
    {
        if (command == "mask")
            client.SetLogMask(r.iMask);
        else if (command == "clear-log")
            client.ClearLog();
        else if (!SendTexts(r, client, signals))
            return Ended(r, signals);
        // The service answers in order: an answer to a later request says that what was sent
        // before it arrived, unless the connection went meanwhile.
        const int iDisconnections = control.iDisconnections;
        if (!client.GetLogMask(iMask))
            return NoAnswer(r, signals, client);
        client.ProcessMessages(-1);
        if (control.iDisconnections != iDisconnections)
            return NoAnswer(r, signals, client, "the connection to the receiver service was lost");
    }
    if (command == "mask")
    {
        // What the service now has, whether asked or set.
        char mask[16];
        std::snprintf(mask, sizeof mask, "0x%02x", iMask);
        if (r.bJson)
            CStandardOutput::WriteJson({{"log-mask", iMask}, {"log-mask-names", MaskNames(iMask)}});
        else
            CStandardOutput::Write(std::string(mask) + " (" + MaskNames(iMask) + ")\n");
    }
    return CStandardOutput::IsGood() ? 0 : Ended(r, signals);
}
} // namespace

int main(int argc, char** argv)
{
    // Binary output on Windows too: the log is printed exactly as the file holds it (CR LF).
    SetUpProgram(argc, argv);
    // Before any thread starts, so that every thread leaves the stop signals to it.
    CStopSignal signals;
    CStandardOutput::SetStopSignal(&signals);
    CCommandLine commandLine;
    if (argc >= 2 && std::strcmp(argv[1], "--complete") == 0)
    {
        // For the shell's completion: the words that may follow the ones typed so far.
        std::string words;
        for (const std::string& word :
             commandLine.Complete(std::vector<std::string>(argv + 2, argv + argc)))
            words += word + "\n";
        return CStandardOutput::Write(words) ? 0 : EXIT_FAILED;
    }
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return CStandardOutput::Write(commandLine.Help()) ? 0 : EXIT_FAILED;
    Request r;
    std::string problem;
    if (!commandLine.Parse(argc, argv, r, problem))
        return Usage(problem, commandLine);
    // A built text that the service would refuse is refused before connecting; a text typed
    // whole for send goes as typed, to see what the service makes of it.
    if (r.command != "send")
    {
        std::vector<std::u16string> texts;
        PayloadTestRun payload;
        BuildTexts(r, texts, payload);
        if (const std::string refused = CheckCommandTexts(texts, payload); !refused.empty())
            return Usage(refused, commandLine);
    }
    if (r.bTrace)
        SetTraceSink(
            [](const char* pszLine)
            {
                std::fputs(pszLine, stderr);
                const size_t n = std::strlen(pszLine);
                if (n == 0 || pszLine[n - 1] != '\n')
                    std::fputc('\n', stderr);
            });
    try
    {
        return Run(r, signals);
    }
    catch (const SOutputEnded&)
    {
        return Ended(r, signals);
    }
    catch (const std::exception& error)
    {
        Complain(std::string("stopped by an error: ") + error.what());
        return EXIT_FAILED;
    }
}
