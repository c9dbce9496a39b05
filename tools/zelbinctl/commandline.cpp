// SPDX-License-Identifier: MIT
// zelbinctl's command line through CLI11, its help and completions made from the same
// definition, and the checks of what was typed.

#include "commandline.h"
#include "catalogue.h"
#include "numbers.h"
#include "output.h"
#include "textfile.h"
#include "wire.h"

#include <algorithm>

namespace
{
struct LogCategory
{
    const char* name;
    uint32_t bit;
};
const LogCategory CATEGORIES[] = {
    {"verbose", LOG_VERBOSE}, {"processed", LOG_PROCESSED}, {"raw", LOG_RAW}, {"debug", LOG_DEBUG}};

bool ParseMask(const std::string& text, uint32_t& iMask)
{
    if (text.empty())
        return false;
    if (std::isdigit(static_cast<unsigned char>(text[0])))
        return ParseWholeNumber(text, UINT32_MAX, iMask);
    iMask = 0;
    if (text == "none")
        return true;
    size_t start = 0;
    while (start <= text.size())
    {
        const size_t end = std::min(text.find(',', start), text.size());
        const std::string name = text.substr(start, end - start);
        const auto known = std::find_if(std::begin(CATEGORIES), std::end(CATEGORIES),
                                        [&](const LogCategory& c) { return name == c.name; });
        if (known == std::end(CATEGORIES))
            return false;
        iMask |= known->bit;
        start = end + 1;
    }
    return true;
}

// A whole number from iMin to iMax, or the sentence that says what the option takes.
template <typename T>
bool Number(const std::string& typed, const char* pszWhat, const char* pszUnit, uint64_t iMin,
            uint64_t iMax, T& out, std::string& problem)
{
    uint64_t v = 0;
    if (ParseWholeNumber(typed, iMax, v) && v >= iMin)
    {
        out = static_cast<T>(v);
        return true;
    }
    problem = std::string(pszWhat) + " must be a number " + pszUnit + "from " +
              std::to_string(iMin) + " to " + std::to_string(iMax) + ", not \"" + Escaped(typed) +
              "\"";
    return false;
}

// A help row: the signature, then its description from column 31 (on lines of its own when the
// signature is longer); continuation lines of both are indented.
void AddRow(std::string& out, const std::string& signature, const std::string& description)
{
    constexpr size_t COLUMN = 31;
    constexpr size_t WIDTH = 78;
    std::string line = "  ";
    const size_t indent = 2 + signature.find(' ') + 1; // under the first argument
    size_t start = 0;
    while (start < signature.size())
    {
        // Words of a signature stay whole: "[--total N]" is one.
        const size_t end = std::min(signature.find(" [", start + 1), signature.size());
        const std::string word = signature.substr(start, end - start);
        if (line.size() + word.size() > WIDTH && line.size() > indent)
        {
            out += line + "\n";
            line = std::string(indent - 1, ' ');
        }
        line += word;
        start = end;
    }
    size_t from = 0;
    for (bool bFirst = true; from <= description.size(); bFirst = false)
    {
        const size_t end = std::min(description.find('\n', from), description.size());
        if (!bFirst || line.size() + 1 > COLUMN)
        {
            out += line + "\n";
            line.clear();
        }
        line.resize(COLUMN, ' ');
        line += description.substr(from, end - from);
        from = end + 1;
    }
    out += line + "\n";
}

bool IsFlag(const CLI::Option* pOption)
{
    return pOption->get_expected_max() == 0;
}

std::string Signature(const CLI::App* pApp)
{
    std::string signature = pApp->get_name();
    for (const CLI::Option* pOption : pApp->get_options())
    {
        std::string item = pOption->get_name();
        if (pOption->get_positional())
        {
            signature += " " + item;
            continue;
        }
        if (!IsFlag(pOption))
            item += " " + pOption->get_type_name();
        signature += " " + (pOption->get_required() ? item : "[" + item + "]");
    }
    return signature;
}

void AddCommandRows(std::string& out, const CLI::App* pApp, const std::string& prefix)
{
    AddRow(out, prefix + Signature(pApp), pApp->get_description());
    for (const CLI::App* pSub : pApp->get_subcommands({}))
        AddCommandRows(out, pSub, prefix + pApp->get_name() + " ");
}

const CLI::App* FindSubcommand(const CLI::App* pApp, const std::string& name)
{
    for (const CLI::App* pSub : pApp->get_subcommands({}))
        if (pSub->get_name() == name)
            return pSub;
    return nullptr;
}
} // namespace

