// SPDX-License-Identifier: MIT
// zelbinctl: Zelbin's functions for scripts and for technicians without a display. It talks to
// the receiver service through the same service client, log reader, receivers bookkeeping and
// command-text builders as the window.

#include "catalogue.h"
#include "commandtext.h"
#include "logreader.h"
#include "metrics.h"
#include "metricsserver.h"
#include "numbers.h"
#include "program.h"
#include "receiverlist.h"
#include "serviceclient.h"
#include "stopsignal.h"
#include "trace.h"
#include "waithandle.h"
#include "wire.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
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
    "  network-name NAME            set the class network name (at most 8 characters)\n"
    "  metrics --listen HOST:PORT | --textfile PATH [--interval MS]\n"
    "                               the service's figures for Prometheus: served on\n"
    "                               http://HOST:PORT/metrics, or written to PATH (atomically)\n"
    "                               every MS milliseconds (default 1000)\n\n"
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

// One JSON object a line, its keys in the order given. Texts are valid UTF-8 by then (Utf8
// replaces what is not).
void PrintJson(const nlohmann::ordered_json& object)
{
    std::printf(
        "%s\n",
        object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
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
    CServiceMetrics* pMetrics = nullptr;
    bool bConnected = false;

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
        if (bFollowLog)
            FollowLog();
    }
    void OnConnected() override
    {
        bConnected = true;
        if (pMetrics)
            pMetrics->OnConnected();
        if (bWatchReceivers || bFollowLog)
            Note("connected");
        if (bFollowLog)
            FollowLog();
    }
    void OnDisconnected() override
    {
        bConnected = false;
        receivers.ClearReceivers();
        if (pMetrics)
            pMetrics->OnDisconnected();
        if (bWatchReceivers || bFollowLog)
            Note("disconnected; waiting for the service to come back");
    }

    void PrintReceiver(uint32_t iId, uint32_t iState, const std::u16string& name)
    {
        if (bJson)
            PrintJson({{"id", iId}, {"state", iState}, {"name", Utf8(name)}});
        else
            std::printf("%u\t%u\t%s\n", iId, iState, Utf8(name).c_str());
        std::fflush(stdout);
    }
    void Note(const char* what)
    {
        if (bJson)
            PrintJson({{"event", what}});
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
                PrintJson({{"line", Utf8(text.substr(start, end - start))}});
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
bool Pump(CServiceClient& client, CControl& control, CStopSignal& signals,
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
};

// What the command line asks for, as typed: the numbers and names are checked afterwards, each
// with a message of its own.
struct Request
{
    std::string command;
    bool bWatch = false;
    bool bFollow = false;
    bool bSetMask = false;
    std::string wait, mask, receiver, text, count, name, login, team;
    std::optional<std::string> type, total, response, latency, window;
    std::string listen, textfile, interval = "1000";
};

// The command line through CLI11; false, with the problem, on a usage error.
bool ParseCommandLine(int argc, char** argv, Options& o, Request& r, std::string& problem)
{
    CLI::App app("", "zelbinctl");
    app.set_help_flag(); // the help is zelbinctl's own text
    app.fallthrough();   // the options before the command may also follow it
    app.require_subcommand(1, 1);
    app.add_option("--wait", r.wait);
    app.add_flag("--json", o.bJson);
    app.add_flag("--trace", o.bTrace);
    for (const char* name : {"status", "clear-log", "templates"})
        app.add_subcommand(name);
    app.add_subcommand("receivers")->add_flag("--watch", r.bWatch);
    app.add_subcommand("log")->add_flag("--follow", r.bFollow);
    CLI::App* pMask = app.add_subcommand("mask")->require_subcommand(0, 1);
    pMask->add_subcommand("set")->add_option("MASK", r.mask)->required();
    CLI::App* pSend = app.add_subcommand("send");
    pSend->add_option("RECEIVER_ID", r.receiver)->required();
    pSend->add_option("TEXT", r.text)->required();
    CLI::App* pPayload = app.add_subcommand("payload-test");
    pPayload->add_option("RECEIVER_ID", r.receiver)->required();
    pPayload->add_option("--type", r.type);
    pPayload->add_option("--total", r.total);
    pPayload->add_option("--response", r.response);
    pPayload->add_option("--latency", r.latency);
    pPayload->add_option("--window", r.window);
    CLI::App* pLogin = app.add_subcommand("login-requirement");
    pLogin->add_option("--login", r.login)->required()->check(CLI::IsMember({"on", "off"}));
    pLogin->add_option("--team", r.team)->required()->check(CLI::IsMember({"on", "off"}));
    app.add_subcommand("sample-quiz")->add_option("COUNT", r.count)->required();
    app.add_subcommand("network-name")->add_option("NAME", r.name)->required();
    CLI::App* pMetrics = app.add_subcommand("metrics");
    CLI::Option* pListen = pMetrics->add_option("--listen", r.listen);
    pMetrics->add_option("--textfile", r.textfile)->excludes(pListen);
    pMetrics->add_option("--interval", r.interval);
    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::ParseError& error)
    {
        problem = error.what();
        // A word where a command goes that is none of them: say which.
        const std::vector<std::string> extras = app.remaining();
        if (app.get_subcommands().empty() && !extras.empty())
            problem = "unknown command \"" + extras.front() + "\"";
        return false;
    }
    r.command = app.get_subcommands().front()->get_name();
    r.bSetMask = pMask->got_subcommand("set");
    if (!r.wait.empty() && !ParseWholeNumber(r.wait, INT32_MAX, o.iWaitMs))
    {
        problem = "--wait must be a number of milliseconds, not \"" + r.wait + "\"";
        return false;
    }
    return true;
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
            PrintJson({{"index", i}, {"name", name}, {"template", text}});
        else
            std::printf("%d\t%s\t%s\n", i, name.c_str(), text.c_str());
    }
    return 0;
}

