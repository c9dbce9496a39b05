// SPDX-License-Identifier: MIT
// Numbers typed by a person (command lines, control commands) and the hexadecimal fields of
// command texts: read whole and range-checked, never wrapped or cut short, so that "7x", "-1" or
// "70000" for a port is an error, not a value.
#pragma once

#include <cstdint>
#include <string_view>

enum class EDigits
{
    Read,      // the value is in iOut
    NotDigits, // empty, or a character that is no digit of the base
    TooLarge,  // digits only, but above iMax
};

// The one reading of digits in the tree: decimal (iBase 10) or hexadecimal in either case
// (iBase 16), nothing before or after (no sign, blank or prefix). iOut is set only when the
// result is EDigits::Read. Works on narrow and wide text alike.
template <typename Char>
EDigits ReadDigits(std::basic_string_view<Char> text, unsigned iBase, uint64_t iMax, uint64_t& iOut)
{
    if (text.empty())
        return EDigits::NotDigits;
    uint64_t v = 0;
    bool bTooLarge = false;
    for (const Char c : text)
    {
        unsigned d = 0;
        if (c >= Char('0') && c <= Char('9'))
            d = static_cast<unsigned>(c - Char('0'));
        else if (iBase == 16 && c >= Char('a') && c <= Char('f'))
            d = static_cast<unsigned>(c - Char('a') + 10);
        else if (iBase == 16 && c >= Char('A') && c <= Char('F'))
            d = static_cast<unsigned>(c - Char('A') + 10);
        else
            return EDigits::NotDigits; // a stray character counts before the size
        if (d > iMax || v > (iMax - d) / iBase)
            bTooLarge = true;
        else
            v = v * iBase + d;
    }
    if (bTooLarge)
        return EDigits::TooLarge;
    iOut = v;
    return EDigits::Read;
}

// Decimal digits, or "0x" and hexadecimal digits; nothing before or after. False for anything
// else and for a value above iMax (iOut is then left as it was).
bool ParseWholeNumber(std::string_view text, uint64_t iMax, uint64_t& iOut);

// The same, into a narrower type.
template <typename T> bool ParseWholeNumber(std::string_view text, uint64_t iMax, T& out)
{
    uint64_t v = 0;
    if (!ParseWholeNumber(text, iMax, v))
        return false;
    out = static_cast<T>(v);
    return true;
}