std::string MaskNames(uint32_t iMask)
{
    std::string names;
    for (const auto& c : CATEGORIES)
        if (iMask & c.bit)
            names.append(names.empty() ? "" : ",").append(c.name);
    return names.empty() ? "none" : names;
}

CCommandLine::CCommandLine()
{
    CLI::App& app = m_app;
    STyped& t = m_typed;
    Request& r = m_request;
    app.set_help_flag(); // the help is Help(), which main() prints for --help anywhere
    app.fallthrough();   // the options before the command may also follow it
    app.require_subcommand(1, 1);
    // A repeated option takes its last value, as getopt's programs do.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--wait", t.wait, "how long to wait for the connection (default 3000)")
        ->type_name("MS");
    app.add_flag("--json", r.bJson, "one JSON object per line instead of text");
    app.add_flag("--trace", r.bTrace,
                 "write the messaging library's trace lines to standard error");
    app.add_flag("--help", m_bHelp, "this text"); // listed; main() answers it

    app.add_subcommand("status", "connection, log mask and log file");
    app.add_subcommand("receivers", "the receivers: ID<TAB>STATE<TAB>NAME; --watch prints changes")
        ->add_flag("--watch", r.bWatch);
    app.add_subcommand("log", "the service's log file; --follow goes on as it grows")
        ->add_flag("--follow", r.bFollow);
    CLI::App* pMask = app.add_subcommand("mask", "the log mask")->require_subcommand(0, 1);
    std::vector<std::string>& masks =
        m_choices[pMask
                      ->add_subcommand("set", "set it: a number (0x18, 24) or names "
                                              "(debug,verbose,processed,raw;\nnone for 0)")
                      ->add_option("MASK", t.mask)
                      ->required()] = {"none"};
    for (const auto& c : CATEGORIES)
        masks.emplace_back(c.name);
    app.add_subcommand("clear-log", "clear the service's log");
    CLI::App* pSend =
        app.add_subcommand("send", "send a command text (every \"0x\", then every blank removed)");
    pSend->add_option("RECEIVER_ID", t.receiver)->required();
    pSend->add_option("TEXT", t.text)->required();
    app.add_subcommand("templates", "the command templates: index, name, template");
    CLI::App* pPayload =
        app.add_subcommand("payload-test", "run the question/response payload test");
    pPayload->add_option("RECEIVER_ID", t.receiver)->required();
    std::vector<std::string>& types =
        m_choices[pPayload->add_option("--type", t.type)->type_name("NAME|INDEX")];
    for (int i = 0; i < QUESTION_TYPE_COUNT; ++i)
        types.push_back(ToUtf8(g_questionTypes[i].pszName));
    for (int i = 0; i < QUESTION_TYPE_COUNT; ++i)
        types.push_back(std::to_string(i));
    pPayload->add_option("--total", t.total)->type_name("N");
    pPayload->add_option("--response", t.response)->type_name("TEXT");
    pPayload->add_option("--latency", t.latency)->type_name("MS");
    pPayload->add_option("--window", t.window)->type_name("MS");
    CLI::App* pLogin =
        app.add_subcommand("login-requirement", "require a login, and teams, or not");
    for (auto [pszName, pTarget] : {std::pair{"--login", &t.login}, std::pair{"--team", &t.team}})
        m_choices[pLogin->add_option(pszName, *pTarget)->type_name("on|off")->required()] = {"on",
                                                                                             "off"};
    app.add_subcommand("sample-quiz", "send the sample quiz with this download count")
        ->add_option("COUNT", t.count)
        ->required();
    app.add_subcommand("network-name", "set the class network name (at most 8 characters)")
        ->add_option("NAME", t.name)
        ->required();
    CLI::App* pMetrics =
        app.add_subcommand("metrics", "the service's figures for Prometheus: served on\n"
                                      "http://HOST:PORT/metrics (no HOST: every address of\n"
                                      "this machine), or written to PATH (atomically) every\n"
                                      "MS milliseconds (default 1000)");
    CLI::Option* pListen = pMetrics->add_option("--listen", t.listen)->type_name("HOST:PORT");
    pMetrics->add_option("--textfile", t.textfile)->type_name("PATH")->excludes(pListen);
    pMetrics->add_option("--interval", t.interval)->type_name("MS");
}

