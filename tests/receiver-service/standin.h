// SPDX-License-Identifier: MIT
// The stand-in receiver service as a real process, for end-to-end tests: started in the
// foreground with its log in a private temporary directory and driven through its standard input.
#pragma once

#include "childprocess.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>

// Where the service programs keep their runtime directory.
#if defined(_WIN32)
inline constexpr const char* RUNTIME_VARIABLE = "LOCALAPPDATA";
#else
inline constexpr const char* RUNTIME_VARIABLE = "XDG_RUNTIME_DIR";
#endif

inline std::string ProgramPath(const std::string& name)
{
    return std::string(ZELBIN_BIN_DIR) + "/" + name;
}

// zelbinctl with these arguments.
inline std::vector<std::string> Ctl(std::vector<std::string> args)
{
    args.insert(args.begin(), ProgramPath("zelbinctl"));
    return args;
}

struct RunResult
{
    int status;
    std::string out;
};

// Runs zelbinctl to its end; with bWithErrors its standard error is in out as well.
inline RunResult RunCtl(const std::vector<std::string>& args, bool bWithErrors = false)
{
    RunResult r;
    r.status = RunProgram(Ctl(args), &r.out, std::chrono::seconds(30), bWithErrors);
    return r;
}

// A directory of its own for each test, removed afterwards.
class CTempDir
{
public:
    CTempDir()
    {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        std::error_code error;
        do
            m_path = (base / ("zelbin-test-" + std::to_string(random()))).string();
        while (!std::filesystem::create_directory(m_path, error) && !error);
    }
    ~CTempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

class CStandIn
{
public:
    // With bMergeErrors its standard error goes to Output() as well.
    explicit CStandIn(const std::vector<std::string>& extra = {}, const std::string& logPath = "",
                      bool bMergeErrors = false)
        : m_logPath(logPath.empty() ? m_dir / "service.log" : logPath)
    {
        std::vector<std::string> argv = {ProgramPath("VostraHardwareService.exe"), "--foreground",
                                         "--log-file", m_logPath};
        argv.insert(argv.end(), extra.begin(), extra.end());
        m_pProcess = std::make_unique<CChildProcess>(argv, bMergeErrors);
        if (m_pProcess->WaitForOutput("listening on 127.0.0.1:"))
        {
            const std::string out = m_pProcess->Output();
            m_iPort = static_cast<uint16_t>(std::stoi(out.substr(out.find("127.0.0.1:") + 10)));
        }
    }
    ~CStandIn() { Stop(); }

    uint16_t Port() const { return m_iPort; }
    const std::string& LogPath() const { return m_logPath; }
    std::string Log() const { return ReadFile(m_logPath); }
    bool LogContains(const std::string& text)
    {
        return WaitUntil([&] { return Log().find(text) != std::string::npos; });
    }
    // Sends one control line and waits until the service answered it.
    std::string Control(const std::string& line)
    {
        const size_t before = m_pProcess->Output().size();
        m_pProcess->Write(line + "\n");
        WaitUntil(
            [&] {
                return m_pProcess->Output().size() > before && m_pProcess->Output().back() == '\n';
            });
        return m_pProcess->Output().substr(before);
    }
    // Ends the service with the given signal and waits for it; its exit status.
    int Stop(int signal = SIGTERM)
    {
        if (!m_pProcess)
            return -1;
        m_pProcess->Kill(signal);
        const int status = m_pProcess->Wait();
        m_pProcess.reset();
        return status;
    }
    CChildProcess& Process() { return *m_pProcess; }
    // Command texts received for one target ("receiver 7", "all receivers"), in log order.
    std::vector<std::string> ReceivedCommands(const std::string& target) const
    {
        std::vector<std::string> texts;
        std::istringstream log(Log());
        std::string line;
        const std::string marker = " RAW To " + target + ": ";
        while (std::getline(log, line))
        {
            const size_t at = line.find(marker);
            if (at == std::string::npos)
                continue;
            std::string text = line.substr(at + marker.size());
            if (!text.empty() && text.back() == '\r')
                text.pop_back();
            texts.push_back(text);
        }
        return texts;
    }

private:
    CTempDir m_dir;
    std::string m_logPath;
    std::unique_ptr<CChildProcess> m_pProcess;
    uint16_t m_iPort = 0;
};
