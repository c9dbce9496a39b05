// SPDX-License-Identifier: MIT
// The service programs' command line: whatever the install folder is called, the program finds
// its own path as one word and the switch as the next.

#include "commandline.h"
#include "servicecontrol.h"
#include "standin.h"

#include <gtest/gtest.h>

namespace
{
TEST(ServiceCommandLine, AnyFolderNameSurvivesTheQuoting)
{
    const struct
    {
        std::string path;
        std::string line;
    } cases[] = {
        {"/opt/zelbin/x.exe", "\"/opt/zelbin/x.exe\" -start"},
        {"/a b/x.exe", "\"/a b/x.exe\" -start"},
        {"/say \"hi\"/x.exe", "\"/say \\\"hi\\\"/x.exe\" -start"},
        {"/end\\", "\"/end\\\\\" -start"},
        {"/back\\\"quote", "\"/back\\\\\\\"quote\" -start"},
        {"/plain\\back", "\"/plain\\back\" -start"},
        {"/tab\there %x% $HOME", "\"/tab\there %x% $HOME\" -start"},
    };
    for (const auto& c : cases)
    {
        const std::string line = ServiceCommandLine(c.path, "-start");
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(SplitCommandLine(line), (std::vector<std::string>{c.path, "-start"})) << line;
    }
}
// The window runs the service programs from wherever they were installed: the system splits the
// quoted command line back (CreateProcessW on Windows), and the program, copied into a folder
// whose name needs quoting and is not ASCII, starts and stops.
TEST(ServiceCommands, RunAProgramFromAFolderOfAnyName)
{
    namespace fs = std::filesystem;
    using namespace std::chrono_literals;
    CTempDir runtime;
    SetEnvironment(RUNTIME_VARIABLE, runtime.Path());
    CTempDir install;
    const fs::path folder = fs::path(install.Path()) / fs::path(u8"Zelbin K\u00fcche %x% $HOME");
    fs::create_directories(folder);
    fs::copy_file(ProgramPath(HARDWARE_SERVICE_PROGRAM), folder / HARDWARE_SERVICE_PROGRAM);
    const std::u8string program = (folder / HARDWARE_SERVICE_PROGRAM).u8string();
    const std::string path(program.begin(), program.end());
    const std::string pidFile = runtime / "zelbin/VostraHardwareService.pid";

    ASSERT_TRUE(RunServiceCommand(path, "-start"));
    ASSERT_TRUE(WaitUntil([&] { return !ReadFile(pidFile).empty(); }, 20s));
    const int pid = std::stoi(ReadFile(pidFile));
    EXPECT_FALSE(ProcessHasEnded(pid));
    ASSERT_TRUE(RunServiceCommand(path, "-stop"));
    EXPECT_TRUE(WaitUntil([&] { return ProcessHasEnded(pid); }, 20s));
}
} // namespace