// Writes the text beside the file and renames it over it: node_exporter never reads half a file.
bool WriteAtomically(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".tmp";
    std::ofstream(temporary, std::ios::binary | std::ios::trunc) << text;
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

// zelbinctl metrics: follows the service (and waits for it while it is not there), keeping its
// figures; every interval it measures a GetLogMask round trip and the log file's size, and
// writes the text file when asked for one. A stop signal ends it.
int RunMetrics(const Request& r)
{
    int iIntervalMs = 0;
    if (!ParseWholeNumber(r.interval, INT32_MAX, iIntervalMs) || iIntervalMs == 0)
        return Usage("--interval must be a number of milliseconds above 0, not \"" + r.interval +
                     "\"");
    if (r.listen.empty() == r.textfile.empty())
        return Usage("metrics takes --listen HOST:PORT or --textfile PATH");
    const size_t colon = r.listen.rfind(':');
    int iPort = 0;
    if (!r.listen.empty() &&
        (colon == std::string::npos || !ParseWholeNumber(r.listen.substr(colon + 1), 65535, iPort)))
        return Usage("--listen takes HOST:PORT, not \"" + r.listen + "\"");

    CServiceMetrics metrics;
    CMetricsServer server;
    std::string problem;
    if (!r.listen.empty() &&
        !server.Start(
            r.listen.substr(0, colon), iPort, [&] { return metrics.Render(); }, &problem))
    {
        std::fprintf(stderr, "zelbinctl: %s\n", problem.c_str());
        return 1;
    }
    CControl control;
    control.pMetrics = &metrics;
    CStopSignal signals;
    CServiceClient client(CServiceClient::EStart::Background);
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
        const auto iBytes = bPath ? std::filesystem::file_size(Utf8(path), error) : 0;
        metrics.SetLogFileSize(bPath && !error ? static_cast<int64_t>(iBytes) : -1);
        if (!r.textfile.empty() && !WriteAtomically(r.textfile, metrics.Render()))
            std::fprintf(stderr, "zelbinctl: cannot write %s\n", r.textfile.c_str());
    } while (Pump(
        client, control, signals, [] { return false; }, iIntervalMs));
    return 0;
}

