// SPDX-License-Identifier: MIT
// Command lines built from words and read back into words by the rules that programs use to
// split theirs, so that any path (blanks, quotes, backslashes and all) reaches a program whole:
// the launcher's, the Windows daemon's and the service registration's command lines.
#pragma once

#include <string>
#include <vector>

// One word of a command line, quoted so that a program's start-up code reads it back as it was.
std::string QuotedArgument(const std::string& word);
// The words a program finds in a command line.
std::vector<std::string> SplitCommandLine(const std::string& line);
