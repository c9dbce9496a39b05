// SPDX-License-Identifier: MIT
// Command-line words: quoting and splitting by the same rules.

#include "commandline.h"

// Quoted by the rules programs use to split their command line: a quote inside is escaped with
// a backslash, and backslashes are doubled where they come before a quote (an escaped one or the
// closing one). Any install folder, quotes and all, comes back as one argument.
std::string QuotedArgument(const std::string& word)
{
    std::string quoted = "\"";
    size_t iBackslashes = 0;
    for (const char c : word)
    {
        if (c == '\\')
        {
            ++iBackslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * iBackslashes + 1 : iBackslashes, '\\');
        iBackslashes = 0;
        quoted += c;
    }
    quoted.append(2 * iBackslashes, '\\');
    return quoted + "\"";
}

// The command line split as programs split theirs: blanks separate words outside quotes; 2n
// backslashes before a quote give n and the quote opens or closes, 2n + 1 give n and a quote;
// other backslashes stand for themselves.
std::vector<std::string> SplitCommandLine(const std::string& line)
{
    std::vector<std::string> argv;
    std::string word;
    bool bInWord = false;
    bool bQuoted = false;
    for (size_t i = 0; i < line.size(); ++i)
    {
        const char c = line[i];
        if (c == '\\')
        {
            size_t n = 0;
            while (i < line.size() && line[i] == '\\')
            {
                ++n;
                ++i;
            }
            bInWord = true;
            if (i < line.size() && line[i] == '"')
            {
                word.append(n / 2, '\\');
                if (n % 2)
                    word += '"';
                else
                    bQuoted = !bQuoted;
            }
            else
            {
                word.append(n, '\\');
                --i;
            }
        }
        else if (c == '"')
        {
            bQuoted = !bQuoted;
            bInWord = true;
        }
        else if (c == ' ' && !bQuoted)
        {
            if (bInWord)
                argv.push_back(word);
            word.clear();
            bInWord = false;
        }
        else
        {
            word += c;
            bInWord = true;
        }
    }
    if (bInWord)
        argv.push_back(word);
    return argv;
}