bool CCommandLine::Parse(int argc, char** argv, Request& request, std::string& problem)
{
    try
    {
        m_app.parse(argc, argv);
    }
    catch (const CLI::ParseError& error)
    {
        problem = error.what();
        // A word where a command goes that is none of them: say which.
        const std::vector<std::string> extras = m_app.remaining();
        if (m_app.get_subcommands().empty() && !extras.empty())
            problem = "unknown command \"" + Escaped(extras.front()) + "\"";
        return false;
    }
    Request r = m_request;
    r.command = m_app.get_subcommands().front()->get_name();
    r.bSetMask = m_app.get_subcommand("mask")->got_subcommand("set");
    if (!Check(m_typed, r, problem))
        return false;
    request = r;
    return true;
}

bool CCommandLine::Check(const STyped& t, Request& r, std::string& problem) const
{
    const std::string& c = r.command;
    const auto refuse = [&](const std::string& what, const std::string& typed)
    {
        problem = what + ", not \"" + Escaped(typed) + "\"";
        return false;
    };
    if (t.wait && !Number(*t.wait, "--wait", "of milliseconds ", 0, INT32_MAX, r.iWaitMs, problem))
        return false;
    if (r.bSetMask && !ParseMask(t.mask, r.iMask))
        return refuse("mask set takes a number or category names (debug,verbose,processed,raw or "
                      "none)",
                      t.mask);
    if ((c == "send" || c == "payload-test") &&
        !Number(t.receiver, "RECEIVER_ID", "", 0, UINT32_MAX, r.iReceiver, problem))
        return false;
    if (c == "send")
        r.text = Wide(t.text);
    if (c == "payload-test" && !CheckPayloadTest(t, r.payload, problem))
        return false;
    if (c == "login-requirement")
        for (const auto& [pTyped, pszOption, pOn] :
             {std::tuple{&t.login, "--login", &r.bLogin}, std::tuple{&t.team, "--team", &r.bTeam}})
        {
            if (*pTyped != "on" && *pTyped != "off")
                return refuse(std::string(pszOption) + " must be on or off", *pTyped);
            *pOn = *pTyped == "on";
        }
    if (c == "sample-quiz" && !Number(t.count, "COUNT", "", 0, UINT32_MAX, r.iCount, problem))
        return false;
    if (c == "network-name")
    {
        r.text = Wide(t.name);
        if (r.text.size() > NETWORK_NAME_LENGTH)
            return refuse("NAME must have at most 8 characters", t.name);
    }
    if (c == "metrics")
        return CheckMetrics(t, r, problem);
    return true;
}

bool CCommandLine::CheckPayloadTest(const STyped& t, PayloadTestSettings& p,
                                    std::string& problem) const
{
    if (t.type)
    {
        p.iQuestionType = -1;
        for (int i = 0; i < QUESTION_TYPE_COUNT; ++i)
            if (Wide(*t.type) == g_questionTypes[i].pszName || *t.type == std::to_string(i))
                p.iQuestionType = i;
        if (p.iQuestionType < 0)
        {
            problem = "--type must be a question type's name or its index from 0 to 6, not \"" +
                      Escaped(*t.type) + "\"";
            return false;
        }
        p.response = g_questionTypes[p.iQuestionType].pszResponsePreset;
    }
    if (t.response)
        p.response = Wide(*t.response);
    // The builder reads these as the dialog's fields: checked here, they reach it as the numbers
    // they are. A class response window is two bytes on the wire.
    const struct
    {
        const std::optional<std::string>& typed;
        const char* pszOption;
        const char* pszUnit;
        uint64_t iMin, iMax;
        std::u16string& setting;
    } numbers[] = {{t.total, "--total", "", 1, INT32_MAX, p.totalQuestions},
                   {t.latency, "--latency", "of milliseconds ", 0, INT32_MAX, p.latency},
                   {t.window, "--window", "of milliseconds ", 0, 65535, p.classResponseWindow}};
    for (const auto& n : numbers)
    {
        uint64_t v = 0;
        if (n.typed && !Number(*n.typed, n.pszOption, n.pszUnit, n.iMin, n.iMax, v, problem))
            return false;
        if (n.typed)
            n.setting = Wide(std::to_string(v));
    }
    return true;
}

