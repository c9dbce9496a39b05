// SPDX-License-Identifier: MIT
// What each program of the system (the service programs, zelbinctl) does first, so that it
// behaves alike everywhere: its arguments in UTF-8 (Windows hands a program's main its arguments
// in the ANSI code page; they are taken again from the wide command line), output lines that end
// in LF and reach a console as UTF-8, and a reader of its output that went away does not end it
// (POSIX's SIGPIPE).
#pragma once

// Replaces argv, where needed, with UTF-8 arguments that live as long as the program.
void SetUpProgram(int& argc, char**& argv);
