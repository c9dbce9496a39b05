// SPDX-License-Identifier: MIT
// zelbinctl's command line: the one definition of its commands and options (CLI11), from which
// the help text and the shell's completions are made, and the checks of every number and name
// it takes, all made before anything connects.
#pragma once

#include "commandtext.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// What the command line asks for, checked.
struct Request
{
    std::string command;
    int iWaitMs = 3000;
    bool bJson = false;
    bool bTrace = false;
    bool bWatch = false;
    bool bFollow = false;
    bool bSetMask = false;
    uint32_t iMask = 0;
    uint32_t iReceiver = 0;
    std::u16string text; // send: the text as typed; network-name: the name
    uint32_t iCount = 0;
    bool bLogin = false;
    bool bTeam = false;
    PayloadTestSettings payload;
    std::string listenHost;
    int iListenPort = -1; // -1: no --listen
    std::string textfile;
    int iIntervalMs = 1000;
};

// The names of the log categories in a mask, "none" for none: "raw,debug".
std::string MaskNames(uint32_t iMask);

class CCommandLine
{
public:
    CCommandLine();

    // False, with the problem in a sentence that names the option, on a usage error.
    bool Parse(int argc, char** argv, Request& request, std::string& problem);
    std::string Help() const;
    // The words that may come next after these (the words typed behind the program's name).
    std::vector<std::string> Complete(const std::vector<std::string>& words) const;

private:
    // The options and arguments as typed, before their checks.
    struct STyped
    {
        std::optional<std::string> wait, type, total, response, latency, window, listen, textfile;
        std::string mask, receiver, text, count, name, login, team, interval = "1000";
    };
    bool Check(const STyped& typed, Request& request, std::string& problem) const;
    bool CheckPayloadTest(const STyped& typed, PayloadTestSettings& settings,
                          std::string& problem) const;
    bool CheckMetrics(const STyped& typed, Request& request, std::string& problem) const;

    CLI::App m_app{"", "zelbinctl"};
    STyped m_typed;
    Request m_request;
    bool m_bHelp = false;
    // The values an option or argument takes, where they are a known few.
    std::map<const CLI::Option*, std::vector<std::string>> m_choices;
};
