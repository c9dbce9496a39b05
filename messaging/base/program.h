// SPDX-License-Identifier: MIT
// What each program of the system (the service programs, zelbinctl) does first, so that it
// behaves alike everywhere: its arguments in UTF-8 (Windows hands a program's main its arguments
// in the ANSI code page; they are taken again from the wide command line), output lines that end
// in LF and reach a console as UTF-8, and a reader of its output that went away does not end it
// (POSIX's SIGPIPE).
#pragma once

#include <string>

// Replaces argv, where needed, with UTF-8 arguments that live as long as the program.
void SetUpProgram(int& argc, char**& argv);

// The running executable's own path in UTF-8; empty when the system cannot tell it (a caller
// that needs it says so rather than guessing from argv[0], which may name another file).
std::string GetModulePath();
// Its directory, with the trailing separator; empty when the path is unknown.
std::string GetModuleDirectory();