bool CCommandLine::CheckMetrics(const STyped& t, Request& r, std::string& problem) const
{
    if (!Number(t.interval, "--interval", "of milliseconds ", 1, INT32_MAX, r.iIntervalMs, problem))
        return false;
    if (t.listen.has_value() == t.textfile.has_value())
    {
        problem = "metrics takes --listen HOST:PORT or --textfile PATH";
        return false;
    }
    if (t.listen)
    {
        const size_t colon = t.listen->rfind(':');
        if (colon == std::string::npos ||
            !ParseWholeNumber(t.listen->substr(colon + 1), 65535, r.iListenPort))
        {
            problem = "--listen takes HOST:PORT (PORT from 0 to 65535), not \"" +
                      Escaped(*t.listen) + "\"";
            return false;
        }
        r.listenHost = t.listen->substr(0, colon);
    }
    if (t.textfile)
    {
        r.textfile = *t.textfile;
        problem = t.textfile->empty() ? "--textfile takes a PATH" : CheckTextFileTarget(r.textfile);
        if (!problem.empty())
            return false;
    }
    return true;
}

std::string CCommandLine::Help() const
{
    std::string usage = "Usage: zelbinctl";
    std::string options;
    for (const CLI::Option* pOption : m_app.get_options())
    {
        std::string item = pOption->get_name();
        if (!IsFlag(pOption))
            item += " " + pOption->get_type_name();
        if (item != "--help")
            usage += " [" + item + "]";
        item.resize(std::max<size_t>(item.size() + 1, 13), ' ');
        options += "  " + item + pOption->get_description() + "\n";
    }
    std::string out = usage + " COMMAND [ARGUMENTS]\n"
                              "Talks to the local receiver service, as the Zelbin window does.\n\n"
                              "Commands:\n";
    for (const CLI::App* pCommand : m_app.get_subcommands({}))
        AddCommandRows(out, pCommand, "");
    return out + "\nOptions:\n" + options +
           "\nA stop signal (Ctrl+C, SIGTERM) ends receivers --watch, log --follow and metrics\n"
           "with status 0, any other command before its end with 1.\n"
           "Exit status: 0 done, 1 failed (a log file that cannot be read, a text file that\n"
           "cannot be written, output that cannot be written), 2 usage error, 3 the service was\n"
           "not found within --wait, 4 no answer from the service (it stopped answering, or the\n"
           "connection was lost).\n";
}

std::vector<std::string> CCommandLine::Complete(const std::vector<std::string>& words) const
{
    const CLI::App* pApp = &m_app;
    const CLI::Option* pValueOf = nullptr; // the option whose value comes next
    size_t iPositionals = 0;
    for (const std::string& word : words)
    {
        if (pValueOf)
        {
            pValueOf = nullptr;
            continue;
        }
        // A command's own options, and the global ones wherever they stand.
        const CLI::Option* pOption = nullptr;
        for (const CLI::App* p = pApp; p && !pOption; p = p->get_parent())
            pOption = const_cast<CLI::App*>(p)->get_option_no_throw(word);
        if (pOption && !pOption->get_positional())
        {
            pValueOf = IsFlag(pOption) ? nullptr : pOption;
            continue;
        }
        if (const CLI::App* pSub = FindSubcommand(pApp, word))
        {
            pApp = pSub;
            iPositionals = 0;
        }
        else
            ++iPositionals;
    }
    std::vector<std::string> next;
    const auto choices = [&](const CLI::Option* pOption)
    {
        const auto found = m_choices.find(pOption);
        if (found != m_choices.end())
            next.insert(next.end(), found->second.begin(), found->second.end());
    };
    if (pValueOf)
    {
        choices(pValueOf);
        return next;
    }
    // The values of the next argument, where they are a known few; else what may follow.
    size_t iPositional = 0;
    for (const CLI::Option* pOption : pApp->get_options())
        if (pOption->get_positional() && iPositional++ == iPositionals)
            choices(pOption);
    if (!next.empty())
        return next;
    for (const CLI::App* pSub : pApp->get_subcommands({}))
        next.push_back(pSub->get_name());
    for (const CLI::Option* pOption : pApp->get_options())
        if (!pOption->get_positional())
            next.push_back(pOption->get_name());
    return next;
}
