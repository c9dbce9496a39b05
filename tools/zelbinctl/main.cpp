// SPDX-License-Identifier: MIT
// zelbinctl: Zelbin's functions for scripts and for technicians without a display. It talks to
// the receiver service through the same service client, log reader, receivers bookkeeping and
// command-text builders as the window.

#include "catalogue.h"
#include "commandtext.h"
#include "logreader.h"
#include "numbers.h"
#include "receiverlist.h"
#include "serviceclient.h"
#include "trace.h"
#include "waithandle.h"
#include "wire.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

constexpr int EXIT_USAGE = 2;
constexpr int EXIT_NOT_FOUND = 3;

const char* const USAGE =
    "Usage: zelbinctl [--wait MS] [--json] [--trace] COMMAND [ARGUMENTS]\n"
    "Talks to the local receiver service, as the Zelbin window does.\n\n"
    "Commands:\n"
    "  status                       connection, log mask and log file\n"
    "  receivers [--watch]          the receivers: ID<TAB>STATE<TAB>NAME; --watch prints changes\n"
    "  log [--follow]               the service's log file; --follow goes on as it grows\n"
    "  mask                         the log mask\n"
    "  mask set MASK                set it: a number (0x18, 24) or names "
    "(debug,verbose,processed,raw;\n"
    "                               none for 0)\n"
    "  clear-log                    clear the service's log\n"
    "  send RECEIVER_ID TEXT        send a command text (every \"0x\", then every blank removed)\n"
    "  templates                    the command templates: index, name, template\n"
    "  payload-test RECEIVER_ID [--type NAME|INDEX] [--total N] [--response TEXT]\n"
    "               [--latency MS] [--window MS]\n"
    "                               run the question/response payload test\n"
    "  login-requirement --login on|off --team on|off\n"
    "  sample-quiz COUNT            send the sample quiz with this download count\n"
    "  network-name NAME            set the class network name (at most 8 characters)\n\n"
    "Options:\n"
    "  --wait MS    how long to wait for the connection (default 3000)\n"
    "  --json       one JSON object per line instead of text\n"
    "  --trace      write the messaging library's trace lines to standard error\n"
    "  --help       this text\n\n"
    "Exit status: 0 done, 2 usage error, 3 the service was not found within --wait.\n";

struct LogCategory
{
    const char* name;
    uint32_t bit;
};
const LogCategory CATEGORIES[] = {
    {"verbose", LOG_VERBOSE}, {"processed", LOG_PROCESSED}, {"raw", LOG_RAW}, {"debug", LOG_DEBUG}};

std::string Utf8(const std::u16string& text)
{
    std::string out;
    if (Utf16ToUtf8(text, out)) // the usual case, in one pass
        return out;
    out.clear();
    for (size_t i = 0; i < text.size(); ++i)
    {
        // Unpaired surrogates cannot be written: show a replacement character for them.
        std::string one;
        const bool bPair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size();
        if (Utf16ToUtf8(text.substr(i, bPair ? 2 : 1), one))
        {
            out += one;
            i += bPair ? 1 : 0;
        }
        else
        {
            out += "\xEF\xBF\xBD";
        }
    }
    return out;
}

std::u16string Wide(const std::string& text)
{
    std::u16string out;
    if (!Utf8ToUtf16(text, out))
        NarrowToUtf16(text.c_str(), out);
    return out;
}

std::string Json(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text)
    {
        if (c == '"' || c == '\\')
            out += std::string("\\") + static_cast<char>(c);
        else if (c < 0x20)
        {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        }
        else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

std::string MaskNames(uint32_t iMask)
{
    std::string names;
    for (const auto& c : CATEGORIES)
        if (iMask & c.bit)
            names.append(names.empty() ? "" : ",").append(c.name);
    return names.empty() ? "none" : names;
}

bool ParseMask(const std::string& text, uint32_t& iMask)
{
    if (text.empty())
        return false;
    if (std::isdigit(static_cast<unsigned char>(text[0])))
    {
        return ParseWholeNumber(text, UINT32_MAX, iMask);
    }
    iMask = 0;
    if (text == "none")
        return true;
    size_t start = 0;
    while (start <= text.size())
    {
        const size_t end = std::min(text.find(',', start), text.size());
        const std::string name = text.substr(start, end - start);
        bool bKnown = false;
        for (const auto& c : CATEGORIES)
            if (name == c.name)
            {
                iMask |= c.bit;
                bKnown = true;
            }
        if (!bKnown)
            return false;
        start = end + 1;
    }
    return true;
}

// A wait handle that becomes signalled when a stop signal (SIGINT, SIGTERM, SIGHUP) arrives.
class CSignalHandle : public CWaitHandle
{
public:
    CSignalHandle()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
        SetHandle(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK), POLLIN);
    }
    ~CSignalHandle() override
    {
        if (m_hHandle >= 0)
            ::close(m_hHandle);
    }
};