int Run(const Options& o, const Request& r)
{
    const std::string& command = r.command;
    if (command == "templates")
        return Templates(o.bJson);
    if (command == "metrics")
        return RunMetrics(r);

    // Checked before connecting, so a usage error costs no look-up.
    CControl control;
    control.bJson = o.bJson;
    control.bWatchReceivers = r.bWatch;
    control.bFollowLog = r.bFollow;
    std::vector<std::u16string> texts; // command texts to send, in order
    uint32_t iReceiver = 0;
    int32_t iLatencyMs = 0;
    PayloadTestRun payload; // its texts are built one at a time as they are sent
    uint32_t iNewMask = 0;
    if (r.bSetMask && !ParseMask(r.mask, iNewMask))
        return Usage(
            "mask set takes a number or category names (debug,verbose,processed,raw or none)");
    if ((command == "send" || command == "payload-test") &&
        !ParseWholeNumber(r.receiver, UINT32_MAX, iReceiver))
        return Usage("RECEIVER_ID must be a number from 0 to 4294967295, not \"" + r.receiver +
                     "\"");
    if (command == "send")
        texts.push_back(CleanCommandText(Wide(r.text)));
    else if (command == "payload-test")
    {
        PayloadTestSettings settings;
        if (r.type)
        {
            settings.iQuestionType = -1;
            for (int i = 0; i < QUESTION_TYPE_COUNT; ++i)
                if (Wide(*r.type) == g_questionTypes[i].pszName || *r.type == std::to_string(i))
                    settings.iQuestionType = i;
            if (settings.iQuestionType < 0)
                return Usage("unknown question type \"" + *r.type + "\"");
            settings.response = g_questionTypes[settings.iQuestionType].pszResponsePreset;
        }
        const std::pair<const std::optional<std::string>*, std::u16string*> fields[] = {
            {&r.total, &settings.totalQuestions},
            {&r.response, &settings.response},
            {&r.latency, &settings.latency},
            {&r.window, &settings.classResponseWindow}};
        for (const auto& [pTyped, pSetting] : fields)
            if (*pTyped)
                *pSetting = Wide(**pTyped);
        payload = BuildPayloadTest(settings);
        iLatencyMs = std::max(0, payload.iLatencyMs);
    }
    else if (command == "login-requirement")
        texts.push_back(LoginRequirementText(r.team == "on", r.login == "on"));
    else if (command == "sample-quiz")
    {
        uint32_t iCount = 0;
        if (!ParseWholeNumber(r.count, UINT32_MAX, iCount))
            return Usage("COUNT must be a number from 0 to 4294967295, not \"" + r.count + "\"");
        texts.push_back(SampleQuizText(iCount));
    }
    else if (command == "network-name")
        texts.push_back(NetworkNameText(Wide(r.name).substr(0, NETWORK_NAME_LENGTH)));
    // A built text that the service would refuse is refused here; a text typed whole for send
    // goes as typed, to see what the service makes of it.
    if (const std::string refused = command == "send" ? "" : CheckCommandTexts(texts, payload);
        !refused.empty())
        return Usage(refused);

    CStdoutLog logOut(control);
    control.pLogOut = &logOut;
    CStopSignal signals;
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
            PrintJson({{"connected", bConnected},
                       {"log-mask", iMask},
                       {"log-mask-names", MaskNames(iMask)},
                       {"log-file", Utf8(path)}});
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
        if (r.bSetMask)
            client.SetLogMask(iNewMask);
        const uint32_t iMask = r.bSetMask ? iNewMask : client.GetLogMask();
        if (o.bJson)
            PrintJson({{"log-mask", iMask}, {"log-mask-names", MaskNames(iMask)}});
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
            PrintJson({{"receiver", iReceiver}, {"sent", Utf8(text)}});
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
    // Binary output on Windows too: the log is printed exactly as the file holds it (CR LF).
    SetUpProgram(argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
        {
            std::fputs(USAGE, stdout);
            return 0;
        }
    Options o;
    Request r;
    std::string problem;
    if (!ParseCommandLine(argc, argv, o, r, problem))
        return Usage(problem);
    if (o.bTrace)
        SetTraceSink(
            [](const char* pszLine)
            {
                std::fputs(pszLine, stderr);
                const size_t n = std::strlen(pszLine);
                if (n == 0 || pszLine[n - 1] != '\n')
                    std::fputc('\n', stderr);
            });
    return Run(o, r);
}
