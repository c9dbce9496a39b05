// SPDX-License-Identifier: MIT
// What zelbinctl writes: the service's wide texts as UTF-8, plain text with its control
// characters escaped, JSON lines, and standard output written so that a stop signal is never
// kept waiting by a reader that does not read.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

class CWaitHandle;

// A command-line argument as a wide text (UTF-8, or the system's narrow encoding when it is not).
std::u16string Wide(const std::string& text);

// A text as plain output shows it: control characters (C0, DEL and C1) as C escapes (\t, \n,
// \r, \x1b, \x7f, \u009b), as systemctl writes what it did not write itself. A receiver's name
// then cannot clear the screen, retitle the terminal or start a line of its own. A backslash
// stays as it is, so that a Windows path reads as one; --json is the form that reads back
// exactly.
std::string Escaped(std::string_view utf8);

// zelbinctl's standard output. Every write first looks at the stop signal, and a write to a pipe,
// a terminal or a socket waits for room only as long as no stop signal comes: false when one came
// or the reader went away, and nothing more is written from then on.
class CStandardOutput
{
public:
    static void SetStopSignal(CWaitHandle* pStop);
    static bool Write(std::string_view bytes);
    // One JSON object a line, its keys in the order given; texts are valid UTF-8 by then.
    static bool WriteJson(const nlohmann::ordered_json& object);
    // False once a write failed: what was asked for was not all written (the stop signal, which
    // stays pending for its owner, or a reader that went away).
    static bool IsGood();
};

// The system's side of CStandardOutput: writes all bytes to standard output unless the stop
// signal comes first (pStop may be null).
enum class EWriteResult
{
    Written,
    Stopped,
    Failed,
};
EWriteResult WriteStandardOutput(std::string_view bytes, CWaitHandle* pStop);
