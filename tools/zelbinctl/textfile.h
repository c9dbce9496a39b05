// SPDX-License-Identifier: MIT
// The figures' text file for node_exporter's textfile collector. It is replaced whole, never
// written in place: the collector never reads half a file, and nothing already standing at a
// name zelbinctl writes (a link, a FIFO) is followed.
#pragma once

#include <string>

// Empty when the path may be written (a regular file, or nothing yet); otherwise why not.
std::string CheckTextFileTarget(const std::string& path);

// Writes the text to a new file beside the target, created exclusively under an unpredictable
// name, readable by all (the collector runs as another user), and renames it over the target.
// Empty when done; otherwise the reason, and nothing is left behind.
std::string WriteTextFileAtomically(const std::string& path, const std::string& text);
