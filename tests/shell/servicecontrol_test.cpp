// SPDX-License-Identifier: MIT
// The service programs' command line: whatever the install folder is called, the program finds
// its own path as one word and the switch as the next.

#include "commandline.h"
#include "servicecontrol.h"

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
} // namespace