// Receives the client's events; the messages are dispatched on the main thread.
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
    bool bConnected = false;

    bool OnMessagesPending() override
    {
        pending.Set();
        return true;
    }
    void OnReceiverStatus(uint32_t iId, uint32_t iState, const std::u16string& name) override
    {
        receivers.SetReceiverEntry(iId, iState, name);
        if (bWatchReceivers)
            PrintReceiver(iId, iState, name);
    }
    void OnLogUpdated() override
    {
        if (bFollowLog)
            FollowLog();
    }
    void OnConnected() override
    {
        bConnected = true;
        if (bWatchReceivers || bFollowLog)
            Note("connected");
        if (bFollowLog)
            FollowLog();
    }
    void OnDisconnected() override
    {
        bConnected = false;
        receivers.ClearReceivers();
        if (bWatchReceivers || bFollowLog)
            Note("disconnected; waiting for the service to come back");
    }

    void PrintReceiver(uint32_t iId, uint32_t iState, const std::u16string& name)
    {
        if (bJson)
            std::printf("{\"id\":%u,\"state\":%u,\"name\":%s}\n", iId, iState,
                        Json(Utf8(name)).c_str());
        else
            std::printf("%u\t%u\t%s\n", iId, iState, Utf8(name).c_str());
        std::fflush(stdout);
    }
    void Note(const char* what)
    {
        if (bJson)
            std::printf("{\"event\":%s}\n", Json(what).c_str());
        else
            std::fprintf(stderr, "zelbinctl: %s\n", what);
        std::fflush(stdout);
    }
    void FollowLog();
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
        // CR LF becomes LF in one pass; every other unit, NUL included, goes out as it is.
        std::u16string text;
        text.reserve(batch.size());
        for (size_t i = 0; i < batch.size(); ++i)
            if (batch[i] != u'\r' || i + 1 >= batch.size() || batch[i + 1] != u'\n')
                text += batch[i];
        m_iLength += batch.size();
        if (text.empty())
            return;
        if (m_control.bJson)
        {
            size_t start = 0;
            while (start < text.size())
            {
                const size_t end = std::min(text.find(u'\n', start), text.size());
                std::printf("{\"line\":%s}\n", Json(Utf8(text.substr(start, end - start))).c_str());
                start = end + 1;
            }
        }
        else
        {
            const std::string bytes = Utf8(text);
            std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        }
        std::fflush(stdout);
    }
    void ReplaceAll(const std::u16string& batch) override { Insert(batch); }

private:
    CControl& m_control;
    size_t m_iLength = 0;
};

void CControl::FollowLog()
{
    if (!pLogOut)
        return;
    if (pClient)
    {
        std::u16string path = logPath;
        if (pClient->GetLogFilePath(path))
            logPath = path;
    }
    if (!logPath.empty() && logPath != log.GetLogFilePath())
    {
        log.SetLogFile(logPath, *pLogOut);
        if (!log.IsLogFileOpen() && !log.GetError().empty())
            std::fprintf(stderr, "zelbinctl: %s\n", log.GetError().c_str());
    }
    else
        log.ReadNewLogData(*pLogOut);
}

// Dispatches the client's messages on this thread until the condition holds, the deadline
// passes or a stop signal arrives. Returns false on the signal.
bool Pump(CServiceClient& client, CControl& control, CSignalHandle& signals,
          const std::function<bool()>& done, int iTimeoutMs)
{
    const auto deadline = iTimeoutMs < 0 ? Clock::time_point::max()
                                         : Clock::now() + std::chrono::milliseconds(iTimeoutMs);
    CWaitHandle* handles[2] = {&signals, &control.pending};
    for (;;)
    {
        control.pending.Reset();
        client.ProcessMessages(-1);
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
        const int r = WaitForHandles(handles, 2, iWait);
        if (r == 0)
            return false;
    }
}

struct Options
{
    int iWaitMs = 3000;
    bool bJson = false;
    bool bTrace = false;
    std::vector<std::string> args;
};

bool TakeOption(std::vector<std::string>& args, const std::string& name, std::string& value)
{
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == name)
        {
            value = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i),
                       args.begin() + static_cast<long>(i) + 2);
            return true;
        }
    return false;
}

bool TakeFlag(std::vector<std::string>& args, const std::string& name)
{
    for (size_t i = 0; i < args.size(); ++i)
        if (args[i] == name)
        {
            args.erase(args.begin() + static_cast<long>(i));
            return true;
        }
    return false;
}

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "zelbinctl: %s\n%s", problem.c_str(), USAGE);
    return EXIT_USAGE;
}

int Templates(bool bJson)
{
    for (int i = 0; i < COMMAND_TEMPLATE_COUNT; ++i)
    {
        const std::string name = Utf8(g_commandTemplates[i].pszName);
        const std::string text = Utf8(g_commandTemplates[i].pszTemplate);
        if (bJson)
            std::printf("{\"index\":%d,\"name\":%s,\"template\":%s}\n", i, Json(name).c_str(),
                        Json(text).c_str());
        else
            std::printf("%d\t%s\t%s\n", i, name.c_str(), text.c_str());
    }
    return 0;
}

int Run(Options& o)
{
    std::vector<std::string>& args = o.args;
    if (args.empty())
        return Usage("no command");
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "templates")
        return Templates(o.bJson);

    // Parse everything before connecting, so a usage error costs no look-up.
    CControl control;
    control.bJson = o.bJson;
    std::vector<std::u16string> texts; // command texts to send, in order
    uint32_t iReceiver = 0;
    int32_t iLatencyMs = 0;
    PayloadTestRun payload; // its texts are built one at a time as they are sent
    bool bSetMask = false;
    uint32_t iNewMask = 0;
    if (command == "receivers")
        control.bWatchReceivers = TakeFlag(args, "--watch");
    else if (command == "log")
        control.bFollowLog = TakeFlag(args, "--follow");
    else if (command == "mask" && !args.empty())
    {
        if (args.size() != 2 || args[0] != "set" || !ParseMask(args[1], iNewMask))
            return Usage(
                "mask set takes a number or category names (debug,verbose,processed,raw or none)");
        bSetMask = true;
        args.clear();
    }
    else if (command == "send")
    {
        if (args.size() != 2)
            return Usage("send takes RECEIVER_ID and TEXT");
        if (!ParseWholeNumber(args[0], UINT32_MAX, iReceiver))
            return Usage("RECEIVER_ID must be a number from 0 to 4294967295, not \"" + args[0] +
                         "\"");
        texts.push_back(CleanCommandText(Wide(args[1])));
        args.clear();
    }
    else if (command == "payload-test")
    {
        PayloadTestSettings settings;
        std::string v;
        if (TakeOption(args, "--type", v))
        {
            settings.iQuestionType = -1;
            for (int i = 0; i < QUESTION_TYPE_COUNT; ++i)
                if (Wide(v) == g_questionTypes[i].pszName || v == std::to_string(i))
                    settings.iQuestionType = i;
            if (settings.iQuestionType < 0)
                return Usage("unknown question type \"" + v + "\"");
            settings.response = g_questionTypes[settings.iQuestionType].pszResponsePreset;
        }
        if (TakeOption(args, "--total", v))
            settings.totalQuestions = Wide(v);
        if (TakeOption(args, "--response", v))
            settings.response = Wide(v);
        if (TakeOption(args, "--latency", v))
            settings.latency = Wide(v);
        if (TakeOption(args, "--window", v))
            settings.classResponseWindow = Wide(v);
        if (args.size() != 1)
            return Usage("payload-test takes RECEIVER_ID and options");
        if (!ParseWholeNumber(args[0], UINT32_MAX, iReceiver))
            return Usage("RECEIVER_ID must be a number from 0 to 4294967295, not \"" + args[0] +
                         "\"");
        payload = BuildPayloadTest(settings);
        iLatencyMs = std::max(0, payload.iLatencyMs);
        args.clear();
    }
    else if (command == "login-requirement")
    {
        std::string login, team;
        if (!TakeOption(args, "--login", login) || !TakeOption(args, "--team", team) ||
            (login != "on" && login != "off") || (team != "on" && team != "off"))
            return Usage("login-requirement takes --login on|off --team on|off");
        texts.push_back(LoginRequirementText(team == "on", login == "on"));
    }
    else if (command == "sample-quiz")
    {
        if (args.size() != 1)
            return Usage("sample-quiz takes COUNT");
        uint32_t iCount = 0;
        if (!ParseWholeNumber(args[0], UINT32_MAX, iCount))
            return Usage("COUNT must be a number from 0 to 4294967295, not \"" + args[0] + "\"");
        texts.push_back(SampleQuizText(iCount));
        args.clear();
    }
    else if (command == "network-name")
    {
        if (args.size() != 1)
            return Usage("network-name takes NAME");
        texts.push_back(NetworkNameText(Wide(args[0]).substr(0, NETWORK_NAME_LENGTH)));
        args.clear();
    }
    else if (command != "status" && command != "mask" && command != "clear-log")
        return Usage("unknown command \"" + command + "\"");
    if (!args.empty())
        return Usage("unexpected \"" + args[0] + "\"");

    CStdoutLog logOut(control);
    control.pLogOut = &logOut;
    CSignalHandle signals;
    // The look-up runs beside the wait below, so --wait bounds the whole search.
    CServiceClient client(CServiceClient::EStart::Background);
    control.pClient = &client;
    client.SetEventSink(&control);
    control.bConnected = client.IsConnected();
    if (!Pump(
            client, control, signals, [&] { return client.IsConnected(); }, o.iWaitMs))
        return 0;
    control.bConnected = client.IsConnected();

    if (command == "status")
    {
        const bool bConnected = client.IsConnected();
        const uint32_t iMask = bConnected ? client.GetLogMask() : 0;
        std::u16string path;
        if (bConnected)
            client.GetLogFilePath(path);
        if (o.bJson)
            std::printf(
                "{\"connected\":%s,\"log-mask\":%u,\"log-mask-names\":%s,\"log-file\":%s}\n",
                bConnected ? "true" : "false", iMask, Json(MaskNames(iMask)).c_str(),
                Json(Utf8(path)).c_str());
        else
            std::printf("connected: %s\nlog-mask: 0x%02x (%s)\nlog-file: %s\n",
                        bConnected ? "yes" : "no", iMask, MaskNames(iMask).c_str(),
                        Utf8(path).c_str());
        return bConnected ? 0 : EXIT_NOT_FOUND;
    }
    const bool bWatching = control.bWatchReceivers || control.bFollowLog;
    if (!client.IsConnected() && !bWatching)
    {
        std::fprintf(stderr, "zelbinctl: the receiver service was not found within %d ms\n",
                     o.iWaitMs);
        return EXIT_NOT_FOUND;
    }

    if (command == "receivers")
    {
        // The service sends its list right after our registration, before it answers anything
        // we ask later: once a request is answered, the list is in our queue.
        client.GetLogMask();
        client.ProcessMessages(-1);
        if (!control.bWatchReceivers)
        {
            for (const ReceiverItem& item : control.receivers.GetItems())
            {
                const ReceiverEntry* pEntry = control.receivers.FindEntry(item.iData);
                control.PrintReceiver(item.iData, pEntry ? pEntry->iState : 0, item.text);
            }
            return 0;
        }
        Pump(
            client, control, signals, [] { return false; }, -1);
        return 0;
    }
    if (command == "log")
    {
        control.FollowLog();
        if (control.bFollowLog)
            Pump(
                client, control, signals, [] { return false; }, -1);
        return 0;
    }
    if (command == "mask")
    {
        if (bSetMask)
            client.SetLogMask(iNewMask);
        const uint32_t iMask = bSetMask ? iNewMask : client.GetLogMask();
        if (o.bJson)
            std::printf("{\"log-mask\":%u,\"log-mask-names\":%s}\n", iMask,
                        Json(MaskNames(iMask)).c_str());
        else
            std::printf("0x%02x (%s)\n", iMask, MaskNames(iMask).c_str());
        return 0;
    }
    if (command == "clear-log")
    {
        client.ClearLog();
        return 0;
    }
    // The command texts: sent in order, each printed as it goes, with the pause after each.
    const bool bPayload = command == "payload-test";
    const int64_t iCount =
        bPayload ? std::max(payload.iTotal, 0) : static_cast<int64_t>(texts.size());
    for (int64_t i = 0; i < iCount; ++i)
    {
        const std::u16string text =
            bPayload ? payload.Text(static_cast<int32_t>(i + 1)) : texts[static_cast<size_t>(i)];
        client.SendReceiverCommand(iReceiver, text);
        if (o.bJson)
            std::printf("{\"receiver\":%u,\"sent\":%s}\n", iReceiver, Json(Utf8(text)).c_str());
        else
            std::printf("%s\n", Utf8(text).c_str());
        std::fflush(stdout);
        if (bPayload && iLatencyMs > 0)
        {
            CWaitHandle* handles[1] = {&signals};
            if (WaitForHandles(handles, 1, iLatencyMs) == 0)
                break;
        }
    }
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string v;
    if (TakeFlag(args, "--help") || TakeFlag(args, "-h"))
    {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (TakeOption(args, "--wait", v))
        if (!ParseWholeNumber(v, INT32_MAX, o.iWaitMs))
        {
            std::fprintf(stderr, "zelbinctl: --wait must be a number of milliseconds, not \"%s\"\n",
                         v.c_str());
            return EXIT_USAGE;
        }
    o.bJson = TakeFlag(args, "--json");
    o.bTrace = TakeFlag(args, "--trace");
    if (o.bTrace)
        SetTraceSink(
            [](const char* pszLine)
            {
                std::fputs(pszLine, stderr);
                const size_t n = std::strlen(pszLine);
                if (n == 0 || pszLine[n - 1] != '\n')
                    std::fputc('\n', stderr);
            });
    o.args = std::move(args);
    return Run(o);
}
